// tamberlo-scene: the scene files go into stand-in hosts, the module is
// activated there and its panels are answered from the command line, and the
// target scene is written back only when everything before succeeded.
#include "apps/scene_tool.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "apps/item_selection.h"
#include "apps/labels.h"
#include "apps/print.h"
#include "apps/progress.h"
#include "output/paste_snapshot.h"
#if TAMBERLO_HAS_PASTE_PLOT
#include "output/paste_plot.h"
#endif
#include "output/replace_file.h"
#include "scenefile/scene_file.h"
#include "standin/standin.h"
#include "standin/text.h"

namespace apps {

namespace {

// The module's calls between two looks at the progress line: a few thousand
// calls take well under a millisecond.
constexpr std::uint64_t PROGRESS_CALLS = 1 << 14;

// Where the picture of a paste cannot be drawn, a --plot is refused before any work.
[[maybe_unused]] constexpr const char *NO_PICTURES =
    "--plot: this build of tamberlo-scene draws no pictures (it has no PLplot); the 64-bit "
    "Linux build draws them";

// A failure the tool reports as it stands and ends on.
class ToolError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One act on the copy panel, for one of the copied items.
struct PanelAct {
    enum class Kind { SwitchOff, SwitchOn, Toggle } kind = Kind::SwitchOff;
    std::string item;
    std::string what;  // a channel, or a group
};

struct Request {
    std::string source;
    std::string output;
    std::string target;  // empty: the source scene
    std::vector<std::string> from, to;
    std::optional<std::string> map;     // a file of source and target pairs, instead of from and to
    std::optional<std::string> frames;  // FIRST:LAST
    std::optional<int> at;
    std::vector<PanelAct> acts;  // in the order given
    std::string plot;
    std::string module;
};

// A scene file read into a host of its own, as Layout holds one scene at a time.
struct LoadedScene {
    std::unique_ptr<standin::Host> host = std::make_unique<standin::Host>();
    standin::SceneFile file;
    std::string path;

    LoadedScene(const std::string &scenePath, ProgressLine &progress)
        : file(Load(scenePath, host->Scene(), progress)), path(scenePath) {}

  private:
    static standin::SceneFile Load(const std::string &path, standin::Scene &scene,
                                   ProgressLine &progress) {
        progress.Start("reading " + path);
        standin::SceneFile file =
            standin::SceneFile::Load(path, scene, [&progress](std::size_t done, std::size_t total) {
                progress.Update(done, total, "bytes");
            });
        progress.End();
        return file;
    }
};

host::ItemId FindItem(const LoadedScene &scene, const std::string &name) {
    return FindNamedItem(scene.file, name).id;
}

// Two whole numbers and nothing else: no blanks, no plus sign, nothing after
// the last digit, so that a mistyped range is refused rather than read as
// some other range.
std::pair<int, int> ParseFrames(const std::string &text) {
    const char *const end = text.data() + text.size();
    int first = 0, last = 0;
    const auto [colon, firstError] = std::from_chars(text.data(), end, first);
    if (firstError == std::errc() && colon != end && *colon == ':') {
        const auto [after, lastError] = std::from_chars(colon + 1, end, last);
        if (lastError == std::errc() && after == end) return {first, last};
    }
    throw ToolError("--frames takes FIRST:LAST, two whole frame numbers, not \"" + text + "\"");
}

// The row of a list whose text, after `skip` leading characters, is `text`.
int RowOf(standin::PanelSession &panel, const char *list, std::string_view text,
          std::size_t skip = 0) {
    const std::vector<std::string> rows = panel.Rows(list);
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row].size() >= skip && std::string_view(rows[row]).substr(skip) == text)
            return static_cast<int>(row);
    throw ToolError(std::string("the ") + list + " list shows no row \"" + std::string(text) +
                    "\"");
}

