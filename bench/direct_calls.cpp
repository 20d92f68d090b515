#include "bench/direct_calls.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "model/frames.h"
#include "services/keys.h"
#include "services/panel.h"
#include "services/selection.h"
#include "services/services.h"
#include "services/texts.h"

namespace bench {

namespace {

using tamberlo::ClipKey;
using tamberlo::FrameRange;
namespace texts = tamberlo::texts;

// ---------------------------------------------------------------------------
// Services.

// The services as the module holds them; a prescribed run looks them up as the
// module does (tamberlo::LookUpServices), the floor only the four it needs.
using Services = tamberlo::HostServices;

template <typename Table>
Table *LookUp(host::GlobalFunc global, const char *name) {
    return static_cast<Table *>(global(name, host::GFUSE_TRANSIENT));
}

// What the floor needs: items, channels, envelopes and the frame rate.
Services LookUpFloorServices(host::GlobalFunc global) {
    Services services;
    services.itemInfo = LookUp<host::ItemInfo>(global, host::ITEM_INFO_NAME);
    services.sceneInfo = LookUp<host::SceneInfo>(global, host::SCENE_INFO_NAME);
    services.channelInfo = LookUp<host::ChannelInfo>(global, host::CHANNEL_INFO_NAME);
    services.envelopes = LookUp<host::EnvelopeFuncs>(global, host::ENVELOPE_FUNCS_NAME);
    return services;
}

// ---------------------------------------------------------------------------
// Keys.

// The floor reads and writes a key's value and its raw parameter slots
// itself, since its time comes from the walk and its attributes once per
// envelope.
void ReadValueAndSlots(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
                       host::KeyId key, ClipKey &into) {
    envelopes.keyGet(envelope, key, host::LWKEY_VALUE, &into.value);
    for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag)
        envelopes.keyGet(envelope, key, tag,
                         into.parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)].data());
}

void WriteSlots(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope, host::KeyId key,
                const ClipKey &from) {
    for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag) {
        host::KeySlot slot = from.parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)];
        envelopes.keySet(envelope, key, tag, slot.data());
    }
}

// The attribute calls take a key of the envelope where they declare a group.
host::ChannelGroupId AsGroup(host::KeyId key) {
    return reinterpret_cast<host::ChannelGroupId>(key);
}

void ReadAttributes(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
                    host::KeyId key, ClipKey &into) {
    for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute)
        envelopes.egGet(envelope, AsGroup(key), attribute,
                        &into.attributes[static_cast<std::size_t>(attribute)]);
}

void WriteAttributes(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
                     host::KeyId key, const ClipKey &from) {
    for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute) {
        int stored = from.attributes[static_cast<std::size_t>(attribute)];
        envelopes.egSet(envelope, AsGroup(key), attribute, &stored);
    }
}

// Where a pasted key lands: shifted by whole frames, or at its own time.
double PlacedTime(const ClipKey &key, std::int64_t shiftFrames, double framesPerSecond) {
    return shiftFrames == 0 ? key.time
                            : key.time + static_cast<double>(shiftFrames) / framesPerSecond;
}

// ---------------------------------------------------------------------------
// The panel both commands show, built with the module's titles, labels and
// control descriptors.

constexpr int LIST_WIDTH = 300;
constexpr int LIST_VISIBLE_ROWS = 10;
constexpr int FILE_BUTTON_WIDTH = 100;
const char *groupChoices[] = {"Position", "Rotation", "Scale", texts::OTHERS, texts::ALL, nullptr};

using Table = tamberlo::ItemTable;

// The copy panel's lists: the items by name, and no channels, since no item
// is picked before the user acts.
int ItemRows(void *table) {
    return static_cast<int>(static_cast<const Table *>(table)->size());
}
const char *ItemRow(void *table, int row) {
    return (*static_cast<const Table *>(table))[static_cast<std::size_t>(row)].name.data();
}
int NoRows(void *) {
    return 0;
}
const char *NoRow(void *, int) {
    return "";
}
// A user who only confirms raises no event.
void NoEvent(host::Control *, void *) {}

}  // namespace

