// Copy and paste at motion-capture scale. For takes of ten thousand to ten
// million keys, in ten and in a hundred items of nine channels, each command
// is measured three ways in one run:
// - through the loaded module in the stand-in host ("module");
// - as the host calls the module makes, made directly ("prescribed");
// - as the fewest host calls that do the same work ("floor").
// Besides: the first copy into fresh memory, and the bytes the clipboard
// holds per key. Names read "<command>/<how>/items:<n>/keys:<n>/<placement>";
// scripts/bench.sh runs them and prints one table.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "bench/direct_calls.h"
#include "bench/scenes.h"
#include "entry/activation.h"
#include "model/motion_clipboard.h"
#include "standin/standin.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the built module"
#endif

namespace {

using bench::BenchScene;
using bench::CopiedMotion;
using bench::Placement;
using bench::Scenario;

constexpr const char *COPY = "Ruxo_Tamberlo copy";
constexpr const char *PASTE = "Ruxo_Tamberlo paste";

// ---------------------------------------------------------------------------
// Memory.

// Page faults this thread has taken so far: a page the process touches for
// the first time since the kernel had it back costs one.
long PageFaults() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

// ---------------------------------------------------------------------------
// The module, loaded once for every benchmark that goes through it.

class Module {
  public:
    static Module &Shared() {
        static Module module;
        return module;
    }

    const standin::LoadedModule &Loaded() {
        if (!loaded_) loaded_ = std::make_unique<standin::LoadedModule>(TAMBERLO_MODULE_PATH);
        return *loaded_;
    }

    // Unloads the module, its clipboard with it, has the allocator hand every
    // free page back to the kernel, and loads the module again: the process
    // as it is before the first copy of a session, where each page the
    // clipboard takes is new to it.
    void LoadFresh() {
        loaded_.reset();
        copied_.reset();
        malloc_trim(0);
        Loaded();
    }

    // What the clipboard holds: the copy of which scene's items.
    bool Holds(const BenchScene &scene, Placement placement) const {
        return copied_ == std::make_pair(&scene, placement);
    }
    void Copied(const BenchScene &scene, Placement placement) {
        copied_ = std::make_pair(&scene, placement);
    }

