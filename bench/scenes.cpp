#include "bench/scenes.h"

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace bench {

std::string Scenario::Name() const {
    return "items:" + std::to_string(items) + "/keys:" + std::to_string(nominalKeys);
}

const char *PlacementName(Placement placement) {
    return placement == Placement::Ends ? "ends" : "middle";
}

BenchScene::BenchScene(const Scenario &scenario)
    : scenario_(scenario),
      keysPerChannel_(static_cast<std::int32_t>(std::max<std::size_t>(
          1,
          scenario.nominalKeys / static_cast<std::size_t>(scenario.items * CHANNELS_PER_ITEM)))) {
    standin::Scene &scene = host_.Scene();
    scene.SetFramesPerSecond(FRAMES_PER_SECOND);
    sources_ = AddItems("Source", keysPerChannel_);
    endTargets_ = AddItems("EndTarget", keysPerChannel_);
    middleTargets_ = AddItems("MiddleTarget", 2 * keysPerChannel_);
}

std::size_t BenchScene::Keys() const {
    return static_cast<std::size_t>(scenario_.items) * CHANNELS_PER_ITEM *
           static_cast<std::size_t>(keysPerChannel_);
}

std::span<const host::ItemId> BenchScene::Targets(Placement placement) const {
    return placement == Placement::Ends ? endTargets_ : middleTargets_;
}

Window BenchScene::FramesOf(Placement placement) const {
    const std::int32_t first = placement == Placement::Ends ? 0 : keysPerChannel_ / 2;
    return Window{first, first + keysPerChannel_ - 1};
}

std::vector<host::ItemId> BenchScene::AddItems(const std::string &prefix,
                                               std::int32_t keysPerChannel) {
    standin::Scene &scene = host_.Scene();
    std::vector<host::ItemId> items;
    for (int i = 0; i < scenario_.items; ++i) {
        const host::ItemId item = scene.AddItem(prefix + std::to_string(i));
        for (int c = 0; c < CHANNELS_PER_ITEM; ++c) {
            const host::ChannelId channel = scene.AddChannel(item, CHANNEL_NAMES[c]);
            for (std::int32_t frame = 0; frame < keysPerChannel; ++frame)
                scene.AddKey(channel, TimeOfFrame(frame), frame * 0.01 + c);
            const host::EnvelopeId envelope = scene.Channels(item)[c].envelope;
            for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute)
                scene.SetAttribute(envelope, attribute, i * 100 + c * 10 + attribute);
        }
        items.push_back(item);
    }
    return items;
}

BenchScene &SceneOf(const Scenario &scenario) {
    static std::map<std::pair<int, std::size_t>, std::unique_ptr<BenchScene>> scenes;
    std::unique_ptr<BenchScene> &scene = scenes[{scenario.items, scenario.nominalKeys}];
    if (!scene) scene = std::make_unique<BenchScene>(scenario);
    return *scene;
}

}  // namespace bench
