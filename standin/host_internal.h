// The stand-in host's own records, shared by its source files and by no one
// else: the scene's storage, the panel records behind the controls a module
// holds, and small helpers for rendering handles in the trace.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "standin/host.h"
#include "standin/key_store.h"
#include "standin/text.h"

namespace standin {

// Handles are serial numbers dressed as pointers: the module never looks inside
// them, and a number that the host never handed out simply is not found.
template <typename Handle>
Handle HandleFromSerial(std::uintptr_t serial) {
    return reinterpret_cast<Handle>(serial);
}

inline std::uintptr_t SerialOf(const void *handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

// The lookup function handed to modules, the same for every host.
host::GlobalFunc GlobalLookup();

// Every service call starts here: the current host, null when there is none,
// with the call traced. `renderArguments` runs only while the host traces.
template <typename RenderArguments>
Host *EnterService(const char *service, const char *operation, RenderArguments &&renderArguments) {
    Host *host = Host::Current();
    if (host != nullptr) host->Record(service, operation, renderArguments);
    return host;
}

// "null" or the handle's serial number, for trace arguments.
std::string RenderHandle(const void *handle);
// Module text (CP932 bytes, possibly null) as quoted UTF-8, for trace arguments.
std::string RenderText(const char *cp932);
// The shortest decimal form that reads back as the same double.
std::string RenderDouble(double value);

// Where a walk over a channel group or an envelope stands, so that the host can
// misbehave on every second walk when a test asks it to.
struct WalkState {
    unsigned long walks = 0;
    bool drifting = false;   // this walk is one of the misbehaving ones
    bool repeating = false;  // past the real end, handing out repeats
    int repeatsGiven = 0;

    // Given the member that really comes next (null at the end), returns what
    // the host hands out. `moreThan(member, n)` tells whether more than n
    // members remain from `member` on, inclusive.
    template <typename Member, typename MoreThan>
    Member Step(bool startsWalk, Member first, Member realNext, int drift, MoreThan moreThan) {
        if (startsWalk) {
            ++walks;
            drifting = walks % 2 == 0;
            repeating = false;
            repeatsGiven = 0;
        }
        if (!drifting || drift == 0) return realNext;
        if (drift > 0) {
            if (realNext != nullptr && !repeating) return realNext;
            if (first == nullptr || repeatsGiven >= drift) return nullptr;
            repeating = true;
            ++repeatsGiven;
            return first;
        }
        if (realNext == nullptr) return nullptr;
        return moreThan(realNext, -drift) ? realNext : nullptr;
    }
};

struct Scene::Impl {
    struct Envelope {
        host::EnvelopeId id = nullptr;
        EnvelopeKeys keys;
        std::array<int, host::ENVELOPE_ATTRIBUTE_COUNT> attributes{};
        WalkState walk;
    };

    struct Channel {
        host::ChannelId id = nullptr;
        std::string name;
        int type = 0;
        host::EnvelopeId envelope = nullptr;
        host::ChannelGroupId group = nullptr;
        std::size_t indexInGroup = 0;
    };

    struct Group {
        host::ChannelGroupId id = nullptr;
        std::vector<host::ChannelId> channels;  // in creation order
        WalkState walk;
    };

    struct Item {
        host::ItemId id = nullptr;
        std::string name;
        host::ChannelGroupId group = nullptr;
    };

    Impl();

    // Lookups: null for a handle the scene does not know.
    Item *FindItem(host::ItemId item);
    Group *FindGroup(host::ChannelGroupId group);
    Channel *FindChannel(host::ChannelId channel);
    Envelope *FindEnvelope(host::EnvelopeId envelope);
    // A live key; the record stays valid until the next change to the keys.
    KeyRecord *FindKey(host::KeyId key) { return keyStore.Find(key); }
    // The key only when it belongs to that envelope.
    KeyRecord *FindKey(host::EnvelopeId envelope, host::KeyId key);
    // Whether the key was a key of this scene once and has been destroyed.
    bool WasDestroyed(host::KeyId key) const { return keyStore.WasDestroyed(key); }

    host::ItemId NewItem(std::string name);
    Channel &NewChannel(Group &group, std::string name, int type);
    // Null for a time that is not finite.
    host::KeyId CreateKey(Envelope &envelope, double time, double value) {
        return keyStore.Create(envelope.keys, time, value);
    }
    void DestroyKey(host::KeyId key) { keyStore.Destroy(key); }
    // False, leaving the key where it was, for a time that is not finite or
    // that another key of the envelope holds.
    bool MoveKey(host::KeyId key, double time) { return keyStore.Move(key, time); }

    // Walks, with the misbehaviour of every second walk when asked for.
    host::ChannelId NextChannel(host::ChannelGroupId group, host::ChannelId previous);
    host::KeyId NextKey(host::EnvelopeId envelope, host::KeyId previous);

    void SetSelection(std::vector<host::ItemId> items);

    std::uintptr_t lastSerial = 0;
    std::vector<host::ItemId> itemOrder;
    std::unordered_map<host::ItemId, Item> items;
    std::unordered_map<host::ChannelGroupId, Group> groups;
    std::unordered_map<host::ChannelId, Channel> channels;
    std::unordered_map<host::EnvelopeId, Envelope> envelopes;
    KeyStore keyStore;
    // The envelope of the latest lookup: key calls come in long runs on one
    // envelope.
    Envelope *lastEnvelope = nullptr;

    // The selection followed by null: what InterfaceInfo::selItems points at.
    std::vector<host::ItemId> selectionList;

    // The two services that are plain data live with the scene, which keeps
    // them current whenever the selection or the timing changes.
    host::InterfaceInfo interfaceInfo{};
    host::SceneInfo sceneInfo{0, 60, 30.0};

    Misbehaviour misbehaviour;

  private:
    template <typename Handle>
    Handle Mint() {
        return HandleFromSerial<Handle>(++lastSerial);
    }
};

// How the stand-in's sources reach a scene's storage.
struct SceneAccess {
    static Scene::Impl &Of(Scene &scene) { return *scene.impl_; }
};

struct Host::PanelState {
    // What stands behind a control the module holds. The module's pointer is
    // the address of `control`, so records never move once made.
    struct ControlRecord {
        host::Control control{};
        std::size_t panelIndex = 0;
        std::string typeName;
        std::string labelBytes;
        std::string label;  // UTF-8
        int valueType = 0;
        // Until the module or the user gives the control a value.
        std::intptr_t value = UNSET_CONTROL_VALUE;
        bool valueGiven = false;
        void *userData = nullptr;
        host::EventFunc event = nullptr;
        std::vector<std::string> choiceBytes;
        int width = 0;
        int visibleRows = 0;
        host::ListCountFunc countFn = nullptr;
        host::ListNameFunc nameFn = nullptr;
        std::vector<std::string> rowBytes;  // as of the latest draw
        int drawMode = 0;
        std::vector<int> drawHistory;

        bool IsList() const { return typeName == host::LIST_BOX_CONTROL; }
        ControlView View() const;
        // Asks the module for the list's rows again, copying each at once.
        void RedrawRows();
    };

    class Session;

    // The "LWPanelServices" table handed out by the global lookup.
    static host::PanelFuncs *Services();

    // The host's side of the panel services and of every control.
    static host::PanelId Create(const char *title, void *panelData);
    static void Destroy(host::PanelId panel);
    static int Open(host::PanelId panel, int flags);
    static host::Control *AddControl(host::PanelId panel, const char *typeName,
                                     host::ControlDescriptor *descriptor, const char *label);
    static void Draw(host::Control *control, int mode);
    static void Get(host::Control *control, int tag, host::ValueRecord *value);
    static void Set(host::Control *control, int tag, host::ValueRecord *value);

    // Where a panel that is still alive stands in Host::panels_; a panel that
    // is not, and a module that has not set globalFun, are reported.
    template <typename Render>
    std::optional<std::size_t> LivePanelOfCall(Host &host, host::PanelId panel,
                                               const char *operation, Render &&render);
    // Trace renderings of a control (by its label) and of a value record.
    static std::string RenderControl(const host::Control *control);
    static std::string RenderValue(int tag, const host::ValueRecord *value);
    // Whether a get or set passed an integer value record; reports it if not.
    template <typename RenderArguments>
    static bool CheckValueRecord(const host::ValueRecord *value, const char *operation,
                                 RenderArguments &&renderArguments);
    // A control call: traced, then answered by the control's record, or by
    // nothing (null) when there is no current host or no such live control,
    // which is reported.
    template <typename RenderArguments>
    static ControlRecord *EnterControl(const host::Control *control, const char *operation,
                                       RenderArguments &&renderArguments);

    std::uintptr_t lastPanelSerial = 0;
    // The controls of each panel, parallel to Host::panels_.
    std::vector<std::vector<std::unique_ptr<ControlRecord>>> panelControls;
    std::unordered_map<host::PanelId, std::size_t> panelIndex;
    std::unordered_map<const host::Control *, ControlRecord *> controls;
};

}  // namespace standin
