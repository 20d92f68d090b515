// tamberlo-scene: the scene files go into stand-in hosts, the module is
// activated there and its panels are answered from the command line, and the
// target scene is written back only when everything before succeeded.
#include "apps/scene_tool.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "apps/print.h"
#include "output/paste_snapshot.h"
#include "output/replace_file.h"
#include "scenefile/scene_file.h"
#include "standin/standin.h"
#include "transfer/commands.h"
#include "transfer/item_selection.h"
#include "transfer/loaded_scene.h"
#include "transfer/progress.h"

namespace apps {

namespace {

// Where the picture of a paste cannot be drawn, a --plot is refused before any work.
[[maybe_unused]] constexpr const char *NO_PICTURES =
    "--plot: this build of tamberlo-scene draws no pictures (it has no PLplot); the 64-bit "
    "Linux build draws them";

// A failure the tool reports as it stands and ends on.
class ToolError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
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

// Prints what the user saw of a command, and ends the run when the module
// refused, the panel was not confirmed or the module broke the host contract.
void Report(std::ostream &out, const LoadedScene &scene, const CommandReport &report) {
    PrintCommand(out, report);
    PrintViolations(*scene.host, out);
    CheckCommand(report);
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

void RoundTrip(const Request &request, std::ostream &out, Written &written,
               ProgressLine &progress) {
    CheckWritable(request.output, "scene");
    const LoadedScene scene(request.source, progress);
    Describe(out, "scene", scene);
    WriteSceneTo(scene, request.output, progress);
    written.push_back(request.output);
    out << "wrote " << request.output << '\n';
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
    CopyChoices choices;
    if (request.frames) choices.frames = ParseFrames(*request.frames);
    choices.acts = request.acts;
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
    CheckActs(choices.acts, source, copied.items);
    if (map) out << "map " << map->path << ": " << map->pairs.size() << " pairs\n";
    // The module refuses such a paste and says so; this says it in numbers.
    if (copied.items.size() != pasted.items.size())
        out << copied.items.size() << " items selected to copy, " << pasted.items.size()
            << " to paste onto: the paste needs as many items as the copy\n";

    out << "\n== Copy: " << copied.summary << " selected in " << source.path << " ==\n";
    const CopyRun copy = RunCopy(source, module, copied.items, choices, progress);
    Report(out, source, copy.report);

    out << "\n== Paste: " << pasted.summary << " selected in " << target.path << " ==\n";
    const PasteRun paste = RunPaste(target, module, pasted.items, request.at, progress);
    Report(out, target, paste.report);

    // The scene first: one the file cannot hold is refused before anything is written.
    ReplacementFile sceneFile(request.output);
    WriteScene(target, sceneFile, progress);
    out << '\n';
    PrintChanges(out, copy.frames, paste.start, paste.changed);
    // Both files are made whole beside their targets before either is put in
    // place, so that a failure on the way leaves every file as it was.
    std::optional<ReplacementFile> plotFile;
    std::vector<std::size_t> notDrawn;
    if (!request.plot.empty()) {
        plotFile.emplace(request.plot);
        notDrawn = DrawPaste(*plotFile, paste.changed, copy.frames, paste.start,
                             PasteTitle(source.path, target.path), progress);
    }
    sceneFile.Replace();
    written.push_back(request.output);
    out << "wrote " << request.output << '\n';
    if (!plotFile) return;
    plotFile->Replace();
    written.push_back(request.plot);
    out << "plot " << request.plot << '\n';
    if (notDrawn.empty()) return;
    out << "the picture leaves out " << notDrawn.size() << " of the " << paste.changed.size()
        << " changed channels:\n";
    for (std::size_t index : notDrawn)
        out << "  " << paste.changed[index].item << " " << paste.changed[index].channel << '\n';
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
            request.acts.push_back(ParsePanelAct(kind, values.at(used[option]++)));
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
