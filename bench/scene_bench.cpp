// tamberlo-scene on capture scene files of 27 thousand to 10 million keys,
// against a floor that reads, parses and writes the same file, in one process
// round by round; and each step's peak memory in a process of its own.
//
//   scene_bench generate --joints N --frames F [--seed S] OUT.lws
//   scene_bench run [--quick | --10m] [--rounds R] [--folder DIR]
//   scene_bench peak STEP SCENE --joints N --frames F   (run by `run`: one step, alone)
//
// `run --dll-bench B --dll-runner R` also runs the copy and paste of the
// largest scene once in B, this program built in the 32-bit tree on the
// Windows DLL, through the script R that runs 32-bit programs (natively or
// under qemu): its peak, and what the DLL itself held of the heap.
//
// scripts/bench.sh runs `run` and prints its table after the copy and paste one.
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/capture_scene.h"
#include "bench/scene_steps.h"
#include "bench/scene_table.h"
#if TAMBERLO_LOADS_PE32
#include "pe32/runtime.h"
#endif

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the built module"
#endif

namespace {

namespace fs = std::filesystem;
using bench::CaptureShape;
using bench::SceneCase;
using bench::SceneStep;

// 27 thousand, 270 thousand and 2.7 million keys; each has a tenth of its
// joints to copy onto the next tenth.
const std::vector<CaptureShape> SHAPES = {{10, 300}, {100, 300}, {100, 3000}};
const CaptureShape TEN_MILLION_KEYS = {100, 11112};
// The order of the steps in a round is drawn from this seed.
constexpr unsigned ORDER_SEED = 20240501;
// Decimal megabytes, as the table gives them.
constexpr double MEGABYTE = 1e6;

fs::path ModuleFolder() {
    return fs::path(TAMBERLO_MODULE_PATH).parent_path();
}

// The CPU time of the whole process, user and system: a step's page faults
// and file reads and writes from the page cache are its cost too.
double ProcessSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void Progress(const std::string &what) {
    const std::time_t now = std::time(nullptr);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", std::localtime(&now));
    std::cerr << "scene_bench: " << what << " (" << clock << ")\n";
}

// What is measured of one scene.
struct SceneResults {
    SceneCase scene;
    // Per step, per round: the CPU seconds, or nothing where the step failed.
    std::array<std::vector<std::optional<double>>, bench::SCENE_STEPS.size()> seconds;
    std::array<std::optional<std::uint64_t>, bench::SCENE_STEPS.size()> peakBytes;
    std::optional<std::uintmax_t> pictureBytes;
};

std::size_t IndexOf(SceneStep step) {
    return static_cast<std::size_t>(step);
}

struct RunOptions {
    bool quick = false;
    bool tenMillion = false;
    // 10, or 5 beside 10 million keys, whose every round takes about a minute.
    std::optional<int> rounds;
    fs::path folder;
    fs::path dllBench;   // this program in the 32-bit tree, on the DLL
    fs::path dllRunner;  // the script that runs a 32-bit program
};

// The copy and paste of one scene by the 32-bit build on the Windows DLL.
struct DllRun {
    const SceneResults *scene = nullptr;
    bench::ProcessPeak copy;
    bench::ProcessPeak start;                // the same program when it only starts
    std::optional<std::uint64_t> heapBytes;  // the most the DLL held of the heap
};

// What the 32-bit program reports of the DLL's heap, on a line of its own.
constexpr std::string_view DLL_HEAP_REPORT = "dll heap peak bytes: ";

std::vector<std::string> PeakArguments(const fs::path &self, const char *step,
                                       const SceneCase &scene) {
    return {self.string(), "peak",
            step,          scene.scene.string(),
            "--joints",    std::to_string(scene.shape.joints),
            "--frames",    std::to_string(scene.shape.frames)};
}

std::vector<bench::SceneRow> Rows(const std::vector<SceneResults> &results,
                                  std::uint64_t startBytes, const std::optional<DllRun> &dll) {
    std::vector<bench::SceneRow> rows;
    for (const SceneResults &result : results) {
        const auto &floor = result.seconds[IndexOf(SceneStep::Floor)];
        for (const SceneStep step : bench::SCENE_STEPS) {
            const auto &seconds = result.seconds[IndexOf(step)];
            bench::SceneRow row;
            row.scene = result.scene.shape.Name();
            row.keys = result.scene.shape.Keys();
            row.fileBytes = fs::file_size(result.scene.scene);
            row.step = bench::StepTitle(step);
            for (const std::optional<double> &round : seconds)
                if (round) row.seconds.push_back(*round);
            if (step != SceneStep::Floor) row.toFloor = bench::RatiosByRound(seconds, floor);
            row.peakBytes = result.peakBytes[IndexOf(step)];
            row.startBytes = startBytes;
            if (step == SceneStep::CopyAndPaste) row.pictureBytes = result.pictureBytes;
            rows.push_back(std::move(row));
        }
    }
    if (dll && dll->copy.status == 0) {
        // Its time is shown, but not set against the floor: it runs emulated
        // where this machine cannot run 32-bit programs.
        bench::SceneRow row;
        row.scene = dll->scene->scene.shape.Name();
        row.keys = dll->scene->scene.shape.Keys();
        row.fileBytes = fs::file_size(dll->scene->scene.scene);
        row.step = "copy and paste, 32-bit DLL";
        row.seconds = {dll->copy.cpuSeconds};
        row.peakBytes = dll->copy.peakBytes;
        row.startBytes = dll->start.peakBytes;
        rows.push_back(std::move(row));
    }
    return rows;
}

// The copy and paste of the largest scene by the 32-bit program on the DLL,
// and the same program when it only starts. Like every peak, measured while
// this process is still small.
std::optional<DllRun> MeasureDll(const RunOptions &options,
                                 const std::vector<SceneResults> &results,
                                 std::vector<std::string> &failures) {
    if (options.dllBench.empty()) return std::nullopt;
    Progress("the 32-bit build on the DLL: " + options.dllBench.string());
    DllRun run;
    run.scene = &results.back();
    // The runner runs the 32-bit program with what follows it.
    const auto runs = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"/bin/sh", options.dllRunner.string()});
        return arguments;
    };
    run.start = bench::RunForPeak(
        runs({options.dllBench.string(), "peak", "start", "-", "--joints", "0", "--frames", "0"}));
    const std::vector<std::string> copy =
        runs(PeakArguments(options.dllBench, "copy", run.scene->scene));
    const fs::path report = fs::path(run.scene->scene.scene).replace_extension(".dll.txt");
    run.copy = bench::RunForPeak(copy, report);
    std::ifstream lines(report);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(DLL_HEAP_REPORT))
            run.heapBytes = std::stoull(line.substr(DLL_HEAP_REPORT.size()));
    if (run.copy.status != 0 || run.start.status != 0 || !run.heapBytes)
        failures.push_back("the 32-bit build on the DLL: exit status " +
                           std::to_string(run.copy.status) + " (and " +
                           std::to_string(run.start.status) + " for a start alone), see " +
                           report.string());
    return run;
}

