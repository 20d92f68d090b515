// The stand-in Layout host: a headless host that holds a scene, offers the
// animation, message and panel services over it, shows panels to a scripted
// user and loads plug-in modules through their descriptor.
//
// One Host is "current" at a time: the services are plain C tables, so their
// functions find the host they serve through Host::Current(). A Host becomes
// current when it is built and when it activates a server.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host_api.h"

namespace standin {

// ---------------------------------------------------------------------------
// Text: the module's texts are CP932 bytes; tests and programs read UTF-8.
std::string Utf8FromCp932(std::string_view cp932);
std::string Cp932FromUtf8(std::string_view utf8);

// ---------------------------------------------------------------------------
// Scene.

// One key as the scene holds it. Parameters from the shape on are raw slots.
struct KeyState {
    host::KeyId id = nullptr;
    double value = 0.0;
    double time = 0.0;
    host::KeyRawSlots parameters{};  // tags LWKEY_SHAPE on
};

struct ChannelState {
    host::ChannelId id = nullptr;
    std::string name;
    int type = 0;
    host::EnvelopeId envelope = nullptr;  // null when detached by a test
};

// What the host does wrong on purpose, so that tests can see the module
// survive it. Everything is off by default.
struct Misbehaviour {
    bool refuseCreate = false;         // envelope create returns null
    bool refuseCreateKey = false;      // createKey returns null
    int secondWalkDrift = 0;           // >0: every second walk from null yields that many extra
                                       // members (repeats of the first); <0: ends that many early
    bool refusePanel = false;          // panel create returns null
    bool refuseControls = false;       // addControl returns null
    std::string missingService;        // the lookup of this service name returns null
    bool uncheckedUserValues = false;  // the scripted user may pick rows/choices out of range
};

class Scene {
  public:
    Scene();
    ~Scene();
    Scene(const Scene &) = delete;
    Scene &operator=(const Scene &) = delete;

    // Items and channels. Every item has its own channel group; a channel made
    // here gets an envelope of its own.
    host::ItemId AddItem(std::string name);
    host::ChannelId AddChannel(host::ItemId item, std::string name, int type = 0);
    // Lets a channel lose its envelope (channelEnvelope then returns null).
    void DetachEnvelope(host::ChannelId channel);

    // Keys stay in time order; a key created at the time of an existing key
    // replaces that key's value and keeps its identity.
    host::KeyId AddKey(host::ChannelId channel, double time, double value);
    void SetKeyParameter(host::KeyId key, int tag,
                         const host::KeySlot &slot);  // tag LWKEY_SHAPE on
    void SetAttribute(host::EnvelopeId envelope, int attribute, int value);
    int Attribute(host::EnvelopeId envelope, int attribute) const;

    // Reading the scene.
    std::optional<host::ItemId> FindItem(std::string_view name) const;
    std::optional<host::ChannelId> FindChannel(host::ItemId item, std::string_view name) const;
    std::string ItemName(host::ItemId item) const;
    host::ChannelGroupId GroupOf(host::ItemId item) const;
    std::vector<ChannelState> Channels(host::ItemId item) const;
    std::vector<KeyState> Keys(host::EnvelopeId envelope) const;
    std::size_t KeyCount(host::EnvelopeId envelope) const;
    std::size_t TotalKeyCount() const;

    // Selection and timing.
    void Select(std::vector<host::ItemId> items);  // in selection order
    std::vector<host::ItemId> Selection() const;
    void SetFrames(int frameStart, int frameEnd);
    void SetFramesPerSecond(double fps);
    int FrameStart() const;
    int FrameEnd() const;
    double FramesPerSecond() const;

    Misbehaviour &misbehave();

