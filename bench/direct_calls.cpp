#include "bench/direct_calls.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "model/frames.h"
#include "module/services.h"
#include "module/texts.h"

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

// Walks the envelope from its first key, reading each key's time, until
// `visit(key, time, frame)` returns false.
template <typename Visit>
void WalkTimes(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
               double framesPerSecond, Visit &&visit) {
    for (host::KeyId key = envelopes.nextKey(envelope, nullptr); key != nullptr;
         key = envelopes.nextKey(envelope, key)) {
        double time = 0.0;
        envelopes.keyGet(envelope, key, host::LWKEY_TIME, &time);
        if (!visit(key, time, tamberlo::FrameOf(time, framesPerSecond))) break;
    }
}

// The record field that key parameter `tag` reads into.
void *SlotOf(ClipKey &key, int tag) {
    if (tag == host::LWKEY_VALUE) return &key.value;
    if (tag == host::LWKEY_TIME) return &key.time;
    return key.parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)].data();
}

void ReadTag(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope, host::KeyId key,
             int tag, ClipKey &into) {
    envelopes.keyGet(envelope, key, tag, SlotOf(into, tag));
}

// Writes key parameter `tag` of `from`, its time being `placedTime`, from a
// copy of the slot, as the module does.
void WriteTag(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope, host::KeyId key,
              int tag, const ClipKey &from, double placedTime) {
    host::KeySlot slot;
    if (tag == host::LWKEY_VALUE)
        std::memcpy(slot.data(), &from.value, sizeof from.value);
    else if (tag == host::LWKEY_TIME)
        std::memcpy(slot.data(), &placedTime, sizeof placedTime);
    else
        slot = from.parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)];
    envelopes.keySet(envelope, key, tag, slot.data());
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
// The selection, as both commands read it: one record per selected item,
// from the end of the selection, with its channels counted and then filled.

struct TableChannel {
    host::ChannelId id = nullptr;
    const char *name = nullptr;
};

struct TableItem {
    host::ItemId id = nullptr;
    const char *name = nullptr;
    host::ChannelGroupId group = nullptr;
    std::vector<TableChannel> channels;
};

using Table = std::vector<TableItem>;

std::size_t CountSelected(const Services &services) {
    std::size_t count = 0;
    while (services.interfaceInfo->selItems[count] != nullptr) ++count;
    return count;
}

Table ReadSelection(const Services &services, std::size_t count) {
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    Table table(count);
    for (std::size_t position = 0; position < count; ++position) {
        TableItem &item = table[position];
        item.id = services.interfaceInfo->selItems[count - 1 - position];
        item.name = services.itemInfo->name(item.id);
        item.group = services.itemInfo->chanGroup(item.id);
        std::size_t channels = 0;
        for (host::ChannelId channel = channelInfo.nextChannel(item.group, nullptr);
             channel != nullptr; channel = channelInfo.nextChannel(item.group, channel))
            ++channels;
        item.channels.resize(channels);
        std::size_t filled = 0;
        for (host::ChannelId channel = channelInfo.nextChannel(item.group, nullptr);
             channel != nullptr && filled < channels;
             channel = channelInfo.nextChannel(item.group, channel))
            item.channels[filled++] = TableChannel{channel, channelInfo.channelName(channel)};
        item.channels.resize(filled);
    }
    return table;
}

// ---------------------------------------------------------------------------
// The panel both commands show, built with the module's titles, labels and
// control descriptors.

constexpr int LIST_WIDTH = 300;
constexpr int LIST_VISIBLE_ROWS = 10;
constexpr int FILE_BUTTON_WIDTH = 100;
constexpr int PANEL_FLAGS = host::PANF_BLOCKING | host::PANF_CANCEL | host::PANF_FRAME;
const char *groupChoices[] = {"Position", "Rotation", "Scale", texts::OTHERS, texts::ALL, nullptr};

