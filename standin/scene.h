// The scene the stand-in host holds: items, their channels and envelopes, the
// keys, the selection and the timing, and the ways the host misbehaves on
// purpose when a test asks it to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_api.h"

namespace standin {

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
    // The same, with every parameter from the shape on given at once.
    host::KeyId AddKey(host::ChannelId channel, double time, double value,
                       const host::KeyRawSlots &parameters);
    void SetKeyParameter(host::KeyId key, int tag,
                         const host::KeySlot &slot);  // tag LWKEY_SHAPE on
    // Removes a key of the scene, as the module's destroyKey does; its handle
    // is stale from then on.
    void RemoveKey(host::KeyId key);
    void SetAttribute(host::EnvelopeId envelope, int attribute, int value);
    int Attribute(host::EnvelopeId envelope, int attribute) const;

    // Reading the scene.
    std::vector<host::ItemId> Items() const;  // in the order they were added
    std::optional<host::ItemId> FindItem(std::string_view name) const;
    std::optional<host::ChannelId> FindChannel(host::ItemId item, std::string_view name) const;
    std::string ItemName(host::ItemId item) const;
    host::ChannelGroupId GroupOf(host::ItemId item) const;
    std::vector<ChannelState> Channels(host::ItemId item) const;
    std::vector<KeyState> Keys(host::EnvelopeId envelope) const;
    std::size_t KeyCount(host::EnvelopeId envelope) const;
    // Counts every change to the envelope's keys and attributes, by the
    // module or through this class: equal counts mean nothing changed in
    // between (the same keys written again still count as a change).
    std::uint64_t EnvelopeEdits(host::EnvelopeId envelope) const;
    std::size_t TotalKeyCount() const;

    // Selection and timing.
    void Select(std::vector<host::ItemId> items);  // in selection order
    std::vector<host::ItemId> Selection() const;
    void SetFrames(int frameStart, int frameEnd);
    void SetFramesPerSecond(double fps);
    int FrameStart() const;
    int FrameEnd() const;
    double FramesPerSecond() const;

    Misbehaviour &Misbehave();

    // The storage behind the scene, known only to the stand-in's own sources.
    struct Impl;

  private:
    friend struct SceneAccess;
    std::unique_ptr<Impl> impl_;
};

}  // namespace standin