// ---------------------------------------------------------------------------

CopiedMotion::CopiedMotion(int itemCount, std::int32_t keysPerChannel)
    : items(static_cast<std::size_t>(itemCount)) {
    for (std::vector<CopiedChannel> &channels : items) {
        channels.resize(CHANNELS_PER_ITEM);
        for (CopiedChannel &channel : channels)
            channel.keys.resize(static_cast<std::size_t>(keysPerChannel));
    }
}

std::size_t CopiedMotion::KeyCount() const {
    std::size_t count = 0;
    for (const std::vector<CopiedChannel> &channels : items)
        for (const CopiedChannel &channel : channels) count += channel.count;
    return count;
}

namespace {

// Calls `visit(channel, copied)` for the channels of each item (the selection
// read from its end), paired by position with the copied channels of the
// item in the same place, as far as both go.
template <typename Items, typename Visit>
void ForEachFloorChannel(const Services &services, std::span<const host::ItemId> items,
                         Items &copiedItems, Visit &&visit) {
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const std::size_t itemCount = std::min(items.size(), copiedItems.size());
    for (std::size_t i = 0; i < itemCount; ++i) {
        auto &copiedChannels = copiedItems[i];
        const host::ChannelGroupId group =
            services.itemInfo->chanGroup(items[items.size() - 1 - i]);
        std::size_t slot = 0;
        for (host::ChannelId channel = channelInfo.nextChannel(group, nullptr);
             channel != nullptr && slot < copiedChannels.size();
             channel = channelInfo.nextChannel(group, channel))
            visit(channel, copiedChannels[slot++]);
    }
}

}  // namespace

void CopyFloor(host::GlobalFunc global, std::span<const host::ItemId> items, Window frames,
               CopiedMotion &into) {
    const Services services = LookUpFloorServices(global);
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    const double framesPerSecond = services.sceneInfo->framesPerSecond;
    const FrameRange range{frames.first, frames.last};
    into.frames = frames;
    ForEachFloorChannel(
        services, items, into.items, [&](host::ChannelId channel, CopiedChannel &copied) {
            tamberlo::CopyName(copied.name, channelInfo.channelName(channel));
            copied.type = channelInfo.channelType(channel);
            copied.count = 0;
            const host::EnvelopeId envelope = channelInfo.channelEnvelope(channel);
            if (envelope == nullptr) return;
            const ClipKey *first = nullptr;
            tamberlo::WalkKeys(envelopes, envelope, framesPerSecond,
                               [&](host::KeyId key, double time, auto frame) {
                                   if (frame.has_value() && *frame < range.first) return true;
                                   if (!range.Contains(frame) || copied.count == copied.keys.size())
                                       return false;
                                   ClipKey &read = copied.keys[copied.count++];
                                   read.time = time;
                                   read.frame = *frame;
                                   ReadValueAndSlots(envelopes, envelope, key, read);
                                   if (first == nullptr) {
                                       ReadAttributes(envelopes, envelope, key, read);
                                       first = &read;
                                   } else {
                                       read.attributes = first->attributes;
                                   }
                                   return true;
                               });
        });
}