class Panel {
  public:
    Panel(const Services &services, host::GlobalFunc global)
        : panels_(*services.panels), panel_(panels_.create(texts::PANEL_TITLE, &panels_)) {
        panels_.globalFun = global;
    }
    ~Panel() { panels_.destroy(panel_); }
    Panel(const Panel &) = delete;
    Panel &operator=(const Panel &) = delete;

    bool Show() { return panels_.open(panel_, PANEL_FLAGS) != 0; }

    host::Control *AddNumber(const char *label) {
        descriptor_.type = host::LWT_INTEGER;
        return Add(host::NUM_CONTROL, label);
    }
    host::Control *AddList(const char *label, host::ListCountFunc count, host::ListNameFunc name) {
        descriptor_.type = host::LWT_POPUP;
        descriptor_.shape.width = LIST_WIDTH;
        descriptor_.visibleRows = LIST_VISIBLE_ROWS;
        descriptor_.countFn = count;
        descriptor_.nameFn = name;
        return Add(host::LIST_BOX_CONTROL, label);
    }
    host::Control *AddBoolean(const char *label) {
        descriptor_.type = host::LWT_BOOLEAN;
        return Add(host::BOOL_CONTROL, label);
    }
    host::Control *AddPopup(const char *label, const char **choices) {
        descriptor_.type = host::LWT_CHOICE;
        descriptor_.shape.choices = choices;
        return Add(host::POPUP_CONTROL, label);
    }
    host::Control *AddFileButton(const char *label) {
        descriptor_.type = host::LWT_STRING;
        descriptor_.shape.width = FILE_BUTTON_WIDTH;
        return Add(host::FILE_BUTTON_CONTROL, label);
    }

  private:
    host::Control *Add(const char *typeName, const char *label) {
        return panels_.addControl(panel_, typeName, &descriptor_, label);
    }

    host::PanelFuncs &panels_;
    host::PanelId panel_;
    host::ControlDescriptor descriptor_{};
};

void SetControl(host::Control *control, int tag, std::intptr_t value) {
    host::ValueRecord record{host::LWT_INTEGER, value};
    control->set(control, tag, &record);
}

std::int32_t GetValue(host::Control *control) {
    host::ValueRecord record{host::LWT_INTEGER, 0};
    control->get(control, host::CTL_VALUE, &record);
    return static_cast<std::int32_t>(record.value);
}

// The copy panel's lists: the items by name, and no channels, since no item
// is picked before the user acts.
int ItemRows(void *table) {
    return static_cast<int>(static_cast<const Table *>(table)->size());
}
const char *ItemRow(void *table, int row) {
    return (*static_cast<const Table *>(table))[static_cast<std::size_t>(row)].name;
}
int NoRows(void *) {
    return 0;
}
const char *NoRow(void *, int) {
    return "";
}
// A user who only confirms raises no event.
void NoEvent(host::Control *, void *) {}

void AttachEvent(host::Control *control, Table &table) {
    SetControl(control, host::CTL_USERDATA, reinterpret_cast<std::intptr_t>(&table));
    SetControl(control, host::CTL_USEREVENT, reinterpret_cast<std::intptr_t>(&NoEvent));
}

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