// The group popup entry a user names: its own text, or "others" and "all"
// for the two entries that are not channel names.
int GroupChoice(standin::PanelSession &panel, const std::string &group) {
    const std::vector<std::string> choices = panel.Control(labels::SWITCH_ALL).choices;
    const std::string wanted = group == "others" ? labels::OTHERS
                               : group == "all"  ? labels::ALL
                                                 : group;
    const auto found = std::find(choices.begin(), choices.end(), wanted);
    if (found == choices.end())
        throw ToolError("the group toggle has no entry \"" + group +
                        "\" (Position, Rotation, Scale, others, all)");
    return static_cast<int>(found - choices.begin());
}

// What the panels answered, for the plot and the summary.
struct Answers {
    int copyFirst = 0, copyLast = 0, pasteStart = 0;
    std::string failure;  // what went wrong inside a panel, empty when nothing did
};

void CheckActs(const Request &request, const LoadedScene &source,
               const std::vector<host::ItemId> &copied) {
    for (const PanelAct &act : request.acts) {
        const host::ItemId item = FindItem(source, act.item);
        if (std::find(copied.begin(), copied.end(), item) == copied.end())
            throw ToolError("\"" + act.item + "\" is not one of the copied items (--from)");
        if (act.kind != PanelAct::Kind::Toggle && !source.host->Scene().FindChannel(item, act.what))
            throw ToolError("\"" + act.item + "\" has no channel \"" + act.what + "\"");
    }
}

// The copy panel as the user works it: the frames typed, each act in turn,
// then the confirmation.
standin::ScriptedUser::Script CopyScript(const Request &request, const LoadedScene &source,
                                         Answers &answers) {
    return [&request, &source, &answers](standin::PanelSession &panel) {
        try {
            if (request.frames) {
                const auto [first, last] = ParseFrames(*request.frames);
                panel.Type(labels::START_FRAME, first);
                panel.Type(labels::END_FRAME, last);
            }
            for (const PanelAct &act : request.acts) {
                const host::ItemId item = FindItem(source, act.item);
                const std::string shown =
                    standin::Utf8FromCp932(source.host->Scene().ItemName(item));
                panel.Pick(labels::ITEM, RowOf(panel, labels::ITEM, shown));
                if (act.kind == PanelAct::Kind::Toggle) {
                    panel.Choose(labels::SWITCH_ALL, GroupChoice(panel, act.what));
                    continue;
                }
                // Rows read "* name" or "  name": the mark, a blank, the name.
                panel.Pick(labels::CHANNEL, RowOf(panel, labels::CHANNEL, act.what, 2));
                panel.SetBool(labels::ENABLED, act.kind == PanelAct::Kind::SwitchOn);
            }
            answers.copyFirst = static_cast<int>(panel.Control(labels::START_FRAME).value);
            answers.copyLast = static_cast<int>(panel.Control(labels::END_FRAME).value);
            return standin::PanelOutcome::Confirm;
        } catch (const std::exception &error) {
            answers.failure = error.what();
            return standin::PanelOutcome::Cancel;
        }
    };
}

standin::ScriptedUser::Script PasteScript(const Request &request, Answers &answers) {
    return [&request, &answers](standin::PanelSession &panel) {
        if (request.at) panel.Type(labels::PASTE_START_FRAME, *request.at);
        answers.pasteStart = static_cast<int>(panel.Control(labels::PASTE_START_FRAME).value);
        return standin::PanelOutcome::Confirm;
    };
}

