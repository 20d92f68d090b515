// The floor and the tool's two steps on a capture scene, and programs run
// apart for their peak memory.
#include "bench/scene_steps.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include "apps/scene_tool.h"

namespace bench {

namespace fs = std::filesystem;

namespace {

// The copy pastes at this frame, inside every scene's frames.
constexpr int PASTE_FRAME = 100;

// The 32-bit build, which runs the DLL, has no PLplot and draws nothing.
#if TAMBERLO_HAS_PASTE_PLOT
constexpr bool DRAWS = true;
#else
constexpr bool DRAWS = false;
#endif

std::string Joined(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names) text += (text.empty() ? "" : ",") + name;
    return text;
}

// The names of joints first .. first+count-1.
std::vector<std::string> JointNames(int first, int count, int joints) {
    std::vector<std::string> names;
    for (int joint = first; joint < first + count; ++joint)
        names.push_back(JointName(joint, joints));
    return names;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The floor: read whole into memory that is not filled first, since the read
// fills it; every number parsed; the same bytes written to a new file.
std::optional<std::string> ReadParseWrite(const SceneCase &scene) {
    std::ifstream in(scene.scene, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(scene.scene, error);
    if (!in || error) return "cannot read " + scene.scene.string();
    const auto bytes = std::make_unique_for_overwrite<char[]>(size);
    in.read(bytes.get(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size)
        return "cannot read " + scene.scene.string();
    const NumbersRead numbers = ReadNumbers({bytes.get(), static_cast<std::size_t>(size)});
    // Each key line alone holds nine numbers.
    if (numbers.count < 9 * scene.shape.Keys() || !std::isfinite(numbers.sum))
        return "the floor read " + std::to_string(numbers.count) + " numbers";
    std::ofstream out(scene.OutputOf(SceneStep::Floor), std::ios::binary | std::ios::trunc);
    out.write(bytes.get(), static_cast<std::streamsize>(size));
    out.close();
    if (!out) return "cannot write " + scene.OutputOf(SceneStep::Floor).string();
    return std::nullopt;
}

}  // namespace

const char *StepTitle(SceneStep step) {
    switch (step) {
        case SceneStep::Floor:
            return "floor";
        case SceneStep::RoundTrip:
            return "round trip";
        case SceneStep::CopyAndPaste:
            break;
    }
    return "copy and paste";
}

const char *StepWord(SceneStep step) {
    switch (step) {
        case SceneStep::Floor:
            return "floor";
        case SceneStep::RoundTrip:
            return "roundtrip";
        case SceneStep::CopyAndPaste:
            break;
    }
    return "copy";
}

std::optional<SceneStep> StepOfWord(std::string_view word) {
    for (const SceneStep step : SCENE_STEPS)
        if (word == StepWord(step)) return step;
    return std::nullopt;
}

fs::path SceneCase::OutputOf(SceneStep step) const {
    return fs::path(scene).replace_extension(std::string(".") + StepWord(step) + ".lws");
}

fs::path SceneCase::Picture() const {
    return fs::path(scene).replace_extension(".copy.svg");
}

std::vector<std::string> SceneCase::ToolArguments(SceneStep step) const {
    std::vector<std::string> arguments = {"tamberlo-scene", scene.string()};
    if (step == SceneStep::CopyAndPaste) {
        const int tenth = std::max(1, shape.joints / 10);
        arguments.insert(arguments.end(), {"--from", Joined(JointNames(0, tenth, shape.joints)),
                                           "--to", Joined(JointNames(tenth, tenth, shape.joints)),
                                           "--at", std::to_string(PASTE_FRAME)});
        if (DRAWS) arguments.insert(arguments.end(), {"--plot", Picture().string()});
    }
    arguments.insert(arguments.end(), {"-o", OutputOf(step).string()});
    return arguments;
}

NumbersRead ReadNumbers(std::string_view text) {
    NumbersRead numbers;
    const char *at = text.data();
    const char *const end = text.data() + text.size();
    while (at < end) {
        while (at < end && IsBlank(*at)) ++at;
        const char *const token = at;
        while (at < end && !IsBlank(*at)) ++at;
        if (at == token) break;
        double value = 0.0;
        const auto [parsed, error] = std::from_chars(token, at, value);
        if (error != std::errc() || parsed != at) continue;
        ++numbers.count;
        numbers.sum += value;
    }
    return numbers;
}

std::optional<std::string> RunStep(const SceneCase &scene, SceneStep step,
                                   const fs::path &moduleFolder) {
    if (step == SceneStep::Floor) return ReadParseWrite(scene);
    // What the tool prints is made as it would be for a terminal, and dropped.
    std::ostringstream out, err;
    const int status = apps::RunSceneTool(scene.ToolArguments(step), moduleFolder, out, err);
    if (status == 0) return std::nullopt;
    return "tamberlo-scene exited with " + std::to_string(status) + ": " + err.str();
}

std::optional<std::string> CheckStepOutput(const SceneCase &scene, SceneStep step) {
    const fs::path output = scene.OutputOf(step);
    if (step != SceneStep::CopyAndPaste) {
        if (!SameBytes(scene.scene, output))
            return output.string() + " differs from " + scene.scene.string();
        return std::nullopt;
    }
    std::error_code error;
    for (const fs::path &written : {output, scene.Picture()}) {
        if (!DRAWS && written == scene.Picture()) continue;
        if (fs::file_size(written, error) == 0 || error) return written.string() + " is empty";
    }
    return std::nullopt;
}

bool SameBytes(const fs::path &a, const fs::path &b) {
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    if (!first || !second) return false;
    constexpr std::size_t CHUNK = 1 << 20;
    std::string left(CHUNK, '\0'), right(CHUNK, '\0');
    while (first && second) {
        first.read(left.data(), CHUNK);
        second.read(right.data(), CHUNK);
        if (first.gcount() != second.gcount() ||
            left.compare(0, static_cast<std::size_t>(first.gcount()), right, 0,
                         static_cast<std::size_t>(second.gcount())) != 0)
            return false;
    }
    return first.eof() && second.eof();
}

ProcessPeak RunForPeak(const std::vector<std::string> &arguments,
                       const std::filesystem::path &output) {
    std::vector<std::string> owned(arguments);
    std::vector<char *> argv;
    for (std::string &argument : owned) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return ProcessPeak{127, 0};
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR) return ProcessPeak{127, 0};
    ProcessPeak peak;
    // ru_maxrss is in kilobytes on Linux.
    peak.peakBytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
    for (const timeval &time : {usage.ru_utime, usage.ru_stime})
        peak.cpuSeconds +=
            static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
    peak.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return peak;
}

}  // namespace bench