void CopyFloor(host::GlobalFunc global, std::span<const host::ItemId> items, Window frames,
               CopiedMotion &into) {
    const Services services = LookUpFloorServices(global);
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    const double framesPerSecond = services.sceneInfo->framesPerSecond;
    const FrameRange range{frames.first, frames.last};
    into.frames = frames;
    const std::size_t itemCount = std::min(items.size(), into.items.size());
    for (std::size_t i = 0; i < itemCount; ++i) {
        std::vector<CopiedChannel> &copiedChannels = into.items[i];
        const host::ChannelGroupId group =
            services.itemInfo->chanGroup(items[items.size() - 1 - i]);
        std::size_t slot = 0;
        for (host::ChannelId channel = channelInfo.nextChannel(group, nullptr);
             channel != nullptr && slot < copiedChannels.size();
             channel = channelInfo.nextChannel(group, channel)) {
            CopiedChannel &copied = copiedChannels[slot++];
            tamberlo::CopyName(copied.name, channelInfo.channelName(channel));
            copied.type = channelInfo.channelType(channel);
            copied.count = 0;
            const host::EnvelopeId envelope = channelInfo.channelEnvelope(channel);
            if (envelope == nullptr) continue;
            const ClipKey *first = nullptr;
            WalkTimes(envelopes, envelope, framesPerSecond,
                      [&](host::KeyId key, double time, auto frame) {
                          if (frame.has_value() && *frame < range.first) return true;
                          if (!range.Contains(frame) || copied.count == copied.keys.size())
                              return false;
                          ClipKey &read = copied.keys[copied.count++];
                          read.time = time;
                          read.frame = *frame;
                          ReadTag(envelopes, envelope, key, host::LWKEY_VALUE, read);
                          for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag)
                              ReadTag(envelopes, envelope, key, tag, read);
                          if (first == nullptr) {
                              ReadAttributes(envelopes, envelope, key, read);
                              first = &read;
                          } else {
                              read.attributes = first->attributes;
                          }
                          return true;
                      });
        }
    }
}

