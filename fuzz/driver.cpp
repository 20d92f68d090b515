// The stories of the copy-and-paste fuzzer, run through a loaded module.
//
// Each input builds a small random scene in the stand-in host, then runs a few
// commands through the loaded module: copy-panel sessions with random picks,
// switches, group choices and typed frame ranges, pastes onto random
// selections at random start frames, and changes of the frame rate and the
// scene's frame range. After every command the whole scene (every item, every
// channel's name and type, every key's time, value and parameter bytes, every
// envelope's attributes) is compared with a reference model kept here.
//
// The model shares no code with the module and is written as the plainest
// statement of what the commands must do: lists of names and flags, keys in a
// map by time, and loops that say what a copy captures and what a paste clears
// and writes. A difference is printed with the input's whole story and ends
// the run.
//
// The module stays loaded for the whole run, and its clipboard with it. So
// that every input means the same thing whenever it runs, each one finds the
// clipboard in a known state and leaves it so: a confirmed copy of one item
// without channels, made in a throwaway host at start-up and again after
// every input. The refusal of a paste with nothing copied is checked once, at
// start-up, while the clipboard is still empty.
//
// Set TAMBERLO_FUZZ_VERBOSE=1 to print every input's story as it runs.
#include "fuzz/driver.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/generator.h"
#include "fuzz/model.h"
#include "fuzz/story.h"
#include "standin/standin.h"
#include "transfer/labels.h"