    struct Impl;
    Impl &impl() { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------
// Trace of service calls, for tests that check call order.
struct TraceEntry {
    std::string service;    // e.g. "global", "Animation Envelopes", "LWPanelServices", "control"
    std::string operation;  // e.g. "LW Item Info 3", "nextKey", "set"
    std::string arguments;  // a readable rendering of the arguments
};

// ---------------------------------------------------------------------------
// Panels as the user sees them.
struct ControlView {
    std::string typeName;  // "NumControl", ...
    std::string label;     // UTF-8
    std::string labelBytes;
    int valueType = 0;  // descriptor type
    std::intptr_t value = 0;
    int drawMode = 0;  // last draw mode, 0 when never drawn by the module
    std::vector<int> drawHistory;
    bool hasEvent = false;
    bool hasUserData = false;
    std::vector<std::string> choices;  // popup entries, UTF-8
    int width = 0;
    int visibleRows = 0;
};

// The user's view of one open panel. Actions act as a user would: they change
// the control's value and raise its event handler, if it has one.
class PanelSession {
  public:
    virtual ~PanelSession() = default;
    virtual std::string Title() const = 0;  // UTF-8
    virtual std::vector<ControlView> Controls() const = 0;
    virtual ControlView Control(std::string_view label) const = 0;  // throws when absent
    // What a list shows now: the rows from the latest draw (UTF-8, and bytes).
    virtual std::vector<std::string> Rows(std::string_view label) const = 0;
    virtual std::vector<std::string> RowBytes(std::string_view label) const = 0;
    virtual void Pick(std::string_view label, int row) = 0;       // list
    virtual void SetBool(std::string_view label, bool on) = 0;    // switch
    virtual void Flip(std::string_view label) = 0;                // switch
    virtual void Choose(std::string_view label, int choice) = 0;  // popup
    virtual void Type(std::string_view label, int number) = 0;    // number
};

enum class PanelOutcome { Confirm, Cancel };

// A declarative step of a scripted user, for programs that read scripts.
struct UserAction {
    enum class Kind { ReadList, Pick, Flip, SetBool, Choose, Type, Confirm, Cancel };
    Kind kind = Kind::Confirm;
    std::string label;  // UTF-8
    int value = 0;
};

// For each panel that opens, in turn, the next script runs; a panel that opens
// with no script left is cancelled (and the transcript says so).
class ScriptedUser {
  public:
    using Script = std::function<PanelOutcome(PanelSession &)>;
    void Then(Script script);
    void Then(std::vector<UserAction> actions);
    bool HasScript() const { return !scripts_.empty(); }
    std::size_t Pending() const { return scripts_.size(); }
    Script Next();

  private:
    std::vector<Script> scripts_;
};

// A record of one panel that the module created.
struct PanelRecord {
    std::string title;  // UTF-8
    std::string titleBytes;
    bool opened = false;
    int openFlags = 0;
    bool destroyed = false;
    std::optional<PanelOutcome> outcome;
    std::vector<ControlView> controlsAtOpen;
};

// ---------------------------------------------------------------------------
// Module loader.
class LoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ServerInfo {
    std::string className;
    std::string name;
    host::ActivateFunc activate = nullptr;
};

// Loads a module file, checks its descriptor and calls its startup routine;
// the destructor calls shutdown and unloads the file.
class LoadedModule {
  public:
    explicit LoadedModule(const std::string &path);  // throws LoadError
    ~LoadedModule();
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;

    const host::ModuleDescriptor &Descriptor() const { return *descriptor_; }
    const std::vector<ServerInfo> &Servers() const { return servers_; }
    const ServerInfo *FindServer(std::string_view name) const;
    void *StartupResult() const { return startupResult_; }
    const std::string &Path() const { return path_; }

  private:
    std::string path_;
    void *library_ = nullptr;
    const host::ModuleDescriptor *descriptor_ = nullptr;
    void *startupResult_ = nullptr;
    std::vector<ServerInfo> servers_;
};

// ---------------------------------------------------------------------------
// The host.
class Host {
  public:
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    static Host *Current();
    void MakeCurrent();

    Scene &scene() { return scene_; }
    const Scene &scene() const { return scene_; }
    ScriptedUser &user() { return user_; }
    Misbehaviour &misbehave() { return scene_.misbehave(); }

    // The lookup function handed to modules: finds services by exact name,
    // null for an unknown name.
    host::GlobalFunc Global() const;

    // Activates a server of a loaded module; throws LoadError for an unknown
    // server name.
    int Activate(const LoadedModule &module, std::string_view server,
                 int version = host::LAYOUT_GENERIC_VERSION, void *local = nullptr);

    // Messages shown through "Info Messages 2": both lines, as bytes.
    const std::vector<std::pair<std::string, std::string>> &Errors() const { return errors_; }
    void ClearErrors() { errors_.clear(); }

    // Panels the module created, in creation order.
    const std::vector<PanelRecord> &Panels() const { return panels_; }
    std::size_t LivePanelCount() const;

    // What a user saw, in UTF-8: panels, controls, lists read, messages.
    const std::vector<std::string> &Transcript() const { return transcript_; }
    void Say(std::string line) { transcript_.push_back(std::move(line)); }

    // Trace of every service call, when enabled.
    void EnableTrace(bool on) { tracing_ = on; }
    const std::vector<TraceEntry> &Trace() const { return trace_; }
    void ClearTrace() { trace_.clear(); }
    void Record(std::string service, std::string operation, std::string arguments);

    struct Services;
    struct PanelState;

  private:
    friend struct Services;
    friend struct PanelState;
    Scene scene_;
    ScriptedUser user_;
    std::vector<std::pair<std::string, std::string>> errors_;
    std::vector<PanelRecord> panels_;
    std::vector<std::string> transcript_;
    std::vector<TraceEntry> trace_;
    bool tracing_ = false;
    std::unique_ptr<PanelState> panelState_;
};

}  // namespace standin
