// bench/: the benchmarks of copy and paste, and the takes they measure.
//
// The table of the scene-file benchmark: one row per scene and step, each
// with its times and its ratios to the floor round by round, its peak memory
// in a process of its own against the file's size, and the picture's size.
// A row may lack any of these: a run whose time is not judged (a build run
// under an emulator) still has its peak.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace bench {

// The median of some numbers and their least and greatest.
struct Spread {
    double median = 0.0;
    double least = 0.0;
    double greatest = 0.0;

    static std::optional<Spread> Of(std::span<const double> values);
};

// A step's time over the floor's, round by round, over the rounds in which
// both ran; `step` and `floor` hold each round's seconds, or nothing for a
// round in which that one failed.
std::vector<double> RatiosByRound(std::span<const std::optional<double>> step,
                                  std::span<const std::optional<double>> floor);

struct SceneRow {
    std::string scene;  // "100 x 3000": joints x frames
    std::size_t keys = 0;
    std::uintmax_t fileBytes = 0;
    std::string step;             // what ran, and where: "round trip", "round trip, 32-bit DLL"
    std::vector<double> seconds;  // CPU seconds, one per round; none where not judged
    std::vector<double> toFloor;  // seconds over the floor's in the same round
    std::optional<std::uint64_t> peakBytes;
    // The peak of the same program when it only starts, which the step's
    // peak holds too; it weighs most on small files.
    std::optional<std::uint64_t> startBytes;
    std::optional<std::uintmax_t> pictureBytes;
};

// Prints the rows under a header, then each note on a line of its own.
void PrintSceneTable(std::ostream &out, std::span<const SceneRow> rows,
                     std::span<const std::string> notes);

}  // namespace bench