  private:
    std::unique_ptr<standin::LoadedModule> loaded_;
    std::optional<std::pair<const BenchScene *, Placement>> copied_;
};

// ---------------------------------------------------------------------------
// The user, and the scene made ready for a command.

standin::ScriptedUser::Script Confirm() {
    return [](standin::PanelSession &) { return standin::PanelOutcome::Confirm; };
}

// Types `frame` into the paste panel's start frame, its one number field.
standin::ScriptedUser::Script PasteAt(std::int32_t frame) {
    return [frame](standin::PanelSession &panel) {
        for (const standin::ControlView &control : panel.Controls())
            if (control.typeName == host::NUM_CONTROL) panel.Type(control.label, frame);
        return standin::PanelOutcome::Confirm;
    };
}

// The items copied for `placement`: the source, or the long middle targets.
std::span<const host::ItemId> CopiedItems(const BenchScene &scene, Placement placement) {
    return placement == Placement::Ends ? scene.Sources() : scene.Targets(Placement::Middle);
}

// Selects the items a copy of `placement` reads and makes their window the
// scene's frame range, which the copy panel shows and the user confirms.
void PrepareCopy(BenchScene &scene, Placement placement) {
    scene.Host().MakeCurrent();
    const std::span<const host::ItemId> items = CopiedItems(scene, placement);
    scene.Host().Scene().Select({items.begin(), items.end()});
    const bench::Window frames = scene.FramesOf(placement);
    scene.Host().Scene().SetFrames(frames.first, frames.last);
}

void PreparePaste(BenchScene &scene, Placement placement) {
    scene.Host().MakeCurrent();
    const std::span<const host::ItemId> items = scene.Targets(placement);
    scene.Host().Scene().Select({items.begin(), items.end()});
}

void ModuleCopy(BenchScene &scene) {
    scene.Host().User().Then(Confirm());
    scene.Host().Activate(Module::Shared().Loaded(), COPY);
}

// The clipboard of the module holding the copy of the source, as every paste
// needs it.
void EnsureSourceCopied(BenchScene &scene) {
    if (Module::Shared().Holds(scene, Placement::Ends)) return;
    PrepareCopy(scene, Placement::Ends);
    ModuleCopy(scene);
    Module::Shared().Copied(scene, Placement::Ends);
}

// What the direct copies fill and the direct pastes read, one per scene and
// placement, allocated once. The source's is filled at once, so that a
// direct paste always has the motion to write.
CopiedMotion &MotionOf(BenchScene &scene, Placement placement) {
    static std::map<std::pair<const BenchScene *, Placement>, std::unique_ptr<CopiedMotion>>
        motions;
    std::unique_ptr<CopiedMotion> &motion = motions[{&scene, placement}];
    if (!motion) {
        motion = std::make_unique<CopiedMotion>(scene.Of().items, scene.KeysPerChannel());
        scene.Host().MakeCurrent();
        bench::CopyFloor(scene.Host().Global(), CopiedItems(scene, placement),
                         scene.FramesOf(placement), *motion);
    }
    return *motion;
}

// ---------------------------------------------------------------------------
// Measuring.

// Ends the benchmark with an error when the host saw a breach of its contract
// or the scene no longer holds the keys it was built with: a measurement of
// a command that went wrong is no measurement.
void CheckScene(benchmark::State &state, BenchScene &scene) {
    const standin::Host &host = scene.Host();
    if (!host.Violations().empty()) {
        std::ostringstream text;
        text << host.Violations().front();
        state.SkipWithError(("the host saw a breach: " + text.str()).c_str());
    } else if (host.Scene().TotalKeyCount() != scene.BuiltKeys()) {
        state.SkipWithError("the scene does not hold the keys it was built with");
    }
}

void CheckCopied(benchmark::State &state, const BenchScene &scene, const CopiedMotion &motion) {
    if (motion.KeyCount() != scene.Keys()) state.SkipWithError("the copy missed keys");
}

// The counters every timed benchmark reports: keys moved per run and page
// faults per key.
void Report(benchmark::State &state, BenchScene &scene, long pageFaults) {
    const double keys = static_cast<double>(scene.Keys());
    const double runs = static_cast<double>(state.iterations());
    state.counters["keys"] = keys;
    state.counters["faults_per_key"] =
        runs > 0 ? static_cast<double>(pageFaults) / (runs * keys) : 0;
    CheckScene(state, scene);
}

// Times `once`, run as often as the library asks.
template <typename Once>
void Measure(benchmark::State &state, BenchScene &scene, Once &&once) {
    const long faultsBefore = PageFaults();
    for (auto _ : state) once();
    Report(state, scene, PageFaults() - faultsBefore);
}

// ---------------------------------------------------------------------------
// Copy.

// A warm copy: the same copy again, its clipboard replacing one of the same
// size. When the clipboard holds another copy (a smaller one would have let
// the allocator give the memory back), one copy goes first, untimed.
void CopyThroughModule(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    PrepareCopy(scene, placement);
    if (!Module::Shared().Holds(scene, placement)) {
        ModuleCopy(scene);
        Module::Shared().Copied(scene, placement);
    }
    Measure(state, scene, [&] { ModuleCopy(scene); });
}

void CopyPrescribedCalls(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    CopiedMotion &motion = MotionOf(scene, placement);
    PrepareCopy(scene, placement);
    standin::Host &host = scene.Host();
    Measure(state, scene, [&] {
        host.User().Then(Confirm());
        bench::CopyPrescribed(host.Global(), motion);
    });
    CheckCopied(state, scene, motion);
}

void CopyFloorCalls(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    CopiedMotion &motion = MotionOf(scene, placement);
    scene.Host().MakeCurrent();
    const std::span<const host::ItemId> items = CopiedItems(scene, placement);
    const bench::Window frames = scene.FramesOf(placement);
    Measure(state, scene, [&] { bench::CopyFloor(scene.Host().Global(), items, frames, motion); });
    CheckCopied(state, scene, motion);
}

// The first copy of a session: every run loads the module afresh into a
// process whose allocator holds no free memory, outside the timing. Page
// faults are counted over the copy alone.
void CopyIntoFreshMemory(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    PrepareCopy(scene, placement);
    long pageFaults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Module::Shared().LoadFresh();
        state.ResumeTiming();
        const long before = PageFaults();
        ModuleCopy(scene);
        pageFaults += PageFaults() - before;
    }
    Module::Shared().Copied(scene, placement);
    Report(state, scene, pageFaults);
}

// ---------------------------------------------------------------------------
// Paste. Every paste clears the keys it replaces, so the scene keeps its
// size from run to run.

void PasteThroughModule(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    EnsureSourceCopied(scene);
    PreparePaste(scene, placement);
    standin::Host &host = scene.Host();
    const std::int32_t start = scene.FramesOf(placement).first;
    Measure(state, scene, [&] {
        host.User().Then(PasteAt(start));
        host.Activate(Module::Shared().Loaded(), PASTE);
    });
}