namespace fuzz {
namespace {

using standin::PanelOutcome;
using standin::PanelSession;

constexpr const char *COPY = "Ruxo_Tamberlo copy";
constexpr const char *PASTE = "Ruxo_Tamberlo paste";

// Labels and messages as the user reads them.
constexpr const char *START_FRAME = apps::labels::START_FRAME;
constexpr const char *END_FRAME = apps::labels::END_FRAME;
constexpr const char *ITEM_LIST = apps::labels::ITEM;
constexpr const char *CHANNEL_LIST = apps::labels::CHANNEL;
constexpr const char *ENABLED = apps::labels::ENABLED;
constexpr const char *GROUP_POPUP = apps::labels::SWITCH_ALL;
constexpr const char *PASTE_START = apps::labels::PASTE_START_FRAME;
constexpr const char *NOTHING_COPIED = apps::labels::NOTHING_COPIED;
constexpr const char *NO_ITEM_SELECTED = apps::labels::NO_ITEM_SELECTED;
constexpr const char *COUNT_MISMATCH = apps::labels::COUNT_MISMATCH;

constexpr int MAX_OPERATIONS = 6;
constexpr int MAX_STEPS = 10;
constexpr int MAX_SELECTION = 4;

// ---------------------------------------------------------------------------
// Running the commands and checking what the host saw.

std::vector<host::ItemId> Ids(const World &world, const std::vector<std::size_t> &selection) {
    std::vector<host::ItemId> ids;
    for (std::size_t index : selection) ids.push_back(world.items[index].id);
    return ids;
}

struct Before {
    std::size_t errors;
    std::size_t panels;
};

Before Mark(const standin::Host &host) {
    return Before{host.Errors().size(), host.Panels().size()};
}

// A refusal shows one message and opens no panel.
void ExpectRefusal(standin::Host &host, const Before &before, const char *message,
                   const std::string &command) {
    if (host.Errors().size() != before.errors + 1)
        Fail(command + ": expected the message \"" + std::string(message) + "\", saw " +
             std::to_string(host.Errors().size() - before.errors) + " messages");
    const auto &[first, second] = host.Errors().back();
    if (standin::Utf8FromCp932(first) != message || !second.empty())
        Fail(command + ": message \"" + standin::Utf8FromCp932(first) + "\" / \"" +
             standin::Utf8FromCp932(second) + "\", expected \"" + message + "\"");
    for (std::size_t p = before.panels; p < host.Panels().size(); ++p)
        if (host.Panels()[p].opened) Fail(command + ": a panel opened although it was refused");
}

// The one panel the command opened, and how the user left it.
void ExpectPanel(standin::Host &host, const Before &before, PanelOutcome outcome,
                 const std::string &command) {
    if (host.Errors().size() != before.errors)
        Fail(command + ": unexpected message \"" +
             standin::Utf8FromCp932(host.Errors().back().first) + "\"");
    if (host.User().Pending() != 0) Fail(command + ": the panel never opened");
    std::size_t opened = 0;
    for (std::size_t p = before.panels; p < host.Panels().size(); ++p)
        if (host.Panels()[p].opened) {
            ++opened;
            if (host.Panels()[p].outcome != outcome)
                Fail(command + ": the panel was " +
                     (outcome == PanelOutcome::Confirm ? "cancelled, expected confirmed"
                                                       : "confirmed, expected cancelled"));
        }
    if (opened != 1) Fail(command + ": " + std::to_string(opened) + " panels opened, expected 1");
}

void Activate(standin::Host &host, const standin::LoadedModule &module, const char *server) {
    const int result = host.Activate(module, server);
    if (result != host::AFUNC_OK) Fail(std::string(server) + " returned " + std::to_string(result));
    if (!host.Violations().empty()) {
        std::string detail;
        for (const standin::Violation &violation : host.Violations()) {
            std::ostringstream line;
            line << "  " << violation << "\n";
            detail += line.str();
        }
        Fail(std::string(server) + " broke the host contract", detail);
    }
    if (host.LivePanelCount() != 0) Fail(std::string(server) + " left a panel alive");
}

// One step of the user in the copy panel. Row and choice numbers are read
// raw and fitted to what the panel shows when the step runs.
struct Step {
    enum Kind {
        PickItem,
        PickChannel,
        SetSwitch,
        FlipSwitch,
        Choose,
        TypeFirst,
        TypeLast,
        PickPast
    };
    Kind kind = PickItem;
    int value = 0;
};

// Checks what the user sees of the module's own controls.
void ComparePanel(PanelSession &session, CopyPanel &panel, const std::string &after) {
    const std::vector<std::string> rows = session.RowBytes(CHANNEL_LIST);
    const std::vector<std::string> expected = panel.ChannelRows();
    if (rows != expected) {
        std::string detail = "---- expected rows:\n";
        for (const std::string &row : expected) detail += "  " + Quoted(row) + "\n";
        detail += "---- shown rows:\n";
        for (const std::string &row : rows) detail += "  " + Quoted(row) + "\n";
        Fail("copy panel: the channel list differs after " + after, detail);
    }
    const std::intptr_t shownSwitch = session.Control(ENABLED).value;
    if (shownSwitch != panel.switchValue)
        Fail("copy panel: the switch shows " + std::to_string(shownSwitch) + ", expected " +
             std::to_string(panel.switchValue) + " after " + after);
    const std::intptr_t shownRow = session.Control(CHANNEL_LIST).value;
    if (shownRow != panel.channelRow)
        Fail("copy panel: the channel list is at row " + std::to_string(shownRow) + ", expected " +
             std::to_string(panel.channelRow) + " after " + after);
}

// Runs one step on the host's panel and on the model; throws, as the host's
// user does, for a row that is not shown.
void RunStep(PanelSession &session, CopyPanel &panel, const Step &step, bool unchecked,
             bool &endedByHost) {
    const int itemRows = static_cast<int>(panel.table.size());
    const int channelRows = static_cast<int>(panel.ChannelRows().size());
    // Out-of-range numbers only when the host lets them through.
    const auto fit = [&](int raw, int count) {
        const unsigned spread = static_cast<unsigned>(count) + (unchecked ? 4u : 0u);
        const int row = static_cast<int>(static_cast<unsigned>(raw) % spread);
        return unchecked ? row - 2 : row;
    };
    std::string what;
    switch (step.kind) {
        case Step::PickItem: {
            const int row = fit(step.value, itemRows);
            what = "pick item row " + std::to_string(row);
            session.Pick(ITEM_LIST, row);
            panel.currentItem = row;
            panel.channelRow = 0;
            panel.ShowPickedChannel();
            break;
        }
        case Step::PickChannel: {
            if (channelRows == 0 && !unchecked) return;
            const int row = fit(step.value, channelRows);
            what = "pick channel row " + std::to_string(row);
            session.Pick(CHANNEL_LIST, row);
            panel.channelRow = row;
            panel.ShowPickedChannel();
            break;
        }
        case Step::SetSwitch:
        case Step::FlipSwitch: {
            if (panel.switchGreyed) return;  // no person can change a greyed-out switch
            const bool on =
                step.kind == Step::SetSwitch ? (step.value & 1) != 0 : panel.switchValue == 0;
            what = std::string(step.kind == Step::SetSwitch ? "set" : "flip") + " switch " +
                   (on ? "on" : "off");
            if (step.kind == Step::SetSwitch)
                session.SetBool(ENABLED, on);
            else
                session.Flip(ENABLED);
            panel.switchValue = on ? 1 : 0;
            if (PanelChannel *channel = panel.Channel(panel.channelRow)) channel->enabled = on;
            break;
        }
        case Step::Choose: {
            const int choice = unchecked
                                   ? static_cast<int>(static_cast<unsigned>(step.value) % 9) - 2
                                   : static_cast<int>(static_cast<unsigned>(step.value) % 5);
            what = "choose group " + std::to_string(choice);
            session.Choose(GROUP_POPUP, choice);
            ToggleGroup(panel, choice);
            break;
        }
        case Step::TypeFirst:
        case Step::TypeLast: {
            const bool first = step.kind == Step::TypeFirst;
            what = std::string("type ") + (first ? "first" : "last") + " frame " +
                   std::to_string(step.value);
            session.Type(first ? START_FRAME : END_FRAME, step.value);
            (first ? panel.first : panel.last) = step.value;
            break;
        }
        case Step::PickPast: {
            if (unchecked) {
                static constexpr int FAR[] = {LOWEST, -1, HIGHEST};
                const int row = (step.value & 3) == 3 ? channelRows : FAR[step.value & 3];
                what = "pick channel row " + std::to_string(row);
                session.Pick(CHANNEL_LIST, row);
                panel.channelRow = row;
                panel.ShowPickedChannel();
                break;
            }
            // The host's user throws here, and the host ends the panel as cancelled.
            Tell("    pick channel row " + std::to_string(channelRows) + " (not shown)");
            endedByHost = true;
            session.Pick(CHANNEL_LIST, channelRows);
            Fail("copy panel: the host let the user pick a row it does not show");
        }
    }
    Tell("    " + what);
    ComparePanel(session, panel, what);
}

void RunCopy(FuzzedDataProvider &input, standin::Host &host, const standin::LoadedModule &module,
             World &world) {
    const auto selection =
        PickSelection(input, world.items.size(), input.ConsumeIntegralInRange(0, MAX_SELECTION));
    const bool unchecked = input.ConsumeIntegralInRange(0, 3) == 0;
    std::vector<Step> steps(input.ConsumeIntegralInRange(0, MAX_STEPS));
    for (Step &step : steps) {
        step.kind = static_cast<Step::Kind>(input.ConsumeIntegralInRange(0, 7));
        if (step.kind == Step::PickPast && input.ConsumeIntegralInRange(0, 3) != 0)
            step.kind = Step::PickChannel;  // a rare step, since it ends the panel
        step.value = step.kind == Step::TypeFirst || step.kind == Step::TypeLast
                         ? PickFrame(input)
                         : input.ConsumeIntegral<int>();
    }
    const bool confirm = input.ConsumeIntegralInRange(0, 3) != 0;
    Tell("copy from " + Text(selection) + (unchecked ? ", any row may be picked" : "") + ", then " +
         (confirm ? "confirm" : "cancel"));

    host.Scene().Select(Ids(world, selection));
    host.Misbehave().uncheckedUserValues = unchecked;
    const Before before = Mark(host);
    if (selection.empty()) {
        Activate(host, module, COPY);
        ExpectRefusal(host, before, NO_ITEM_SELECTED, "copy");
        return;
    }

    CopyPanel panel = OpenCopyPanel(world, selection);
    bool endedByHost = false;
    host.User().Then([&](PanelSession &session) {
        std::vector<std::string> itemRows;
        for (const PanelItem &row : panel.table) itemRows.push_back(row.name);
        Expect(session.RowBytes(ITEM_LIST), itemRows, "copy panel: the item list");
        Expect(session.Control(START_FRAME).value, static_cast<std::intptr_t>(panel.first),
               "copy panel: the first frame offered");
        Expect(session.Control(END_FRAME).value, static_cast<std::intptr_t>(panel.last),
               "copy panel: the last frame offered");
        ComparePanel(session, panel, "opening");
        for (const Step &step : steps) {
            try {
                RunStep(session, panel, step, unchecked, endedByHost);
            } catch (const std::exception &error) {
                if (endedByHost) throw;
                Fail(std::string("copy panel: the host refused a step: ") + error.what());
            }
        }
        return confirm ? PanelOutcome::Confirm : PanelOutcome::Cancel;
    });
    Activate(host, module, COPY);
    const bool captured = confirm && !endedByHost;
    ExpectPanel(host, before, captured ? PanelOutcome::Confirm : PanelOutcome::Cancel, "copy");
    if (captured) {
        world.clipboard = Capture(world, panel);
        std::string line = "  copied frames " + std::to_string(panel.first) + " to " +
                           std::to_string(panel.last) + ":";
        for (const auto &item : world.clipboard.items) {
            line += " {";
            for (const ClipChannel &channel : item)
                line += " " + Quoted(channel.name) + "x" + std::to_string(channel.keys.size());
            line += " }";
        }
        Tell(line);
    }
}

void RunPaste(FuzzedDataProvider &input, standin::Host &host, const standin::LoadedModule &module,
              World &world) {
    const std::size_t length = input.ConsumeBool() ? world.clipboard.items.size()
                                                   : input.ConsumeIntegralInRange(0, MAX_SELECTION);
    const auto selection = PickSelection(input, world.items.size(), length);
    const bool typeStart = input.ConsumeBool();
    const std::int32_t start = typeStart ? PickFrame(input) : world.clipboard.first;
    const bool confirm = input.ConsumeIntegralInRange(0, 3) != 0;
    Tell("paste onto " + Text(selection) + " at " +
         (typeStart ? std::to_string(start) : "the offered frame") + ", then " +
         (confirm ? "confirm" : "cancel"));

    host.Scene().Select(Ids(world, selection));
    const Before before = Mark(host);
    const char *refusal = !world.clipboard.filled                            ? NOTHING_COPIED
                          : selection.empty()                                ? NO_ITEM_SELECTED
                          : selection.size() != world.clipboard.items.size() ? COUNT_MISMATCH
                                                                             : nullptr;
    if (refusal != nullptr) {
        Activate(host, module, PASTE);
        ExpectRefusal(host, before, refusal, "paste");
        return;
    }
    host.User().Then([&](PanelSession &session) {
        try {
            Expect(session.Control(PASTE_START).value,
                   static_cast<std::intptr_t>(world.clipboard.first),
                   "paste panel: the start frame offered");
            if (typeStart) session.Type(PASTE_START, start);
        } catch (const std::exception &error) {
            Fail(std::string("paste panel: the host refused a step: ") + error.what());
        }
        return confirm ? PanelOutcome::Confirm : PanelOutcome::Cancel;
    });
    Activate(host, module, PASTE);
    ExpectPanel(host, before, confirm ? PanelOutcome::Confirm : PanelOutcome::Cancel, "paste");
    if (confirm) Paste(world, selection, start);
}

// ---------------------------------------------------------------------------
// The module, loaded once.

std::unique_ptr<standin::LoadedModule> module;

// What the clipboard holds between inputs.
ModelClipboard restingClipboard;

// Leaves the clipboard holding one item without channels and the frames
// a new scene offers.
void ResetClipboard() {
    standin::Host host;
    host.Scene().Select({host.Scene().AddItem("reset")});
    host.User().Then([](PanelSession &) { return PanelOutcome::Confirm; });
    const Before before = Mark(host);
    Activate(host, *module, COPY);
    ExpectPanel(host, before, PanelOutcome::Confirm, "resetting copy");
    restingClipboard =
        ModelClipboard{true, {{}}, host.Scene().FrameStart(), host.Scene().FrameEnd()};
}

// Appends to a transcript the host calls made since the last record and the
// scene as it now stands, headed by what just ran.
void Record(std::string &transcript, standin::Host &host, const World &world,
            const std::string &after) {
    transcript += "== " + after + "\n";
    for (const standin::TraceEntry &entry : host.Trace())
        transcript += entry.service + " " + entry.operation + " " + entry.arguments + "\n";
    host.ClearTrace();
    transcript += DescribeScene(host.Scene(), world);
}

}  // namespace

void Initialize(const std::string &modulePath) {
    const char *flag = std::getenv("TAMBERLO_FUZZ_VERBOSE");
    verbose = flag != nullptr && *flag != '\0' && *flag != '0';
    try {
        module = std::make_unique<standin::LoadedModule>(modulePath);
    } catch (const standin::LoadError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        std::exit(1);
    }
    // While nothing has been copied, a paste is refused whatever is selected.
    standin::Host host;
    World world;
    const host::ItemId item = host.Scene().AddItem("A");
    world.items.push_back(ModelItem{"A", item, {}});
    for (std::size_t selected = 0; selected < 2; ++selected) {
        host.Scene().Select(std::vector<host::ItemId>(selected, item));
        const Before before = Mark(host);
        Activate(host, *module, PASTE);
        ExpectRefusal(host, before, NOTHING_COPIED, "paste before any copy");
        CompareScene(host.Scene(), world, "a paste before any copy");
    }
    ResetClipboard();
}

void RunOne(const std::uint8_t *data, std::size_t size, std::string *transcript) {
    FuzzedDataProvider input(data, size);
    World world;
    world.clipboard = restingClipboard;

    standin::Host host;
    host.EnableTrace(transcript != nullptr);
    standin::Scene &scene = host.Scene();
    BuildScene(input, scene, world);
    CompareScene(scene, world, "building the scene");

    const int operations = input.ConsumeIntegralInRange(1, MAX_OPERATIONS);
    for (int i = 0; i < operations; ++i) {
        std::string step;
        switch (input.ConsumeIntegralInRange(0, 9)) {
            case 0:
            case 1:
            case 2:
            case 3:
                step = "copy " + std::to_string(i);
                RunCopy(input, host, *module, world);
                CompareScene(scene, world, step);
                break;
            case 4:
            case 5:
            case 6:
            case 7:
                step = "paste " + std::to_string(i);
                RunPaste(input, host, *module, world);
                CompareScene(scene, world, step);
                break;
            case 8:
                world.framesPerSecond = PickRate(input);
                scene.SetFramesPerSecond(world.framesPerSecond);
                Tell("rate becomes " + Text(world.framesPerSecond) + " fps");
                break;
            default:
                world.frameStart = PickFrame(input);
                world.frameEnd = PickFrame(input);
                scene.SetFrames(world.frameStart, world.frameEnd);
                Tell("scene frames become " + std::to_string(world.frameStart) + " to " +
                     std::to_string(world.frameEnd));
                break;
        }
        if (transcript != nullptr && !step.empty()) Record(*transcript, host, world, step);
    }
    if (verbose) {
        for (const std::string &line : story) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "----\n");
    }
    // Nothing of this input outlives it, or libFuzzer would take what is
    // kept for a leak and run the input again to check: the story is let go,
    // and the clipboard's content made here is replaced by the resting one.
    std::vector<std::string>().swap(story);
    ResetClipboard();
}

}  // namespace fuzz
