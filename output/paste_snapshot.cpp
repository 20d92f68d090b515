#include "output/paste_snapshot.h"

#include <algorithm>
#include <bit>
#include <functional>

#include "scenefile/scene_file.h"

namespace apps {

namespace {

// The raw slots start at the shape's tag.
constexpr std::size_t SHAPE_SLOT = host::LWKEY_SHAPE - host::LWKEY_SHAPE;

std::int32_t ShapeOf(const standin::KeyState &key) {
    return standin::ShapeOfSlot(key.parameters[SHAPE_SLOT]);
}

}  // namespace

PasteSnapshot::PasteSnapshot(const standin::Scene &scene, std::vector<host::ItemId> items)
    : framesPerSecond_(scene.FramesPerSecond()) {
    items_.reserve(items.size());
    for (host::ItemId item : items) {
        Item &taken = items_.emplace_back(Item{item, {}});
        for (const standin::ChannelState &channel : scene.Channels(item))
            taken.channels.push_back(Channel{channel.id, KeysOf(scene, channel.envelope)});
        // By identity, so that finding a channel again costs a search, not a scan.
        std::ranges::sort(taken.channels, std::less<>(), &Channel::id);
    }
}

std::vector<PasteSnapshot::Key> PasteSnapshot::KeysOf(const standin::Scene &scene,
                                                      host::EnvelopeId envelope) {
    std::vector<Key> keys;
    if (envelope == nullptr) return keys;
    keys.reserve(scene.KeyCount(envelope));
    for (const standin::KeyState &key : scene.Keys(envelope))
        keys.push_back(Key{key.time, key.value, ShapeOf(key)});
    return keys;
}

std::vector<PlottedChannel> PasteSnapshot::ChangedChannels(const standin::Scene &scene) const {
    // Bit for bit: a key the paste did not touch is the very same key.
    const auto sameKey = [](const Key &a, const Key &b) {
        return std::bit_cast<std::uint64_t>(a.time) == std::bit_cast<std::uint64_t>(b.time) &&
               std::bit_cast<std::uint64_t>(a.value) == std::bit_cast<std::uint64_t>(b.value) &&
               a.shape == b.shape;
    };
    const auto plotKeys = [](const std::vector<Key> &keys, double framesPerSecond) {
        std::vector<PlotKey> plotted;
        plotted.reserve(keys.size());
        for (const Key &key : keys)
            plotted.push_back(PlotKey{key.time * framesPerSecond, key.value,
                                      key.shape == standin::SCENE_SHAPE_STEPPED});
        return plotted;
    };

    std::vector<PlottedChannel> changed;
    for (const Item &item : items_) {
        const std::string itemName = scene.ItemName(item.id);
        for (const standin::ChannelState &channel : scene.Channels(item.id)) {
            const std::vector<Key> now = KeysOf(scene, channel.envelope);
            const auto then =
                std::ranges::lower_bound(item.channels, channel.id, std::less<>(), &Channel::id);
            const bool existed = then != item.channels.end() && then->id == channel.id;
            if (existed &&
                std::equal(then->keys.begin(), then->keys.end(), now.begin(), now.end(), sameKey))
                continue;
            PlottedChannel &plotted = changed.emplace_back();
            plotted.item = itemName;
            plotted.channel = channel.name;
            if (existed) plotted.before = plotKeys(then->keys, framesPerSecond_);
            plotted.after = plotKeys(now, scene.FramesPerSecond());
        }
    }
    return changed;
}

}  // namespace apps