std::uint64_t OwnPeakBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

std::string Megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / MEGABYTE);
    return text;
}

// The scenes' files, written where they are missing or differ, and their
// results, with a place for each round.
std::vector<SceneResults> PrepareScenes(const std::vector<CaptureShape> &shapes,
                                        const fs::path &folder, int rounds) {
    fs::create_directories(folder);
    std::vector<SceneResults> results;
    for (const CaptureShape &shape : shapes) {
        SceneResults result;
        result.scene = SceneCase{shape, folder / ("capture-" + std::to_string(shape.joints) + "x" +
                                                  std::to_string(shape.frames) + ".lws")};
        if (!bench::FileHoldsCaptureScene(result.scene.scene, shape)) {
            Progress("writing " + result.scene.scene.string());
            bench::WriteCaptureSceneFile(result.scene.scene, shape);
        }
        for (auto &seconds : result.seconds) seconds.assign(static_cast<std::size_t>(rounds), {});
        results.push_back(std::move(result));
    }
    return results;
}

struct StartPeaks {
    std::uint64_t start = 0;  // a child that only starts
    std::uint64_t bench = 0;  // this process, when it starts the steps' children
};

// A process that only starts: measured before this one has made its scenes,
// which leave it a little larger than a process that only starts, so that
// its size does not pass for the child's.
std::uint64_t StartPeak(std::vector<std::string> &failures) {
    const bench::ProcessPeak start =
        bench::RunForPeak({fs::read_symlink("/proc/self/exe").string(), "peak", "start", "-",
                           "--joints", "0", "--frames", "0"});
    if (start.status != 0)
        failures.push_back("a process that only starts exited with " +
                           std::to_string(start.status));
    return start.peakBytes;
}