void CopyPrescribed(host::GlobalFunc global, CopiedMotion &into) {
    const Services services = tamberlo::LookUpServices(global);
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const host::EnvelopeFuncs &envelopes = *services.envelopes;

    const tamberlo::ScopedPanel panel(services, texts::PANEL_TITLE);
    host::Control *startFrame = panel.AddNumber(texts::START_FRAME);
    host::Control *endFrame = panel.AddNumber(texts::END_FRAME);
    host::Control *itemList =
        panel.AddList(texts::ITEM, LIST_WIDTH, LIST_VISIBLE_ROWS, ItemRows, ItemRow);
    host::Control *channelList =
        panel.AddList(texts::CHANNEL, LIST_WIDTH, LIST_VISIBLE_ROWS, NoRows, NoRow);
    host::Control *enabledSwitch = panel.AddBoolean(texts::ENABLED);
    host::Control *groupPopup = panel.AddPopup(texts::SWITCH_ALL, groupChoices);
    panel.AddFileButton(texts::SAVE_SET, FILE_BUTTON_WIDTH);
    panel.AddFileButton(texts::LOAD_SET, FILE_BUTTON_WIDTH);

    Table table = tamberlo::BuildItemTable(services, tamberlo::CountSelectedItems(services));
    for (host::Control *control : {itemList, channelList, enabledSwitch, groupPopup})
        tamberlo::AttachEvent(control, &table, NoEvent);
    enabledSwitch->draw(enabledSwitch, host::DR_GHOST);
    tamberlo::SetValue(itemList, 0);
    tamberlo::SetValue(startFrame, services.sceneInfo->frameStart);
    tamberlo::SetValue(endFrame, services.sceneInfo->frameEnd);
    const double framesPerSecond = services.sceneInfo->framesPerSecond;
    if (!panel.Show()) return;
    const std::int32_t firstFrame = tamberlo::GetValue(startFrame);
    const std::int32_t lastFrame = tamberlo::GetValue(endFrame);
    const FrameRange range{firstFrame, lastFrame};
    into.frames = Window{firstFrame, lastFrame};

    // The counting walks, channel by channel after its type and envelope.
    struct Source {
        host::EnvelopeId envelope = nullptr;
        std::size_t inRange = 0;
    };
    std::vector<Source> sources;
    const std::size_t itemCount = std::min(table.size(), into.items.size());
    for (std::size_t i = 0; i < itemCount; ++i) {
        std::vector<CopiedChannel> &copiedChannels = into.items[i];
        const auto channels = table[i].Channels();
        const std::size_t channelCount = std::min(channels.size(), copiedChannels.size());
        for (std::size_t c = 0; c < channelCount; ++c) {
            const tamberlo::ChannelRecord &channel = channels[c];
            CopiedChannel &copied = copiedChannels[c];
            tamberlo::CopyName(copied.name, channel.name.data());
            copied.type = channelInfo.channelType(channel.channelId);
            Source &source = sources.emplace_back();
            source.envelope = channelInfo.channelEnvelope(channel.channelId);
            if (source.envelope == nullptr) continue;
            tamberlo::WalkKeys(envelopes, source.envelope, framesPerSecond,
                               [&](host::KeyId, double, auto frame) {
                                   if (range.Contains(frame)) ++source.inRange;
                                   return true;
                               });
        }
    }

    // The filling walks, reading every key in the range in full.
    std::size_t next = 0;
    for (std::size_t i = 0; i < itemCount; ++i) {
        std::vector<CopiedChannel> &copiedChannels = into.items[i];
        const std::size_t channelCount =
            std::min(table[i].Channels().size(), copiedChannels.size());
        for (std::size_t c = 0; c < channelCount; ++c) {
            CopiedChannel &copied = copiedChannels[c];
            const Source &source = sources[next++];
            const std::size_t capacity = std::min(source.inRange, copied.keys.size());
            copied.count = 0;
            if (capacity == 0) continue;
            tamberlo::WalkKeys(envelopes, source.envelope, framesPerSecond,
                               [&](host::KeyId key, double, auto frame) {
                                   if (!range.Contains(frame)) return true;
                                   ClipKey &read = copied.keys[copied.count++];
                                   read.frame = *frame;
                                   tamberlo::ReadKey(envelopes, source.envelope, key, read);
                                   return copied.count < capacity;
                               });
        }
    }
}

