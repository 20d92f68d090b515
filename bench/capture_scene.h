// bench/: the benchmarks of copy and paste, and the takes they measure.
//
// Scene files as a motion-capture session leaves them, for measuring
// tamberlo-scene on real file sizes: a rig of null joints, each with its nine
// motion channels keyed on every frame at 30 frames per second, smooth motion
// with a little noise so that every value takes the seventeen digits a double
// needs. The text is LightWave's version 5 scene format, every number the
// shortest text that reads back to the same double, as Layout writes a
// scene the tool has not touched. The same shape and seed give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace bench {

struct CaptureShape {
    int joints = 10;
    int frames = 300;  // keys per channel, on frames 0 .. frames-1
    std::uint64_t seed = 1;

    // Keys in the whole scene: joints x 9 channels x frames.
    std::size_t Keys() const;
    // "10 x 300", as tables show a scene.
    std::string Name() const;
};

inline constexpr double CAPTURE_FRAMES_PER_SECOND = 30.0;

// The name of joint `joint` of `joints`: Joint000, Joint001, ... with three
// digits, or as many as the last joint's number needs.
std::string JointName(int joint, int joints);

// Hands the scene's text to `sink` piece by piece, in order, pieces of tens
// of kilobytes, so that a file of hundreds of megabytes is written or
// compared without being held whole.
void WriteCaptureScene(const CaptureShape &shape,
                       const std::function<void(std::string_view)> &sink);

// Whether the file at `path` holds exactly the scene's text, compared piece
// by piece as the generator makes it.
bool FileHoldsCaptureScene(const std::filesystem::path &path, const CaptureShape &shape);

// Writes the scene beside `path` and renames it over the path, so that a run
// stopped midway leaves no half scene to be taken for a whole one. Throws
// std::runtime_error when it cannot.
void WriteCaptureSceneFile(const std::filesystem::path &path, const CaptureShape &shape);

// The scene's whole text, for scenes small enough to hold.
std::string CaptureSceneText(const CaptureShape &shape);

}  // namespace bench