// Each step alone in a process of its own. This comes before the rounds: a
// child starts from the peak of the process that started it, which must
// still be small. Returns this process's peak then.
std::uint64_t MeasurePeaks(std::vector<SceneResults> &results, std::vector<std::string> &failures) {
    Progress("peak memory, each step in a process of its own");
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const std::uint64_t benchBytes = OwnPeakBytes();
    for (SceneResults &result : results) {
        for (const SceneStep step : bench::SCENE_STEPS) {
            const bench::ProcessPeak peak =
                bench::RunForPeak(PeakArguments(self, bench::StepWord(step), result.scene));
            if (peak.status != 0) {
                failures.push_back(result.scene.shape.Name() + ", " + bench::StepTitle(step) +
                                   " alone: exit status " + std::to_string(peak.status));
                continue;
            }
            result.peakBytes[IndexOf(step)] = peak.peakBytes;
            if (step == SceneStep::CopyAndPaste)
                result.pictureBytes = fs::file_size(result.scene.Picture());
        }
    }
    return benchBytes;
}

// Every step of every scene once per round, in an order drawn anew, so that
// a spell in which the machine runs slow falls on all of them alike. Each
// step's output is checked after its time is taken.
void RunRounds(std::vector<SceneResults> &results, int rounds, std::vector<std::string> &failures) {
    std::vector<std::pair<std::size_t, SceneStep>> tasks;
    for (std::size_t scene = 0; scene < results.size(); ++scene)
        for (const SceneStep step : bench::SCENE_STEPS) tasks.emplace_back(scene, step);
    std::mt19937 order(ORDER_SEED);
    const fs::path moduleFolder = ModuleFolder();
    for (int round = 0; round < rounds; ++round) {
        Progress("round " + std::to_string(round + 1) + " of " + std::to_string(rounds));
        std::shuffle(tasks.begin(), tasks.end(), order);
        for (const auto &[index, step] : tasks) {
            SceneResults &result = results[index];
            // The pages freed by the step before go back to the kernel, so
            // that this one pays for its memory as the tool run alone does.
            malloc_trim(0);
            const double before = ProcessSeconds();
            std::optional<std::string> failure = bench::RunStep(result.scene, step, moduleFolder);
            const double seconds = ProcessSeconds() - before;
            if (!failure) failure = bench::CheckStepOutput(result.scene, step);
            if (failure) {
                failures.push_back(result.scene.shape.Name() + ", " + bench::StepTitle(step) +
                                   ", round " + std::to_string(round + 1) + ": " + *failure);
                continue;
            }
            result.seconds[IndexOf(step)][static_cast<std::size_t>(round)] = seconds;
        }
    }
}

int Run(const RunOptions &options) {
    std::vector<CaptureShape> shapes = SHAPES;
    if (options.quick) shapes = {SHAPES.front()};
    if (options.tenMillion && !options.quick) shapes.push_back(TEN_MILLION_KEYS);
    const int rounds =
        options.quick ? 1 : std::max(1, options.rounds.value_or(options.tenMillion ? 5 : 10));

    std::vector<std::string> failures;
    StartPeaks peaks;
    peaks.start = StartPeak(failures);
    std::vector<SceneResults> results = PrepareScenes(shapes, options.folder, rounds);
    peaks.bench = MeasurePeaks(results, failures);
    const std::optional<DllRun> dll = MeasureDll(options, results, failures);
    RunRounds(results, rounds, failures);

    std::cout << "Scene files through tamberlo-scene: " << rounds
              << (rounds == 1 ? " round" : " rounds")
              << (options.quick ? " of the smallest scene, which shows that it works and "
                                  "measures nothing"
                                : "")
              << "\n\n";
    std::vector<std::string> notes = {
        "",
        "scene: joints x frames, nine channels per joint, a key per frame; the copy pastes the "
        "first tenth of the joints onto the next tenth at frame 100, with its picture.",
        "floor: the file read whole, every blank-separated number parsed with std::from_chars, "
        "the bytes written to a new file.",
        "CPU ms: the process's CPU time (user and system) of one step, in-process; / floor: the "
        "step's time over the floor's of the same scene in the same round.",
        "peak: ru_maxrss of the step run alone in a process of its own, which holds at least the " +
            Megabytes(peaks.bench) + " of the bench that started it; a process that only starts " +
            "peaks at " + Megabytes(peaks.start) + ", which (peak-start) leaves out.",
        "goals at 2.7M keys: round trip / floor at most 2, copy and paste / floor at most 2.5, "
        "peak/file at most 3.",
    };
    if (dll && dll->heapBytes) {
        const std::size_t copiedKeys = dll->scene->scene.shape.Keys() / 10;
        notes.push_back(
            "32-bit DLL: the same copy and paste, without the picture (that build has no "
            "PLplot), by " +
            options.dllBench.string() +
            " on the Windows DLL through the PE32 "
            "loader, once; its time is not judged, for it runs emulated where this machine "
            "cannot run 32-bit programs. Its peak is that of the whole process, the emulator's "
            "too: it peaks at " +
            Megabytes(dll->start.peakBytes) +
            " when it only starts, "
            "which (peak-start) leaves out. The DLL itself held at most " +
            Megabytes(*dll->heapBytes) +
            " of the heap (its clipboard, and the paste's list of "
            "keys to clear): " +
            std::to_string(*dll->heapBytes / std::max<std::size_t>(copiedKeys, 1)) +
            " bytes per copied key; the stand-in host holds the rest, the scene's keys above all.");
    }
    bench::PrintSceneTable(std::cout, Rows(results, peaks.start, dll), notes);
    for (const std::string &failure : failures) std::cout << "failed: " << failure << '\n';
    return failures.empty() ? 0 : 1;
}