void PastePrescribedCalls(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    const CopiedMotion &motion = MotionOf(scene, Placement::Ends);
    PreparePaste(scene, placement);
    standin::Host &host = scene.Host();
    const std::int32_t start = scene.FramesOf(placement).first;
    Measure(state, scene, [&] {
        host.User().Then(PasteAt(start));
        bench::PastePrescribed(host.Global(), motion);
    });
}

void PasteFloorCalls(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    const CopiedMotion &motion = MotionOf(scene, Placement::Ends);
    scene.Host().MakeCurrent();
    const std::span<const host::ItemId> items = scene.Targets(placement);
    const std::int32_t start = scene.FramesOf(placement).first;
    Measure(state, scene, [&] { bench::PasteFloor(scene.Host().Global(), items, motion, start); });
}

// ---------------------------------------------------------------------------
// The clipboard's bytes per key: one copy through the module's own library,
// whose clipboard can be read, against the bytes a key's fields need.

std::size_t RecordBytes(const tamberlo::ClipContent &content) {
    std::size_t bytes = content.items.size() * sizeof(tamberlo::ClipItem);
    for (const tamberlo::ClipItem &item : content.items) {
        bytes += item.channelArray.size() * sizeof(tamberlo::ClipChannel);
        for (const tamberlo::ClipChannel &channel : item.channelArray)
            bytes += channel.keyArray.size() * sizeof(tamberlo::ClipKey);
    }
    return bytes;
}

std::size_t KeyCount(const tamberlo::ClipContent &content) {
    std::size_t keys = 0;
    for (const tamberlo::ClipItem &item : content.items)
        for (const tamberlo::ClipChannel &channel : item.Channels()) keys += channel.Keys().size();
    return keys;
}

constexpr std::size_t KEY_FIELD_BYTES = [] {
    const tamberlo::ClipKey key;
    return sizeof key.value + sizeof key.time + sizeof key.parameters + sizeof key.frame +
           sizeof key.attributes;
}();

void ClipboardBytes(benchmark::State &state, const Scenario &scenario, Placement placement) {
    BenchScene &scene = bench::SceneOf(scenario);
    PrepareCopy(scene, placement);
    standin::Host &host = scene.Host();
    tamberlo::MotionClipboard &clipboard = tamberlo::Clipboard();
    std::size_t keys = 0;
    std::size_t recordBytes = 0;
    for (auto _ : state) {
        host.User().Then(Confirm());
        tamberlo::ActivateCopy(host::LAYOUT_GENERIC_VERSION, host.Global(), nullptr, nullptr);
        keys = KeyCount(clipboard.Content());
        recordBytes = RecordBytes(clipboard.Content());
        clipboard.Release();
    }
    const double perKey = keys > 0 ? 1.0 / static_cast<double>(keys) : 0.0;
    state.counters["keys"] = static_cast<double>(keys);
    state.counters["record_bytes_per_key"] = static_cast<double>(recordBytes) * perKey;
    state.counters["field_bytes_per_key"] = static_cast<double>(KEY_FIELD_BYTES);
    if (keys != scene.Keys()) state.SkipWithError("the copy missed keys");
    CheckScene(state, scene);
}

// ---------------------------------------------------------------------------

using Body = void (*)(benchmark::State &, const Scenario &, Placement);

benchmark::internal::Benchmark *Register(const char *what, const Scenario &scenario,
                                         Placement placement, Body body) {
    const std::string name =
        std::string(what) + "/" + scenario.Name() + "/" + bench::PlacementName(placement);
    return benchmark::RegisterBenchmark(
               name.c_str(), [=](benchmark::State &state) { body(state, scenario, placement); })
        ->Unit(benchmark::kMillisecond);
}

void RegisterScenario(const Scenario &scenario) {
    for (Placement placement : {Placement::Ends, Placement::Middle}) {
        Register("copy/module", scenario, placement, CopyThroughModule);
        Register("copy/prescribed", scenario, placement, CopyPrescribedCalls);
        Register("copy/floor", scenario, placement, CopyFloorCalls);
        Register("paste/module", scenario, placement, PasteThroughModule);
        Register("paste/prescribed", scenario, placement, PastePrescribedCalls);
        Register("paste/floor", scenario, placement, PasteFloorCalls);
    }
    Register("copy/fresh", scenario, Placement::Ends, CopyIntoFreshMemory);
    // A count, not a time: one run is enough.
    Register("clipboard/bytes", scenario, Placement::Ends, ClipboardBytes)
        ->Iterations(1)
        ->Repetitions(1);
}

}  // namespace

int main(int argc, char **argv) {
    for (int items : {10, 100})
        for (std::size_t keys : {10000u, 100000u, 1000000u, 10000000u})
            RegisterScenario(Scenario{items, keys});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