namespace {

// Clears the window of one envelope: a walk reading times, then a destroyKey
// per key found in it. The floor stops its walk past the window; the
// command walks every key. `doomed` is the caller's, reused.
void ClearWindow(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
                 const FrameRange &window, double framesPerSecond, bool wholeWalk,
                 std::vector<host::KeyId> &doomed) {
    doomed.clear();
    tamberlo::WalkKeys(envelopes, envelope, framesPerSecond,
                       [&](host::KeyId key, double, auto frame) {
                           if (window.Contains(frame)) {
                               doomed.push_back(key);
                               return true;
                           }
                           return wholeWalk || !frame.has_value() || *frame < window.first;
                       });
    for (host::KeyId key : doomed) envelopes.destroyKey(envelope, key);
}

struct PasteWindow {
    FrameRange frames;
    std::int64_t shiftFrames = 0;
};

PasteWindow PasteWindowOf(const CopiedMotion &motion, std::int32_t startFrame) {
    const std::int64_t span = static_cast<std::int64_t>(motion.frames.last) - motion.frames.first;
    return PasteWindow{FrameRange{startFrame, startFrame + span},
                       static_cast<std::int64_t>(startFrame) - motion.frames.first};
}

}  // namespace

void PasteFloor(host::GlobalFunc global, std::span<const host::ItemId> items,
                const CopiedMotion &motion, std::int32_t startFrame) {
    const Services services = LookUpFloorServices(global);
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    const double framesPerSecond = services.sceneInfo->framesPerSecond;
    const PasteWindow window = PasteWindowOf(motion, startFrame);
    static std::vector<host::KeyId> doomed;
    // The target's channels match the copied ones name for name.
    ForEachFloorChannel(
        services, items, motion.items, [&](host::ChannelId channel, const CopiedChannel &copied) {
            if (std::strcmp(channelInfo.channelName(channel), copied.name.data()) != 0) return;
            const host::EnvelopeId envelope = channelInfo.channelEnvelope(channel);
            if (envelope == nullptr) return;
            ClearWindow(envelopes, envelope, window.frames, framesPerSecond, false, doomed);
            bool attributesWritten = false;
            for (const ClipKey &key : std::span(copied.keys).first(copied.count)) {
                const host::KeyId created = envelopes.createKey(
                    envelope, PlacedTime(key, window.shiftFrames, framesPerSecond), key.value);
                if (created == nullptr) continue;
                WriteSlots(envelopes, envelope, created, key);
                if (!attributesWritten) WriteAttributes(envelopes, envelope, created, key);
                attributesWritten = true;
            }
        });
}

void PastePrescribed(host::GlobalFunc global, const CopiedMotion &motion) {
    const Services services = tamberlo::LookUpServices(global);
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    const std::int32_t selected = tamberlo::CountSelectedItems(services);

    const tamberlo::ScopedPanel panel(services, texts::PANEL_TITLE);
    const Table table = tamberlo::BuildItemTable(services, selected);
    host::Control *startControl = panel.AddNumber(texts::PASTE_START_FRAME);
    tamberlo::SetValue(startControl, motion.frames.first);
    if (!panel.Show()) return;
    const PasteWindow window = PasteWindowOf(motion, tamberlo::GetValue(startControl));
    const double framesPerSecond = services.sceneInfo->framesPerSecond;

    static std::vector<host::KeyId> doomed;
    const std::size_t itemCount = std::min(table.size(), motion.items.size());
    for (std::size_t i = 0; i < itemCount; ++i) {
        const std::vector<CopiedChannel> &copiedChannels = motion.items[i];
        const auto channels = table[i].Channels();
        const std::size_t channelCount = std::min(channels.size(), copiedChannels.size());
        for (std::size_t c = 0; c < channelCount; ++c) {
            // The target's channels match the copied ones name for name.
            const CopiedChannel &copied = copiedChannels[c];
            const host::EnvelopeId envelope =
                services.channelInfo->channelEnvelope(channels[c].channelId);
            if (envelope == nullptr) continue;
            ClearWindow(envelopes, envelope, window.frames, framesPerSecond, true, doomed);
            for (const ClipKey &key : std::span(copied.keys).first(copied.count)) {
                const double placedTime = PlacedTime(key, window.shiftFrames, framesPerSecond);
                const host::KeyId created = envelopes.createKey(envelope, placedTime, key.value);
                if (created != nullptr)
                    tamberlo::WriteKey(envelopes, envelope, created, key, placedTime);
            }
        }
    }
}

}  // namespace bench