// One step alone, in the process `run` measures the peak of; "start" does
// nothing, for the peak of a process that only starts.
int Peak(const std::string &word, const SceneCase &scene) {
    if (word == "start") return 0;
    const std::optional<SceneStep> step = bench::StepOfWord(word);
    if (!step) {
        std::cerr << "scene_bench peak: no step \"" << word << "\"\n";
        return 2;
    }
    if (const auto failure = bench::RunStep(scene, *step, ModuleFolder())) {
        std::cerr << "scene_bench peak " << word << ": " << *failure << '\n';
        return 1;
    }
#if TAMBERLO_LOADS_PE32
    std::cout << DLL_HEAP_REPORT << pe32::DllHeapUse().peak << '\n';
#endif
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app("tamberlo-scene on capture scene files, against a floor", "scene_bench");
    app.require_subcommand(1);

    CLI::App *generate = app.add_subcommand("generate", "write a capture scene file");
    CaptureShape shape;
    std::string output;
    generate->add_option("--joints", shape.joints, "null joints of nine channels")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    generate->add_option("--frames", shape.frames, "frames, one key each per channel")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    generate->add_option("--seed", shape.seed, "the motion's seed")->capture_default_str();
    generate->add_option("scene", output, "the file to write")->type_name("OUT.lws")->required();

    CLI::App *run = app.add_subcommand("run", "measure, and print the table");
    RunOptions options;
    options.folder = fs::read_symlink("/proc/self/exe").parent_path() / "scenes";
    run->add_flag("--quick", options.quick, "one round of the smallest scene");
    run->add_flag("--10m", options.tenMillion, "add a scene of about 10 million keys");
    run->add_option("--rounds", options.rounds, "rounds of timing (default 10; 5 with --10m)");
    run->add_option("--folder", options.folder, "where the scenes are kept")->capture_default_str();
    run->add_option("--dll-bench", options.dllBench,
                    "this program built in the 32-bit tree, to run the largest copy on the DLL");
    run->add_option("--dll-runner", options.dllRunner,
                    "the script that runs a 32-bit program (build/linux32/run-i386.sh)")
        ->needs(run->get_option("--dll-bench"));
    run->get_option("--dll-bench")->needs(run->get_option("--dll-runner"));

    CLI::App *peak = app.add_subcommand("peak", "one step alone, for its peak memory");
    std::string step;
    SceneCase peakScene;
    peak->add_option("step", step, "floor, roundtrip, copy or start")->required();
    peak->add_option("scene", peakScene.scene, "the scene file")->required();
    peak->add_option("--joints", peakScene.shape.joints, "the scene's joints")->required();
    peak->add_option("--frames", peakScene.shape.frames, "the scene's frames")->required();

    CLI11_PARSE(app, argc, argv);
    try {
        if (generate->parsed()) {
            bench::WriteCaptureSceneFile(output, shape);
            std::cout << output << ": " << shape.Keys() << " keys, " << fs::file_size(output)
                      << " bytes\n";
            return 0;
        }
        if (run->parsed()) return Run(options);
        return Peak(step, peakScene);
    } catch (const std::exception &error) {
        std::cerr << "scene_bench: " << error.what() << '\n';
        return 1;
    }
}
