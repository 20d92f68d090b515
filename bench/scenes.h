// bench/: the benchmarks of copy and paste, and the takes they measure.
//
// The scenes every benchmark works on: motion-capture takes of a given size
// and shape, with items to copy from and items to paste onto.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "standin/standin.h"

namespace bench {

// Nine channels per item, as a rig's bones have them.
inline constexpr std::array<const char *, 9> CHANNEL_NAMES = {
    "Position.X", "Position.Y", "Position.Z", "Rotation.H", "Rotation.P",
    "Rotation.B", "Scale.X",    "Scale.Y",    "Scale.Z"};
inline constexpr int CHANNELS_PER_ITEM = static_cast<int>(CHANNEL_NAMES.size());
inline constexpr double FRAMES_PER_SECOND = 30.0;

// The time of a key on `frame`. Keys sit half a frame in, so that the frame
// the module computes from the time, and from the time shifted by whole
// frames, is `frame` whatever the rounding of the division.
inline double TimeOfFrame(std::int64_t frame) {
    return (static_cast<double>(frame) + 0.5) / FRAMES_PER_SECOND;
}

// How many items a take has and how many keys it copies in all.
struct Scenario {
    int items = 10;
    std::size_t nominalKeys = 10000;

    // As benchmark names show it: "items:10/keys:10000".
    std::string Name() const;
};

// Where the frames that copy reads and paste clears lie in an envelope:
// covering the whole envelope, so that paste clears it and writes it anew
// from its start to its end, or in the middle of an envelope twice as long.
enum class Placement { Ends, Middle };
const char *PlacementName(Placement placement);

struct Window {
    std::int32_t first = 0;
    std::int32_t last = 0;
};

// One scene per scenario, holding
// - the source: `items` items whose nine channels hold one key per frame on
//   frames 0 .. K-1 (K keys per channel, `keys` keys in all);
// - the end targets: as many items with the same channels and frames, so that
//   a paste at frame 0 clears and rewrites every key they have;
// - the middle targets: as many items whose channels hold 2K keys on frames
//   0 .. 2K-1, so that a paste at frame K/2 clears and
//   rewrites the middle of every channel.
// Every envelope has attributes of its own, so that paste has them to write.
class BenchScene {
  public:
    explicit BenchScene(const Scenario &scenario);
    BenchScene(const BenchScene &) = delete;
    BenchScene &operator=(const BenchScene &) = delete;

    standin::Host &Host() { return host_; }
    const Scenario &Of() const { return scenario_; }

    // Keys per channel, and keys one copy or paste moves in all.
    std::int32_t KeysPerChannel() const { return keysPerChannel_; }
    std::size_t Keys() const;
    // Keys in the whole scene: the source's, the end targets' as many, and
    // the middle targets' twice as many. Pastes leave it so.
    std::size_t BuiltKeys() const { return 4 * Keys(); }

    std::span<const host::ItemId> Sources() const { return sources_; }
    std::span<const host::ItemId> Targets(Placement placement) const;
    // The frames copied from, or pasted onto, the items of `placement`; the
    // source's are the end targets'.
    Window FramesOf(Placement placement) const;

  private:
    // Adds `count` items named `prefix`0.. with every channel keyed on frames
    // 0 .. keysPerChannel-1.
    std::vector<host::ItemId> AddItems(const std::string &prefix, std::int32_t keysPerChannel);

    Scenario scenario_;
    standin::Host host_;
    std::int32_t keysPerChannel_ = 0;
    std::vector<host::ItemId> sources_;
    std::vector<host::ItemId> endTargets_;
    std::vector<host::ItemId> middleTargets_;
};

// The scene of a scenario, built on first use and kept for the rest of the
// run: building one of millions of keys takes far longer than a copy.
BenchScene &SceneOf(const Scenario &scenario);

}  // namespace bench
