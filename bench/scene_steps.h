// bench/: the benchmarks of copy and paste, and the takes they measure.
//
// What the scene-file benchmark runs on a capture scene: the floor (the
// least any program that reads and writes such a file must do) and the two
// things a user asks of tamberlo-scene, run in-process through its library;
// and a program run in a process of its own for its peak memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/capture_scene.h"

namespace bench {

enum class SceneStep {
    // The file read whole, every number on it parsed, the bytes written back.
    Floor,
    // tamberlo-scene SCENE -o OUT: read into the stand-in host, written back.
    RoundTrip,
    // tamberlo-scene SCENE --from <first tenth> --to <second tenth> --at 100
    // -o OUT --plot OUT.svg: every channel and frame of a tenth of the
    // joints pasted onto the next tenth, and the picture of it drawn.
    CopyAndPaste,
};
inline constexpr std::array<SceneStep, 3> SCENE_STEPS = {SceneStep::Floor, SceneStep::RoundTrip,
                                                         SceneStep::CopyAndPaste};

// As the table shows it ("round trip"), and as the command line takes it
// ("roundtrip").
const char *StepTitle(SceneStep step);
const char *StepWord(SceneStep step);
std::optional<SceneStep> StepOfWord(std::string_view word);

// A generated scene file and the files its steps write beside it.
struct SceneCase {
    CaptureShape shape;
    std::filesystem::path scene;

    std::filesystem::path OutputOf(SceneStep step) const;  // <scene>.<step>.lws
    std::filesystem::path Picture() const;                 // <scene>.copy.svg
    // The tool's arguments for a step, its program name first.
    std::vector<std::string> ToolArguments(SceneStep step) const;
};

// Numbers read from a text: every blank-separated token that std::from_chars
// takes whole as a double.
struct NumbersRead {
    std::size_t count = 0;
    double sum = 0.0;  // used, so that no number goes unread
};
NumbersRead ReadNumbers(std::string_view text);

// Runs a step once; for the tool's steps, `moduleFolder` holds Tamberlo.p.
// Returns what went wrong, or nothing.
std::optional<std::string> RunStep(const SceneCase &scene, SceneStep step,
                                   const std::filesystem::path &moduleFolder);

// Whether a step that ran left what it should: the round trip the input's very
// bytes, the floor the same, the copy a scene and a picture. Read after the
// step, outside its time. Returns what is wrong, or nothing.
std::optional<std::string> CheckStepOutput(const SceneCase &scene, SceneStep step);

bool SameBytes(const std::filesystem::path &a, const std::filesystem::path &b);

// A program run in a process of its own: its exit status (128 + the signal
// for one that was killed) and its peak resident memory.
struct ProcessPeak {
    int status = 0;
    std::uint64_t peakBytes = 0;
    double cpuSeconds = 0.0;  // user and system
};
// Runs `arguments` (the program's path first) and waits for it, its standard
// output going to `output` when one is named. Linux starts a child's peak at
// that of the process it was started from, so the caller must still be small.
ProcessPeak RunForPeak(const std::vector<std::string> &arguments,
                       const std::filesystem::path &output = {});

}  // namespace bench
