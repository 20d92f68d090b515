// The module, its copy and paste on scenes, what they did, and the picture of
// a paste.
#include "transfer/commands.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "output/paste_snapshot.h"
#include "output/replace_file.h"
#include "python/binding.h"
#include "standin/loader.h"
#include "standin/text.h"
#include "transfer/item_selection.h"

namespace tamberlo_python {

namespace {

// A loaded module file, until it is closed. Its clipboard lives as long as it
// stays loaded, as in Layout, whichever scene each command acts on.
class Module {
  public:
    explicit Module(const std::string &path)
        : loaded_(std::make_unique<standin::LoadedModule>(path)), path_(loaded_->Path()) {}

    const standin::LoadedModule &Loaded() const {
        if (!loaded_) throw py::value_error("the module " + path_ + " is closed");
        return *loaded_;
    }
    void Close() { loaded_.reset(); }
    bool Closed() const { return !loaded_; }
    const std::string &Path() const { return path_; }

    // What the clipboard holds since the last copy that went through: the
    // scene it came from and the frames, for what a paste then says and draws.
    struct Copied {
        std::string scene;
        apps::FrameRange frames;
    };
    std::optional<Copied> copied;

  private:
    std::unique_ptr<standin::LoadedModule> loaded_;
    std::string path_;
};

struct CopyResult {
    std::string scene;
    std::vector<std::string> items;
    apps::FrameRange frames;
    apps::CommandReport report;
};

struct PasteResult {
    std::string scene;
    std::string source;  // the scene the pasted motion was copied from
    std::vector<std::string> items;
    apps::FrameRange frames;
    int at = 0;
    apps::CommandReport report;
    std::vector<apps::PlottedChannel> changed;
};

// The items a command acts on: names and shell patterns as --from and --to
// take them (one string is one entry, never split at commas), or a map, whose
// sources a copy takes and whose targets a paste takes.
apps::Selection Select(const apps::LoadedScene &scene, const py::handle &items, apps::MapSide side,
                       const char *role) {
    if (py::isinstance<apps::ItemMap>(items))
        return apps::SelectMapped(scene.file, items.cast<const apps::ItemMap &>(), side);
    std::vector<std::string> entries;
    if (py::isinstance<py::str>(items)) {
        entries.push_back(items.cast<std::string>());
    } else {
        for (const py::handle entry : py::iter(items)) {
            if (!py::isinstance<py::str>(entry))
                throw py::type_error(std::string("the items to ") + role +
                                     " are names or patterns (str), or a tamberlo.ItemMap, not " +
                                     py::repr(entry).cast<std::string>());
            entries.push_back(entry.cast<std::string>());
        }
    }
    return apps::SelectItems(scene.file, entries, role);
}

std::vector<std::string> NamesOf(const apps::LoadedScene &scene,
                                 const std::vector<host::ItemId> &items) {
    std::vector<std::string> names;
    for (host::ItemId item : items)
        names.push_back(standin::Utf8FromCp932(scene.host->Scene().ItemName(item)));
    return names;
}

// A whole frame number a panel's number control takes.
int FrameNumber(const py::handle &given, const char *what) {
    const py::object index = py::module_::import("operator").attr("index");
    long long number = 0;
    try {
        number = index(given).cast<long long>();
    } catch (const std::exception &) {
        throw py::value_error(std::string(what) + " is a whole frame number, not " +
                              py::repr(given).cast<std::string>());
    }
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        throw py::value_error(std::string(what) + " " + std::to_string(number) +
                              " is past the frames a panel takes");
    return static_cast<int>(number);
}

// `frames`: None for the range the panel offers, (first, last), or the
// tool's FIRST:LAST.
std::optional<apps::FrameRange> FramesFrom(const py::handle &frames) {
    if (frames.is_none()) return std::nullopt;
    if (py::isinstance<py::str>(frames)) return apps::ParseFrames(frames.cast<std::string>());
    if (!py::isinstance<py::sequence>(frames) || py::len(frames) != 2)
        throw py::value_error(
            "frames is a pair (first, last) of whole frame numbers, or "
            "'FIRST:LAST', not " +
            py::repr(frames).cast<std::string>());
    const py::sequence pair = frames.cast<py::sequence>();
    return apps::FrameRange{FrameNumber(pair[0], "the first frame"),
                            FrameNumber(pair[1], "the last frame")};
}

// The acts of one kind: one 'ITEM:CHANNEL' string (ITEM:GROUP for a toggle),
// or a list of such strings or of (item, channel) pairs.
void AddActs(std::vector<apps::PanelAct> &acts, apps::PanelAct::Kind kind,
             const py::handle &given) {
    if (given.is_none()) return;
    if (py::isinstance<py::str>(given)) {
        acts.push_back(apps::ParsePanelAct(kind, given.cast<std::string>()));
        return;
    }
    for (const py::handle entry : py::iter(given)) {
        if (py::isinstance<py::str>(entry)) {
            acts.push_back(apps::ParsePanelAct(kind, entry.cast<std::string>()));
            continue;
        }
        const auto pair = entry.cast<std::pair<std::string, std::string>>();
        acts.push_back(apps::PanelAct{kind, pair.first, pair.second});
    }
}

// What tamberlo-scene prints, less the line end a Python string leaves to print().
std::string Printed(const std::ostringstream &text) {
    std::string printed = text.str();
    if (printed.ends_with('\n')) printed.pop_back();
    return printed;
}

std::string Text(const apps::CommandReport &report) {
    std::ostringstream text;
    apps::PrintCommand(text, report);
    return Printed(text);
}

std::string Text(const PasteResult &result) {
    std::ostringstream text;
    apps::PrintCommand(text, result.report);
    text << '\n';
    apps::PrintChanges(text, result.frames, result.at, result.changed);
    return Printed(text);
}

// The options of a copy: `frames`, and the acts on the panel, done kind by
// kind in the order their keywords were written, as tamberlo-scene does its
// options in the order given.
apps::CopyChoices ChoicesFrom(const py::kwargs &options) {
    apps::CopyChoices choices;
    for (const auto &[keyword, value] : options) {
        const std::string name = keyword.cast<std::string>();
        if (name == "frames")
            choices.frames = FramesFrom(value);
        else if (name == "off")
            AddActs(choices.acts, apps::PanelAct::Kind::SwitchOff, value);
        else if (name == "on")
            AddActs(choices.acts, apps::PanelAct::Kind::SwitchOn, value);
        else if (name == "toggle")
            AddActs(choices.acts, apps::PanelAct::Kind::Toggle, value);
        else
            throw py::type_error("copy() got an unexpected keyword argument '" + name +
                                 "' (frames, off, on, toggle)");
    }
    return choices;
}

CopyResult Copy(Module &module, const ScenePtr &scene, const py::handle &items,
                const py::kwargs &options) {
    const standin::LoadedModule &loaded = module.Loaded();
    const apps::Selection selection = Select(*scene, items, apps::MapSide::Source, "copy");
    const apps::CopyChoices choices = ChoicesFrom(options);
    apps::CheckActs(choices.acts, *scene, selection.items);
    apps::CopyRun run = apps::RunCopy(*scene, loaded, selection.items, choices, Quiet());
    apps::CheckCommand(run.report);
    module.copied = Module::Copied{scene->path, run.frames};
    return {scene->path, NamesOf(*scene, selection.items), run.frames, std::move(run.report)};
}

PasteResult Paste(Module &module, const ScenePtr &scene, const py::handle &items,
                  const py::handle &at) {
    const standin::LoadedModule &loaded = module.Loaded();
    const apps::Selection selection = Select(*scene, items, apps::MapSide::Target, "paste");
    std::optional<int> start;
    if (!at.is_none()) start = FrameNumber(at, "at");
    apps::PasteRun run = apps::RunPaste(*scene, loaded, selection.items, start, Quiet());
    apps::CheckCommand(run.report);
    const Module::Copied copied = module.copied.value_or(Module::Copied{});
    return {scene->path,           copied.scene, NamesOf(*scene, selection.items),
            copied.frames,         run.start,    std::move(run.report),
            std::move(run.changed)};
}

std::vector<apps::PlottedChannel> Draw(const PasteResult &result, const std::filesystem::path &path,
                                       const std::optional<std::string> &title) {
    std::vector<std::size_t> leftOut;
    try {
        apps::ReplacementFile file(path);
        leftOut =
            apps::DrawPaste(file, result.changed, result.frames, result.at,
                            title.value_or(apps::PasteTitle(result.source, result.scene)), Quiet());
        file.Replace();
    } catch (const std::runtime_error &failure) {
        RaiseOSError(failure.what());
    }
    std::vector<apps::PlottedChannel> channels;
    for (std::size_t index : leftOut) channels.push_back(result.changed[index]);
    return channels;
}

std::string DefaultModulePath() {
    const auto self =
        py::module_::import("tamberlo._tamberlo").attr("__file__").cast<std::string>();
    return (std::filesystem::path(self).parent_path() / "Tamberlo.p").string();
}

std::string Quote(const std::string &text) {
    return py::repr(py::str(text)).cast<std::string>();
}

}  // namespace

void BindCommands(py::module_ &module) {
    py::class_<apps::ItemMap>(
        module, "ItemMap",
        Doc("A map of item names, read by tamberlo.read_map(): one 'source target' pair a "
            "line. As the items of Module.copy() it selects its sources, and of "
            "Module.paste() its targets, each in the file's line order."))
        .def_readonly("path", &apps::ItemMap::path, Doc("The file it was read from."))
        .def_property_readonly(
            "pairs",
            [](const apps::ItemMap &map) {
                py::list pairs;
                for (const apps::ItemMap::Pair &pair : map.pairs)
                    pairs.append(py::make_tuple(pair.source, pair.target));
                return pairs;
            },
            Doc("The (source, target) name pairs in the file's order."))
        .def(
            "__len__", [](const apps::ItemMap &map) { return map.pairs.size(); },
            Doc("len(map) -> int\n\nThe number of pairs."))
        .def("__repr__", [](const apps::ItemMap &map) {
            return "<tamberlo.ItemMap " + Quote(map.path) + ": " +
                   std::to_string(map.pairs.size()) +
                   (map.pairs.size() == 1 ? " pair>" : " pairs>");
        });

    module.def(
        "read_map",
        [](const std::filesystem::path &path) { return apps::ReadItemMap(path.string()); },
        py::arg("path"),
        Doc("read_map(path: str | os.PathLike) -> ItemMap\n\n"
            "Reads a map of item names as tamberlo-scene --map does: each line names an item "
            "of the source scene, then the item of the target scene its motion goes onto; a "
            "name holding a space or a # stands in double quotes, # starts a comment, blank "
            "lines are skipped.\n\n"
            "Raises ValueError, with the file and line, for a malformed map, and OSError for "
            "one that cannot be read."));

    py::class_<apps::PlottedChannel>(
        module, "Change",
        Doc("A channel that a paste changed or created, with its key counts before and "
            "after."))
        .def_readonly("item", &apps::PlottedChannel::item,
                      Doc("The item's name, as the panels show it."))
        .def_readonly("channel", &apps::PlottedChannel::channel, Doc("The channel's name."))
        .def_property_readonly(
            "keys_before",
            [](const apps::PlottedChannel &channel) { return channel.before.size(); },
            Doc("How many keys it had before the paste: 0 for a channel the paste created."))
        .def_property_readonly(
            "keys_after", [](const apps::PlottedChannel &channel) { return channel.after.size(); },
            Doc("How many keys it has after the paste."))
        .def("__repr__", [](const apps::PlottedChannel &channel) {
            return "<tamberlo.Change " + channel.item + " " + channel.channel + ": " +
                   std::to_string(channel.before.size()) + " keys before, " +
                   std::to_string(channel.after.size()) + " after>";
        });

    py::class_<CopyResult>(module, "CopyResult",
                           Doc("What a copy did: the items, the frames, and what the user saw "
                               "of its panel. str() gives it as tamberlo-scene prints it."))
        .def_readonly("scene", &CopyResult::scene, Doc("The path of the scene copied from."))
        .def_readonly("items", &CopyResult::items, Doc("The items copied, in selection order."))
        .def_property_readonly(
            "frames",
            [](const CopyResult &result) {
                return py::make_tuple(result.frames.first, result.frames.last);
            },
            Doc("(first, last): the frames copied, as the panel held them when confirmed."))
        .def_property_readonly(
            "shown", [](const CopyResult &result) { return Lines(result.report.shown); },
            Doc("What the user saw, a line each, in UTF-8: the panel, its controls, the rows "
                "of its lists as they were read, and each act on them."))
        .def(
            "__str__", [](const CopyResult &result) { return Text(result.report); },
            Doc("str(result) -> str\n\nThe activation and what the user saw, as "
                "tamberlo-scene prints them."))
        .def("__repr__", [](const CopyResult &result) {
            return "<tamberlo.CopyResult " + std::to_string(result.items.size()) + " items of " +
                   result.scene + ", frames " + std::to_string(result.frames.first) + " to " +
                   std::to_string(result.frames.last) + ">";
        });

    py::class_<PasteResult>(module, "PasteResult",
                            Doc("What a paste did: the channels it changed and what the user "
                                "saw. str() gives it as tamberlo-scene prints it; draw() "
                                "draws it."))
        .def_readonly("scene", &PasteResult::scene, Doc("The path of the scene pasted into."))
        .def_readonly("source", &PasteResult::source,
                      Doc("The path of the scene the motion was copied from."))
        .def_readonly("items", &PasteResult::items,
                      Doc("The items pasted onto, in selection order."))
        .def_property_readonly(
            "frames",
            [](const PasteResult &result) {
                return py::make_tuple(result.frames.first, result.frames.last);
            },
            Doc("(first, last): the frames that were copied."))
        .def_readonly("at", &PasteResult::at, Doc("The frame the paste started at."))
        .def_property_readonly(
            "window",
            [](const PasteResult &result) {
                return py::make_tuple(result.at, apps::PastedWindowLast(result.frames, result.at));
            },
            Doc("(at, at + last - first): the frames the pasted motion occupies."))
        .def_readonly("changes", &PasteResult::changed,
                      Doc("The channels of the items that the paste changed or created, as "
                          "Change objects, in selection order and each item's channel order."))
        .def_property_readonly(
            "shown", [](const PasteResult &result) { return Lines(result.report.shown); },
            Doc("What the user saw, a line each, in UTF-8."))
        .def("draw", &Draw, py::arg("path"), py::arg("title") = py::none(),
             Doc("draw(path: str | os.PathLike, title: str | None = None) -> list[Change]\n\n"
                 "Draws the changed channels into an SVG page, as tamberlo-scene --plot does: "
                 "each channel's keys before the paste in grey and after it in colour, the "
                 "pasted window shaded, titled 'Paste from SOURCE into SCENE' unless `title` "
                 "is given. The file is replaced whole or not at all (OSError when it cannot "
                 "be written). Returns the changes the page leaves out, for it draws at most "
                 "108 channels: empty when it draws them all."))
        .def(
            "__str__", [](const PasteResult &result) { return Text(result); },
            Doc("str(result) -> str\n\nThe activation, what the user saw and the channels "
                "changed, as tamberlo-scene prints them."))
        .def("__repr__", [](const PasteResult &result) {
            return "<tamberlo.PasteResult " + std::to_string(result.items.size()) + " items of " +
                   result.scene + " at frame " + std::to_string(result.at) + ", " +
                   std::to_string(result.changed.size()) + " channels changed>";
        });

    py::class_<Module>(
        module, "Module",
        Doc("A loaded Tamberlo.p, loaded as Layout loads it: its descriptor checked, its "
            "startup called. Its clipboard lives as long as it stays loaded, so that one copy "
            "pastes into any number of scenes. Close it with close(), or use it in a with "
            "statement."))
        .def_property_readonly("path", &Module::Path, Doc("The module file."))
        .def_property_readonly("closed", &Module::Closed,
                               Doc("Whether close() has been called; a closed module's "
                                   "commands raise ValueError."))
        .def("copy", &Copy, py::arg("scene"), py::arg("items"),
             Doc("copy(scene: Scene, items: str | Iterable[str] | ItemMap, *, "
                 "frames: tuple[int, int] | str | None = None, "
                 "off: Acts = None, on: Acts = None, toggle: Acts = None) -> CopyResult\n\n"
                 "Selects `items` in `scene` in that order and runs the module's copy command, "
                 "working its panel as a person would, then confirming it:\n"
                 "  - types `frames`, (first, last) or 'FIRST:LAST'; without them the scene's "
                 "range, which the panel offers, stays;\n"
                 "  - for each `off` or `on`, 'ITEM:CHANNEL' or (item, channel), picks the item "
                 "and the channel and sets its enabled switch;\n"
                 "  - for each `toggle`, 'ITEM:GROUP' (Position, Rotation, Scale, others or "
                 "all), picks the item and chooses the group toggle.\n"
                 "Each Acts is one string, or a list of strings or (item, what) pairs. The "
                 "acts are done in the order their keywords are written, as tamberlo-scene "
                 "does its options in the order given: off=..., toggle=... switches off, then "
                 "toggles.\n\n"
                 "`items` are names or shell patterns ('Joint0[0-4]?'), as tamberlo-scene "
                 "--from takes them: a list, or one string as one entry (never split at "
                 "commas); or an ItemMap, whose sources it selects.\n\n"
                 "Raises Refused with the module's message, ContractBreach listing every "
                 "breach, KeyError naming an unknown item, pattern or channel, ValueError for "
                 "frames that are not whole numbers, an item selected twice or an act the "
                 "panel cannot take."))
        .def("paste", &Paste, py::arg("scene"), py::arg("items"), py::kw_only(),
             py::arg("at") = py::none(),
             Doc("paste(scene: Scene, items: str | Iterable[str] | ItemMap, *, "
                 "at: int | None = None) -> PasteResult\n\n"
                 "Selects `items` in `scene` and runs the module's paste command: types `at`, "
                 "the frame the paste starts at (without it the one the panel offers stays), "
                 "and confirms. The module writes the copied motion onto the items in order, "
                 "after clearing the frames it will occupy. `items` as for copy(); an ItemMap "
                 "selects its targets.\n\n"
                 "Raises as copy() does; the scene is left as the host holds it."))
        .def("close", &Module::Close,
             Doc("close() -> None\n\nCalls the module's shutdown and unloads it, its "
                 "clipboard with it. Closing it again does nothing."))
        .def(
            "__enter__", [](Module &module) -> Module & { return module; },
            Doc("with tamberlo.load_module() as module: ...\n\nThe module itself."))
        .def(
            "__exit__",
            [](Module &module, const py::args &) {
                module.Close();
                return false;
            },
            Doc("Closes the module at the end of the with statement."))
        .def("__repr__", [](const Module &module) {
            return "<tamberlo.Module " + Quote(module.Path()) +
                   (module.Closed() ? " closed>" : ">");
        });

    module.def(
        "load_module",
        [](const std::optional<std::filesystem::path> &path) {
            return Module(path ? path->string() : DefaultModulePath());
        },
        py::arg("path") = py::none(),
        Doc("load_module(path: str | os.PathLike | None = None) -> Module\n\n"
            "Loads a module file as Layout does: by default the Tamberlo.p that stands beside "
            "this package. Raises LoadError for a file that cannot be loaded or whose "
            "descriptor Layout would refuse."));
}

}  // namespace tamberlo_python