std::string Names(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

void Describe(std::ostream &out, const char *role, const LoadedScene &scene) {
    const standin::Scene &s = scene.host->Scene();
    out << role << ' ' << scene.path << ": format version " << scene.file.Version() << ", "
        << scene.file.Items().size() << " items, frames " << s.FrameStart() << " to "
        << s.FrameEnd() << " at " << s.FramesPerSecond() << " frames per second\n";
}

// Activates one of the module's commands, prints what the user saw and ends
// the run when the module refused, the panel was not confirmed or the module
// broke the host contract.
void RunCommand(std::ostream &out, LoadedScene &scene, const standin::LoadedModule &module,
                const char *server, const Answers &answers, ProgressLine &progress) {
    standin::Host &host = *scene.host;
    const std::size_t shownBefore = host.Transcript().size();
    const std::size_t panelsBefore = host.Panels().size();
    host.ClearErrors();
    // How far the module has come shows only in the calls it makes.
    progress.Start(std::string_view(server) == COPY_SERVER ? "copying" : "pasting");
    host.ObserveCalls(PROGRESS_CALLS, [&progress](std::uint64_t calls) {
        progress.Update(calls, 0, "host calls");
    });
    const struct StopObserving {
        standin::Host &host;
        ~StopObserving() { host.ObserveCalls(0, nullptr); }
    } stopObserving{host};
    const int result = host.Activate(module, server);
    progress.End();
    out << "activate \"" << server << "\" -> " << result << '\n';
    PrintTranscript(host, shownBefore, "    ", out);
    if (!PrintViolations(host, out)) throw ToolError("the module broke the host contract");
    if (!host.Errors().empty()) {
        const auto &[first, second] = host.Errors().front();
        std::string message = standin::Utf8FromCp932(first);
        if (!second.empty()) message += " " + standin::Utf8FromCp932(second);
        throw ToolError("the module refused: " + message);
    }
    if (!answers.failure.empty()) throw ToolError(answers.failure);
    const bool confirmed = host.Panels().size() > panelsBefore &&
                           host.Panels().back().outcome == standin::PanelOutcome::Confirm;
    if (!confirmed)
        throw ToolError(std::string("the panel of \"") + server + "\" was not confirmed");
}

// A folder that must take a new file: checked before any work, so that a
// missing or read-only folder ends the run before anything is changed.
void CheckWritable(const std::string &path, const char *what) {
    const std::filesystem::path file(path);
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        throw ToolError(std::string("cannot write the ") + what + " " + path + ": the folder " +
                        folder.string() + " does not exist");
    if (access(folder.c_str(), W_OK) != 0)
        throw ToolError(std::string("cannot write the ") + what + " " + path + ": the folder " +
                        folder.string() + " is not writable");
    if (std::filesystem::is_directory(file, error))
        throw ToolError(std::string("cannot write the ") + what + " " + path + ": it is a folder");
}

// Whether two paths name the same file, existing or not.
bool SameFile(const std::string &a, const std::string &b) {
    std::error_code error;
    const std::filesystem::path first = std::filesystem::weakly_canonical(a, error);
    if (error) return a == b;
    const std::filesystem::path second = std::filesystem::weakly_canonical(b, error);
    return error ? a == b : first == second;
}

// The files written so far, so that a failure can say what it left behind.
using Written = std::vector<std::string>;

// The scene's text, made a piece at a time straight into its new file, so
// that a large scene is never held twice. A scene the file cannot hold is
// refused here, and the new file goes with the ReplacementFile.
void WriteScene(const LoadedScene &scene, ReplacementFile &file, ProgressLine &progress) {
    progress.Start("writing " + file.Target().string());
    scene.file.Write(
        scene.host->Scene(), [&file](std::string_view bytes) { file.Append(bytes); },
        [&progress](std::size_t done, std::size_t total) {
            progress.Update(done, total, "bytes");
        });
    file.Finish();
    progress.End();
}

void RoundTrip(const Request &request, std::ostream &out, Written &written,
               ProgressLine &progress) {
    CheckWritable(request.output, "scene");
    const LoadedScene scene(request.source, progress);
    Describe(out, "scene", scene);
    ReplacementFile sceneFile(request.output);
    WriteScene(scene, sceneFile, progress);
    sceneFile.Replace();
    written.push_back(request.output);
    out << "wrote " << request.output << '\n';
}

// The picture of the paste, made in its new file; the indices of the changed
// channels it leaves out.
std::vector<std::size_t> DrawPicture(const ReplacementFile &file,
                                     const std::vector<PlottedChannel> &changed, int pasteStart,
                                     std::int64_t windowLast, const std::string &title,
                                     ProgressLine &progress) {
#if TAMBERLO_HAS_PASTE_PLOT
    return DrawPastePlot(file, changed, pasteStart, static_cast<double>(windowLast), title,
                         [&progress](std::size_t drawn, std::size_t total) {
                             progress.Update(drawn, total, "channels");
                         });
#else
    (void)file, (void)changed, (void)pasteStart, (void)windowLast, (void)title, (void)progress;
    throw ToolError(NO_PICTURES);
#endif
}

void CopyAndPaste(const Request &request, std::ostream &out, Written &written,
                  ProgressLine &progress) {
    CheckWritable(request.output, "scene");
#if !TAMBERLO_HAS_PASTE_PLOT
    if (!request.plot.empty()) throw ToolError(NO_PICTURES);
#endif
    if (!request.plot.empty()) {
        CheckWritable(request.plot, "plot");
        // The picture replaces the file it names, which must not be a scene
        // the run reads or writes.
        for (const std::string *scene : {&request.output, &request.source, &request.target})
            if (!scene->empty() && SameFile(request.plot, *scene))
                throw ToolError("--plot " + request.plot + " names the scene " + *scene +
                                ", which the picture would replace");
    }
    if (request.frames) ParseFrames(*request.frames);
    // A malformed map is refused before any scene is read.
    std::optional<ItemMap> map;
    if (request.map) map = ReadItemMap(*request.map);

    const standin::LoadedModule module(request.module);
    out << "module " << module.Path() << '\n';
    LoadedScene source(request.source, progress);
    Describe(out, "source", source);
    // Layout keeps the clipboard while another scene is loaded; so does the
    // module, which lives on beside both hosts.
    std::unique_ptr<LoadedScene> separateTarget;
    if (!request.target.empty())
        separateTarget = std::make_unique<LoadedScene>(request.target, progress);
    LoadedScene &target = separateTarget ? *separateTarget : source;
    if (separateTarget) Describe(out, "target", target);

    const Selection copied = map ? SelectMapped(source.file, *map, MapSide::Source)
                                 : SelectItems(source.file, request.from, "--from");
    const Selection pasted = map ? SelectMapped(target.file, *map, MapSide::Target)
                                 : SelectItems(target.file, request.to, "--to");
    CheckActs(request, source, copied.items);
    if (map) out << "map " << map->path << ": " << map->pairs.size() << " pairs\n";
    // The module refuses such a paste and says so; this says it in numbers.
    if (copied.items.size() != pasted.items.size())
        out << copied.items.size() << " items selected to copy, " << pasted.items.size()
            << " to paste onto: the paste needs as many items as the copy\n";

    Answers answers;
    out << "\n== Copy: " << copied.summary << " selected in " << source.path << " ==\n";
    source.host->Scene().Select(copied.items);
    source.host->User().Then(CopyScript(request, source, answers));
    RunCommand(out, source, module, COPY_SERVER, answers, progress);

    out << "\n== Paste: " << pasted.summary << " selected in " << target.path << " ==\n";
    standin::Scene &scene = target.host->Scene();
    scene.Select(pasted.items);
    const PasteSnapshot before(scene, pasted.items);
    target.host->User().Then(PasteScript(request, answers));
    RunCommand(out, target, module, PASTE_SERVER, answers, progress);

    std::vector<PlottedChannel> changed = before.ChangedChannels(scene);
    // Item names are shown as the panels show them.
    for (PlottedChannel &channel : changed) channel.item = standin::Utf8FromCp932(channel.item);
    // The scene first: one the file cannot hold is refused before anything is written.
    ReplacementFile sceneFile(request.output);
    WriteScene(target, sceneFile, progress);
    // The pasted window may end past the frames an int holds: the module
    // computes it wider, and so does the picture.
    const std::int64_t windowLast =
        std::int64_t{answers.pasteStart} + (std::int64_t{answers.copyLast} - answers.copyFirst);
    out << "\npasted frames " << answers.copyFirst << " to " << answers.copyLast << " at frame "
        << answers.pasteStart << "; channels changed: " << changed.size() << '\n';
    const auto keys = [](std::size_t count) {
        return std::to_string(count) + (count == 1 ? " key" : " keys");
    };
    for (const PlottedChannel &channel : changed)
        out << "  " << channel.item << " " << channel.channel << ": " << keys(channel.before.size())
            << " before, " << keys(channel.after.size()) << " after\n";
    // Both files are made whole beside their targets before either is put in
    // place, so that a failure on the way leaves every file as it was.
    std::optional<ReplacementFile> plotFile;
    std::vector<std::size_t> notDrawn;
    if (!request.plot.empty()) {
        plotFile.emplace(request.plot);
        progress.Start("drawing " + request.plot);
        notDrawn = DrawPicture(*plotFile, changed, answers.pasteStart, windowLast,
                               "Paste from " + source.path + " into " + target.path, progress);
        progress.End();
    }
    sceneFile.Replace();
    written.push_back(request.output);
    out << "wrote " << request.output << '\n';
    if (!plotFile) return;
    plotFile->Replace();
    written.push_back(request.plot);
    out << "plot " << request.plot << '\n';
    if (notDrawn.empty()) return;
    out << "the picture leaves out " << notDrawn.size() << " of the " << changed.size()
        << " changed channels:\n";
    for (std::size_t index : notDrawn)
        out << "  " << changed[index].item << " " << changed[index].channel << '\n';
}

}  // namespace

