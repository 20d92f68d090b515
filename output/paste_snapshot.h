// What a paste changed: the channels of some items taken before it, compared
// with what they hold after it, as the picture of the paste draws them and
// the programs list them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "standin/scene.h"

namespace apps {

struct PlotKey {
    double frame = 0.0;
    double value = 0.0;
    bool stepped = false;  // the value holds until the next key
    bool operator==(const PlotKey &) const = default;
};

struct PlottedChannel {
    std::string item;
    std::string channel;
    std::vector<PlotKey> before, after;
};

// The channels of some items of a scene, taken before a paste. After the paste,
// ChangedChannels() returns the channels whose keys (value, time or shape)
// differ from the snapshot, or which did not exist then, in the snapshot's
// item order and the scene's channel order.
class PasteSnapshot {
  public:
    PasteSnapshot(const standin::Scene &scene, std::vector<host::ItemId> items);

    std::vector<PlottedChannel> ChangedChannels(const standin::Scene &scene) const;

  private:
    struct Key {
        double time;
        double value;
        std::int32_t shape;
    };
    struct Channel {
        host::ChannelId id;
        std::vector<Key> keys;
    };
    struct Item {
        host::ItemId id;
        std::vector<Channel> channels;  // ordered by id
    };

    // A detached channel has no envelope and so no keys.
    static std::vector<Key> KeysOf(const standin::Scene &scene, host::EnvelopeId envelope);

    std::vector<Item> items_;
    double framesPerSecond_;
};

}  // namespace apps