void CopyPrescribed(host::GlobalFunc global, CopiedMotion &into) {
    const Services services = tamberlo::LookUpServices(global);
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const host::EnvelopeFuncs &envelopes = *services.envelopes;

    Panel panel(services, global);
    host::Control *startFrame = panel.AddNumber(texts::START_FRAME);
    host::Control *endFrame = panel.AddNumber(texts::END_FRAME);
    host::Control *itemList = panel.AddList(texts::ITEM, ItemRows, ItemRow);
    host::Control *channelList = panel.AddList(texts::CHANNEL, NoRows, NoRow);
    host::Control *enabledSwitch = panel.AddBoolean(texts::ENABLED);
    host::Control *groupPopup = panel.AddPopup(texts::SWITCH_ALL, groupChoices);
    panel.AddFileButton(texts::SAVE_SET);
    panel.AddFileButton(texts::LOAD_SET);

    Table table = ReadSelection(services, CountSelected(services));
    for (host::Control *control : {itemList, channelList, enabledSwitch, groupPopup})
        AttachEvent(control, table);
    enabledSwitch->draw(enabledSwitch, host::DR_GHOST);
    SetControl(itemList, host::CTL_VALUE, 0);
    SetControl(startFrame, host::CTL_VALUE, services.sceneInfo->frameStart);
    SetControl(endFrame, host::CTL_VALUE, services.sceneInfo->frameEnd);
    const double framesPerSecond = services.sceneInfo->framesPerSecond;
    if (!panel.Show()) return;
    const std::int32_t firstFrame = GetValue(startFrame);
    const std::int32_t lastFrame = GetValue(endFrame);
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
        const std::size_t channelCount = std::min(table[i].channels.size(), copiedChannels.size());
        for (std::size_t c = 0; c < channelCount; ++c) {
            const TableChannel &channel = table[i].channels[c];
            CopiedChannel &copied = copiedChannels[c];
            tamberlo::CopyName(copied.name, channel.name);
            copied.type = channelInfo.channelType(channel.id);
            Source &source = sources.emplace_back();
            source.envelope = channelInfo.channelEnvelope(channel.id);
            if (source.envelope == nullptr) continue;
            WalkTimes(envelopes, source.envelope, framesPerSecond,
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
        const std::size_t channelCount = std::min(table[i].channels.size(), copiedChannels.size());
        for (std::size_t c = 0; c < channelCount; ++c) {
            CopiedChannel &copied = copiedChannels[c];
            const Source &source = sources[next++];
            const std::size_t capacity = std::min(source.inRange, copied.keys.size());
            copied.count = 0;
            if (capacity == 0) continue;
            WalkTimes(envelopes, source.envelope, framesPerSecond,
                      [&](host::KeyId key, double, auto frame) {
                          if (!range.Contains(frame)) return true;
                          ClipKey &read = copied.keys[copied.count++];
                          read.frame = *frame;
                          for (int tag = host::LWKEY_VALUE; tag < host::KEY_PARAMETER_COUNT; ++tag)
                              ReadTag(envelopes, source.envelope, key, tag, read);
                          ReadAttributes(envelopes, source.envelope, key, read);
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
    WalkTimes(envelopes, envelope, framesPerSecond, [&](host::KeyId key, double, auto frame) {
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
    const std::size_t itemCount = std::min(items.size(), motion.items.size());
    for (std::size_t i = 0; i < itemCount; ++i) {
        const std::vector<CopiedChannel> &copiedChannels = motion.items[i];
        const host::ChannelGroupId group =
            services.itemInfo->chanGroup(items[items.size() - 1 - i]);
        // The target's channels match the copied ones name for name.
        std::size_t slot = 0;
        for (host::ChannelId channel = channelInfo.nextChannel(group, nullptr);
             channel != nullptr && slot < copiedChannels.size();
             channel = channelInfo.nextChannel(group, channel)) {
            const CopiedChannel &copied = copiedChannels[slot++];
            if (std::strcmp(channelInfo.channelName(channel), copied.name.data()) != 0) continue;
            const host::EnvelopeId envelope = channelInfo.channelEnvelope(channel);
            if (envelope == nullptr) continue;
            ClearWindow(envelopes, envelope, window.frames, framesPerSecond, false, doomed);
            bool attributesWritten = false;
            for (const ClipKey &key : std::span(copied.keys).first(copied.count)) {
                const host::KeyId created = envelopes.createKey(
                    envelope, PlacedTime(key, window.shiftFrames, framesPerSecond), key.value);
                if (created == nullptr) continue;
                for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag)
                    WriteTag(envelopes, envelope, created, tag, key, 0.0);
                if (!attributesWritten) WriteAttributes(envelopes, envelope, created, key);
                attributesWritten = true;
            }
        }
    }
}

void PastePrescribed(host::GlobalFunc global, const CopiedMotion &motion) {
    const Services services = tamberlo::LookUpServices(global);
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    const std::size_t selected = CountSelected(services);

    Panel panel(services, global);
    const Table table = ReadSelection(services, selected);
    host::Control *startControl = panel.AddNumber(texts::PASTE_START_FRAME);
    SetControl(startControl, host::CTL_VALUE, motion.frames.first);
    if (!panel.Show()) return;
    const PasteWindow window = PasteWindowOf(motion, GetValue(startControl));
    const double framesPerSecond = services.sceneInfo->framesPerSecond;

    static std::vector<host::KeyId> doomed;
    const std::size_t itemCount = std::min(table.size(), motion.items.size());
    for (std::size_t i = 0; i < itemCount; ++i) {
        const std::vector<CopiedChannel> &copiedChannels = motion.items[i];
        const std::size_t channelCount = std::min(table[i].channels.size(), copiedChannels.size());
        for (std::size_t c = 0; c < channelCount; ++c) {
            // The target's channels match the copied ones name for name.
            const CopiedChannel &copied = copiedChannels[c];
            const host::EnvelopeId envelope =
                services.channelInfo->channelEnvelope(table[i].channels[c].id);
            if (envelope == nullptr) continue;
            ClearWindow(envelopes, envelope, window.frames, framesPerSecond, true, doomed);
            for (const ClipKey &key : std::span(copied.keys).first(copied.count)) {
                const double placedTime = PlacedTime(key, window.shiftFrames, framesPerSecond);
                const host::KeyId created = envelopes.createKey(envelope, placedTime, key.value);
                if (created == nullptr) continue;
                for (int tag = host::LWKEY_VALUE; tag < host::KEY_PARAMETER_COUNT; ++tag)
                    WriteTag(envelopes, envelope, created, tag, key, placedTime);
                WriteAttributes(envelopes, envelope, created, key);
            }
        }
    }
}

}  // namespace bench