int RunSceneTool(const std::vector<std::string> &arguments,
                 const std::filesystem::path &programFolder, std::ostream &out, std::ostream &err,
                 bool errIsTerminal) {
    Request request;
    request.module = (programFolder / "Tamberlo.p").string();
    CLI::App app(
        "Copies keyframed motion between LightWave scene files (.lws) with the Tamberlo "
        "module, loaded in the stand-in Layout host, acting on its panels as a person would. "
        "With only a scene and -o, reads the scene and writes it back.",
        "tamberlo-scene");
    app.get_formatter()->column_width(28);
    app.footer(
        "Example:\n  tamberlo-scene samples/walk.lws --from Runner,Tracker --into "
        "samples/stage.lws "
        "--to \"Dancer,Prop Null\" --frames 10:40 --at 30 --off Runner:Rotation.H --toggle "
        "Tracker:Scale -o build/stage-pasted.lws --plot build/stage-pasted.svg\n"
        "Many items at once, by pattern or by a map of names:\n"
        "  tamberlo-scene take.lws --from 'Joint*' --into rig.lws --to 'Bone*' -o rig-pasted.lws\n"
        "  tamberlo-scene take.lws --map take-to-rig.map --into rig.lws -o rig-pasted.lws");
    app.add_option("scene", request.source, "the scene to copy from, or to read and write back")
        ->type_name("SCENE")
        ->required();
    app.add_option("-o,--output", request.output,
                   "where the result goes; it may name an input, which is then replaced")
        ->type_name("FILE")
        ->required();
    // Each use of a repeatable option takes one value, so a scene path is
    // never taken for a second one.
    CLI::Option *from = app.add_option(
        "--from", request.from,
        "the items to copy, comma-separated, in selection order: names, or shell patterns "
        "(*, ?, [...]) that select the items they match in the scene's order; in a pattern, \\ "
        "makes the next character plain (Star\\* names the item Star*)");
    CLI::Option *to = app.add_option("--to", request.to,
                                     "the items to paste onto, in selection order, as for --from");
    for (CLI::Option *items : {from, to})
        items->type_name("NAMES")->delimiter(',')->allow_extra_args(false);
    from->needs(to);
    to->needs(from);
    CLI::Option *mapOption =
        app.add_option("--map", request.map,
                       "instead of --from and --to: a file of \"source target\" lines, exact "
                       "names in double quotes when they hold a space, # starting a comment; both "
                       "sides are selected in its line order")
            ->type_name("FILE")
            ->excludes(from)
            ->excludes(to);
    // Every other option of a copy and paste needs the items of both sides.
    std::vector<const CLI::Option *> copyOptions;
    const auto copyOption = [&](const char *name, auto &value, const char *type, const char *help) {
        CLI::Option *option = app.add_option(name, value, help)->type_name(type);
        copyOptions.push_back(option);
        return option;
    };
    copyOption("--into", request.target, "SCENE", "the scene to paste into (default: the source)");
    copyOption("--frames", request.frames, "FIRST:LAST",
               "the frames to copy (default: the scene's range, which the panel offers)");
    copyOption("--at", request.at, "FRAME",
               "the frame where the paste starts (default: the one the panel offers)");
    std::vector<std::string> off, on, toggle;
    CLI::Option *offOption =
        copyOption("--off", off, "ITEM:CHANNEL", "switch a copied channel off (repeatable)");
    CLI::Option *onOption =
        copyOption("--on", on, "ITEM:CHANNEL", "switch a copied channel on (repeatable)");
    CLI::Option *toggleOption =
        copyOption("--toggle", toggle, "ITEM:GROUP",
                   "choose a copied item's group toggle: Position, Rotation, Scale, others or all "
                   "(repeatable)");
    for (CLI::Option *act : {offOption, onOption, toggleOption}) act->allow_extra_args(false);
    copyOption("--plot", request.plot, "FILE.svg",
               "draw the pasted channels before and after the paste");
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "show no progress line, even on a terminal");
    app.add_option("--module", request.module, "the module to load")
        ->type_name("FILE")
        ->capture_default_str();

    std::vector<const char *> argv;
    for (const std::string &argument : arguments) argv.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError &error) {
        // Help is an answer; anything else is a refusal, and ends like one.
        return app.exit(error, out, err) == 0 ? 0 : 1;
    }

    Written written;
    ProgressLine progress(err, errIsTerminal && !quiet);
    try {
        const bool copying = from->count() > 0 || mapOption->count() > 0;
        for (const CLI::Option *option : copyOptions)
            if (!copying && option->count() > 0)
                throw ToolError(option->get_name() + " needs the items to copy and paste onto: " +
                                "--from and --to, or --map");
        // The panel acts in the order given, however they interleave.
        std::map<const CLI::Option *, std::size_t> used;
        for (const CLI::Option *option : app.parse_order()) {
            const auto kind = option == offOption  ? PanelAct::Kind::SwitchOff
                              : option == onOption ? PanelAct::Kind::SwitchOn
                                                   : PanelAct::Kind::Toggle;
            const std::vector<std::string> &values = option == offOption  ? off
                                                     : option == onOption ? on
                                                                          : toggle;
            if (option != offOption && option != onOption && option != toggleOption) continue;
            const std::string &value = values.at(used[option]++);
            const std::size_t colon = value.rfind(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
                throw ToolError("\"" + value + "\" should read ITEM:" +
                                (kind == PanelAct::Kind::Toggle ? "GROUP" : "CHANNEL"));
            request.acts.push_back(PanelAct{kind, value.substr(0, colon), value.substr(colon + 1)});
        }
        if (!copying)
            RoundTrip(request, out, written, progress);
        else
            CopyAndPaste(request, out, written, progress);
        return 0;
    } catch (const std::exception &error) {
        progress.End();
        err << "tamberlo-scene: " << error.what() << '\n'
            << (written.empty() ? "nothing was written" : "written before this: " + Names(written))
            << '\n';
        return 1;
    }
}

}  // namespace apps
