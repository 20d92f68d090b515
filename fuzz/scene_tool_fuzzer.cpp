// tamberlo-scene's whole run under libFuzzer, in-process: each input becomes
// an argument vector of the tool's options and values drawn from what a user
// could hand it (the sample scenes, their items and channels, frame ranges
// and start frames well-formed and not, names unknown and repeated, shell
// patterns that match several items, one or none, map files well-formed and
// not, output and plot paths that are missing, folders, unwritable or the
// inputs themselves), run in a folder of its own. Then:
//
// - either the tool exits 0: every scene it was told to write reads back as a
//   scene and writes back to the same bytes, every picture is a whole SVG
//   page, and every other file is as it was, with no file left beside them;
// - or it exits 1 with a message, and the folder is exactly as it was.
//
// A small reference of the options says whether --frames is two whole
// numbers and nothing else, --from and --to select each item once, and
// --plot names no scene, however spelled: the tool refuses what breaks one,
// and refuses for none what keeps it (where the reference can tell).
//
// One input in eight runs the tool with a module that breaks the host
// contract under the copy and paste server names: once its copy has run, the
// tool reports the breach and exits 1.
#include <fnmatch.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "apps/scene_tool.h"
#include "scenefile/scene_file.h"
#include "standin/scene.h"

#ifndef TAMBERLO_MODULE_DIR
#error "TAMBERLO_MODULE_DIR must name the folder of the module the tool loads"
#endif
#ifndef MISUSE_MODULE_PATH
#error "MISUSE_MODULE_PATH must name the module that breaks the host contract"
#endif
#ifndef TAMBERLO_SAMPLES_DIR
#error "TAMBERLO_SAMPLES_DIR must name the sample scenes"
#endif

namespace {

namespace fs = std::filesystem;

// The misuses that break the contract whatever the selected item holds (see
// tests/fixtures/misuse_module.cpp); the others need channels with keys.
constexpr int ALWAYS_BREACHING[] = {1, 2, 3, 4, 5, 6, 9};

const fs::path &Folder() {
    static const fs::path folder =
        fs::temp_directory_path() / ("tamberlo-scene-fuzz-" + std::to_string(getpid()));
    return folder;
}

std::string In(const char *name) {
    return (Folder() / name).string();
}

std::string ReadBytes(const fs::path &path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return std::move(bytes).str();
}

// Map files of source and target pairs: for walk.lws onto stage.lws, within
// walk.lws, and each way a map is refused.
const std::pair<const char *, const char *> MAPS[] = {
    {"onto-stage.map",
     "# walk onto stage\n\nRunner Dancer # the runner\r\n\"Tracker\"\t\"Prop Null\"\n"},
    {"swap.map", "Runner Tracker\nTracker Runner"},
    {"unclosed.map", "Runner \"Dancer\n"},
    {"three.map", "Runner Dancer Fill\n"},
    {"quote-inside.map", "Run\"ner\" Dancer\n"},
    {"target-twice.map", "Runner Dancer\nTracker Dancer\n"},
    {"unknown.map", "Nobody Dancer\n"},
    {"comments-only.map", "# nothing\n\n"},
};

// A fresh folder: the three samples, a text that is no scene, the maps, one
// of them made from the input, and a subfolder holding a scene of its own.
void MakeFolder(const std::string &inputMap) {
    std::error_code ignored;
    fs::remove_all(Folder(), ignored);
    fs::create_directories(Folder() / "sub");
    for (const char *sample : {"walk.lws", "stage.lws", "legacy.lws"})
        fs::copy_file(fs::path(TAMBERLO_SAMPLES_DIR) / sample, Folder() / sample);
    fs::copy_file(fs::path(TAMBERLO_SAMPLES_DIR) / "walk.lws", Folder() / "sub" / "walk.lws");
    fs::create_symlink("walk.lws", Folder() / "link.lws");
    std::ofstream(Folder() / "notes.txt") << "not a scene\n";
    for (const auto &[name, text] : MAPS) std::ofstream(Folder() / name) << text;
    std::ofstream(Folder() / "input.map") << inputMap;
}

// Every file, folder and link under the folder, with the files' bytes.
std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(Folder())) {
        const std::string name = fs::relative(entry.path(), Folder()).string();
        entries[name] = entry.is_symlink()     ? "<link to " + fs::read_symlink(entry).string()
                        : entry.is_directory() ? "<folder>"
                                               : ReadBytes(entry.path());
    }
    return entries;
}

[[noreturn]] void Fail(const std::string &what, const std::vector<std::string> &arguments,
                       int status, const std::string &out, const std::string &err) {
    std::fprintf(stderr, "\n==== tamberlo-scene: %s\n---- arguments:", what.c_str());
    for (const std::string &argument : arguments) std::fprintf(stderr, " '%s'", argument.c_str());
    std::fprintf(stderr, "\n---- exit %d\n---- out:\n%s---- err:\n%s\n", status, out.c_str(),
                 err.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

const std::vector<std::string> SCENES = {
    In("walk.lws"),    In("stage.lws"), In("legacy.lws"), In("sub/walk.lws"),
    In("missing.lws"), In("notes.txt"), In("sub"),        "",
    In("link.lws"),
};
const std::vector<std::string> OUTPUTS = {
    In("out.lws"),  In("sub/out.lws"), In("missing/out.lws"),    In("sub"),
    In("walk.lws"), In("stage.lws"),   "/proc/tamberlo-out.lws", "",
};
// Among them the scenes by other spellings: through . and .., and a link.
const std::vector<std::string> PLOTS = {
    In("paste.svg"),       In("sub/paste.svg"), In("missing/paste.svg"),    In("sub"),
    In("out.lws"),         In("walk.lws"),      "/proc/tamberlo-paste.svg", In("./out.lws"),
    In("sub/../walk.lws"), In("link.lws"),      In("./paste.svg"),
};
const std::vector<std::string> ITEMS = {
    "Runner", "Tracker", "Hurdle",     "Hip", "Key Light", "Camera", "Dancer", "Prop Null",
    "Fill",   "Ball",    "Ball Stand", "Sun", "Nobody",    "runner", "",
};
// Patterns matching several items, one, none, or made plain by a backslash.
const std::vector<std::string> PATTERNS = {
    "*",     "R*", "*r",   "?racker", "[RT]*", "Prop*", "D?ncer", "Nob*",        "Runner\\*",
    "[!R]*", "[",  "Run[", "\\R*",    "*\\",   "H*,H*", "C*",     "Prop\\ Null", "**"};
const std::vector<std::string> MAP_FILES = {
    In("onto-stage.map"),   In("swap.map"),         In("unclosed.map"), In("three.map"),
    In("quote-inside.map"), In("target-twice.map"), In("unknown.map"),  In("comments-only.map"),
    In("input.map"),        In("missing.map"),      In("sub"),          "",
};
const std::vector<std::string> CHANNELS = {
    "Position.X", "Position.Y", "Position.Z", "Rotation.H", "Rotation.P", "Rotation.B",
    "Scale.X",    "Scale.Y",    "Scale.Z",    "Dissolve",   "Position",   "",
};
const std::vector<std::string> GROUPS = {"Position", "Rotation", "Scale", "others", "all", "bogus"};
const std::vector<std::string> FRAMES = {
    "10:40", "0:30",     "40:10",     "-5:5",   "10:",           ":40",
    "10",    "1x:4",     "10:40junk", " 10:40", "99999999999:1", "2147483647:-2147483648",
    "0:0",   "10:40:50",
};
// Put around a frame range now and then: a blank, a sign, junk.
const std::vector<std::string> FRAME_JUNK = {"", "", "", "", " ", "+", "-", "x", ".5", "\n"};
const std::vector<std::string> NUMBERS = {"30",          "0",  "-10", "2147483647", "-2147483648",
                                          "99999999999", "3x", "",    "1e3"};
const std::vector<std::string> MODULES = {TAMBERLO_MODULE_DIR "/Tamberlo.p", In("walk.lws"),
                                          In("missing.p")};
const std::vector<std::string> STRAY = {"--bogus", "-x", "--frames=10:40", "--help", "--"};

const std::string &Pick(FuzzedDataProvider &input, const std::vector<std::string> &values) {
    return values[input.ConsumeIntegralInRange<std::size_t>(0, values.size() - 1)];
}

std::string PickItem(FuzzedDataProvider &input) {
    return Pick(input, input.ConsumeBool() ? ITEMS : PATTERNS);
}

std::string PickFrames(FuzzedDataProvider &input) {
    return Pick(input, FRAME_JUNK) + Pick(input, FRAMES) + Pick(input, FRAME_JUNK);
}

// One to three item names or patterns, comma-separated, now and then one twice.
std::string PickItems(FuzzedDataProvider &input) {
    std::string item = PickItem(input), items = item;
    for (int more = input.ConsumeIntegralInRange(0, 3); more > 1; --more)
        items += "," + (input.ConsumeIntegralInRange(0, 3) == 0 ? item : PickItem(input));
    return items;
}

// The map made from the input: lines of pairs of names, quoted or not, and
// lines that are blank, comments, one or three names, or an open quote.
std::string PickMap(FuzzedDataProvider &input) {
    std::string text;
    for (int lines = input.ConsumeIntegralInRange(0, 4); lines > 0; --lines) {
        const auto name = [&] {
            const std::string &item = Pick(input, ITEMS);
            return input.ConsumeBool() ? "\"" + item + "\"" : item;
        };
        switch (input.ConsumeIntegralInRange(0, 6)) {
            case 0:
                text += "# a comment";
                break;
            case 1:
                break;
            case 2:
                text += name();
                break;
            case 3:
                text += name() + " " + name() + " " + name();
                break;
            case 4:
                text += "\"" + name() + " " + name();
                break;
            default:
                text += name() + "\t" + name() + (input.ConsumeBool() ? " # why" : "");
                break;
        }
        text += input.ConsumeBool() ? "\r\n" : "\n";
    }
    return text;
}

enum Option {
    SCENE,
    OUTPUT,
    FROM,
    TO,
    MAP,
    INTO,
    FRAMES_OPTION,
    AT,
    OFF,
    ON,
    TOGGLE,
    PLOT,
    MODULE,
    STRAY_OPTION,
    RANDOM,
    OPTION_COUNT
};

// The files an option told the tool to write: scenes, or pictures.
struct Named {
    std::vector<std::string> scenes, plots;
};

// The tool's arguments. Most runs start from a copy and paste or a round trip
// that would succeed, and add what the input adds. No argument starts with a
// dash unless it is an option, so that no file is ever named outside the
// folder.
std::vector<std::string> PickArguments(FuzzedDataProvider &input, bool misuse, Named &named) {
    std::vector<std::string> arguments = {"tamberlo-scene"};
    const auto plot = [&] {
        arguments.insert(arguments.end(), {"--plot", Pick(input, PLOTS)});
        named.plots.push_back(arguments.back());
    };
    const int start = input.ConsumeIntegralInRange(0, 4);
    switch (start) {
        case 0:
            arguments.insert(arguments.end(),
                             {In("walk.lws"), "--from", "Runner,Tracker", "--to",
                              "Dancer,Prop Null", "--into", In("stage.lws"), "-o", In("out.lws")});
            named.scenes.push_back(In("out.lws"));
            break;
        case 1:
            arguments.insert(arguments.end(), {In("walk.lws"), "-o", In("out.lws")});
            named.scenes.push_back(In("out.lws"));
            break;
        case 2:
            arguments.insert(arguments.end(), {In("walk.lws"), "--map", In("onto-stage.map"),
                                               "--into", In("stage.lws"), "-o", In("out.lws")});
            named.scenes.push_back(In("out.lws"));
            break;
        case 3: {  // within walk.lws, onto as many items as copied, one now and then twice
            std::string lists[2];
            for (int count = input.ConsumeIntegralInRange(1, 3); count > 0; --count)
                for (std::string &list : lists)
                    list += (list.empty() ? "" : ",") + ITEMS[input.ConsumeIntegralInRange(0, 3)];
            arguments.insert(arguments.end(), {In("walk.lws"), "--from", lists[0], "--to", lists[1],
                                               "-o", In("out.lws")});
            named.scenes.push_back(In("out.lws"));
            break;
        }
        default:
            break;
    }
    // A copy and paste that would succeed is now and then given frames, or
    // draws, onto a scene by another spelling among others; and one input in
    // four adds nothing more, so that more runs get as far as writing.
    if (start != 1 && start != 4 && input.ConsumeIntegralInRange(0, 3) == 0)
        arguments.insert(arguments.end(), {"--frames", PickFrames(input)});
    if (start != 1 && start != 4 && input.ConsumeIntegralInRange(0, 3) == 0) plot();
    const bool more = input.ConsumeIntegralInRange(0, 3) != 0;
    for (int options = more ? input.ConsumeIntegralInRange(0, 8) : 0; options > 0; --options) {
        const auto option = static_cast<Option>(input.ConsumeIntegralInRange(0, OPTION_COUNT - 1));
        const auto add = [&](const char *name, const std::string &value) {
            arguments.push_back(name);
            arguments.push_back(value);
        };
        switch (option) {
            case SCENE:
                arguments.push_back(Pick(input, SCENES));
                break;
            case OUTPUT:
                add("-o", Pick(input, OUTPUTS));
                named.scenes.push_back(arguments.back());
                break;
            case FROM:
                add("--from", PickItems(input));
                break;
            case TO:
                add("--to", PickItems(input));
                break;
            case MAP:
                add("--map", Pick(input, MAP_FILES));
                break;
            case INTO:
                add("--into", Pick(input, SCENES));
                break;
            case FRAMES_OPTION:
                add("--frames", PickFrames(input));
                break;
            case AT:
                add("--at", Pick(input, NUMBERS));
                break;
            case OFF:
                add("--off", Pick(input, ITEMS) + ":" + Pick(input, CHANNELS));
                break;
            case ON:
                add("--on", Pick(input, ITEMS) + ":" + Pick(input, CHANNELS));
                break;
            case TOGGLE:
                add("--toggle", Pick(input, ITEMS) + ":" + Pick(input, GROUPS));
                break;
            case PLOT:
                plot();
                break;
            case MODULE:
                if (!misuse) add("--module", Pick(input, MODULES));
                break;
            case STRAY_OPTION:
                arguments.push_back(Pick(input, STRAY));
                break;
            default: {
                std::string random = input.ConsumeRandomLengthString(24);
                if (random.starts_with("-")) random.insert(0, "x");
                arguments.push_back(random);
                break;
            }
        }
    }
    if (misuse) {
        arguments.push_back("--module");
        arguments.push_back(MISUSE_MODULE_PATH);
    }
    return arguments;
}

bool Among(const std::vector<std::string> &paths, const std::string &name) {
    for (const std::string &path : paths)
        if (!path.empty() &&
            fs::path(path).lexically_normal() == (Folder() / name).lexically_normal())
            return true;
    return false;
}

bool ReadsBackAsAScene(const std::string &bytes) {
    try {
        standin::Scene scene;
        const standin::SceneFile file = standin::SceneFile::Read(bytes, scene, "written.lws");
        return file.Write(scene) == bytes;
    } catch (const standin::SceneFileError &) {
        return false;
    }
}

bool IsWholeSvg(const std::string &bytes) {
    return bytes.find("<svg") != std::string::npos && bytes.find("</svg>") != std::string::npos &&
           bytes.find_last_not_of("\n") + 1 == bytes.rfind("</svg>") + 6;
}

// What the reference says of one rule: the arguments break it, keep it, or it
// cannot tell.
enum class Verdict { Unknown, Keeps, Breaks };

// FIRST:LAST, each a whole number an int holds, and nothing else.
Verdict Frames(const std::vector<std::string> &values) {
    static const std::regex range("(-?[0-9]+):(-?[0-9]+)");
    for (const std::string &frames : values) {
        std::smatch parts;
        if (!std::regex_match(frames, parts, range)) return Verdict::Breaks;
        for (int number : {1, 2})  // the numbers drawn have at most 11 digits
            if (const long long frame = std::stoll(parts[number]);
                frame < INT_MIN || frame > INT_MAX)
                return Verdict::Breaks;
    }
    return Verdict::Keeps;
}

// Whether the entries of `lists` select each item of the scene at `path`
// once, taken in order: a shell pattern selects what it matches, any other
// entry the one item of that name. Past an entry that selects nothing or no
// one item, the tool refuses for that.
Verdict SelectsEachOnce(const std::vector<std::string> &lists, const std::string &path) {
    standin::Scene scene;
    std::vector<std::string> names;
    try {
        const standin::SceneFile file = standin::SceneFile::Read(ReadBytes(path), scene, path);
        for (const auto &item : file.Items()) names.push_back(item.name);
    } catch (const std::exception &) {
        return Verdict::Unknown;
    }
    std::vector<char> selected(names.size(), 0);
    for (const std::string &list : lists) {
        std::istringstream entries(list);
        for (std::string entry; std::getline(entries, entry, ',');) {
            if (entry.find('\\') != std::string::npos) return Verdict::Unknown;
            if (entry.empty()) continue;  // CLI11 drops empty entries
            const bool pattern = entry.find_first_of("*?[") != std::string::npos;
            std::vector<std::size_t> matched;
            for (std::size_t i = 0; i < names.size(); ++i)
                if (pattern ? fnmatch(entry.c_str(), names[i].c_str(), 0) == 0 : entry == names[i])
                    matched.push_back(i);
            if (matched.empty() || (!pattern && matched.size() > 1)) return Verdict::Unknown;
            for (std::size_t i : matched)
                if (std::exchange(selected[i], 1)) return Verdict::Breaks;
        }
    }
    return Verdict::Keeps;
}

// Whether a --plot names a scene as the file system resolves paths: through
// . and .., and links.
Verdict PlotNamesNoScene(const std::vector<std::string> &plots,
                         const std::vector<std::string> &scenes) try {
    for (const std::string &plot : plots)
        for (const std::string &scene : scenes)
            if (!scene.empty() && fs::weakly_canonical(plot) == fs::weakly_canonical(scene))
                return Verdict::Breaks;
    return Verdict::Keeps;
} catch (const fs::filesystem_error &) {
    return Verdict::Unknown;
}

struct Rule {
    const char *name;
    Verdict verdict;
    const char *refusal;  // a pattern of what the tool says when it refuses for the rule
};

// The rules as the reference reads the arguments: each option before its
// value, the rest the scene; nothing past a stray option, which may change
// how the others are read.
std::vector<Rule> Reference(const std::vector<std::string> &arguments) {
    std::map<std::string, std::vector<std::string>> said;
    for (std::size_t at = 1; at < arguments.size(); ++at) {
        const bool option = arguments[at].starts_with("-");
        if (std::count(STRAY.begin(), STRAY.end(), arguments[at]) ||
            at + option == arguments.size())
            return {};
        said[option ? arguments[at] : "scene"].push_back(arguments[at + option]);
        at += option;
    }
    const std::vector<std::string> &sources = said["scene"], &intos = said["--into"];
    const std::string source = sources.size() == 1 ? sources[0] : "";
    const std::string target = intos.empty() || (intos.size() == 1 && intos[0].empty()) ? source
                               : intos.size() == 1                                      ? intos[0]
                                                                                        : "";
    const auto selects = [](const std::vector<std::string> &lists, const std::string &scene) {
        return scene.empty() ? Verdict::Unknown : SelectsEachOnce(lists, scene);
    };
    std::vector<std::string> scenes = said["-o"];
    scenes.insert(scenes.end(), sources.begin(), sources.end());
    scenes.insert(scenes.end(), intos.begin(), intos.end());
    return {{"--frames is FIRST:LAST", Frames(said["--frames"]), "--frames takes"},
            {"--from selects each item once", selects(said["--from"], source),
             "--from.*an item is selected once"},
            {"--to selects each item once", selects(said["--to"], target),
             "--to.*an item is selected once"},
            {"--plot names no scene", PlotNamesNoScene(said["--plot"], scenes),
             "which the picture would replace"}};
}

}  // namespace

// The folder goes with the process.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(Folder(), ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool misuse = input.ConsumeIntegralInRange(0, 7) == 0;
    if (misuse) {
        const int chosen = ALWAYS_BREACHING[input.ConsumeIntegralInRange<std::size_t>(
            0, std::size(ALWAYS_BREACHING) - 1)];
        setenv("TAMBERLO_MISUSE", std::to_string(chosen).c_str(), 1);
    }
    Named named;
    const std::vector<std::string> arguments = PickArguments(input, misuse, named);
    const std::string inputMap = PickMap(input);

    MakeFolder(inputMap);
    const std::vector<Rule> rules = Reference(arguments);
    const std::map<std::string, std::string> before = Snapshot();
    std::ostringstream out, err;
    const int status = apps::RunSceneTool(arguments, TAMBERLO_MODULE_DIR, out, err);
    const std::map<std::string, std::string> after = Snapshot();
    const auto fail = [&](const std::string &what) {
        Fail(what, arguments, status, out.str(), err.str());
    };

    for (const Rule &rule : rules) {
        if (status == 0 && rule.verdict == Verdict::Breaks)
            fail(std::string("accepted what breaks the rule: ") + rule.name);
        if (status == 1 && rule.verdict == Verdict::Keeps &&
            std::regex_search(err.str(), std::regex(rule.refusal)))
            fail(std::string("refused for the rule, which the arguments keep: ") + rule.name);
    }
    const bool activated = out.str().find("activate \"Ruxo_Tamberlo copy\"") != std::string::npos;
    if (misuse && activated) {
        if (status == 0) fail("a module that breaks the host contract copied and pasted");
        if (err.str().find("broke the host contract") == std::string::npos)
            fail("the breach of the host contract was not reported");
    }
    if (status == 1) {
        if (err.str().empty()) fail("refused without a message");
        if (after != before) fail("refused, but the folder changed");
        return 0;
    }
    if (status != 0) fail("an exit status other than 0 and 1");
    for (const auto &[name, bytes] : after) {
        const auto found = before.find(name);
        const bool changed = found == before.end() || found->second != bytes;
        if (!changed) continue;
        // A file that was there is replaced only by a scene -o names (an
        // input among them); a new file is that scene or a picture.
        if (Among(named.scenes, name)) {
            if (!ReadsBackAsAScene(bytes)) fail(name + ", named by -o, is not a whole scene");
        } else if (found != before.end() || !Among(named.plots, name)) {
            fail(name + " changed or appeared, but no option named it");
        } else if (!IsWholeSvg(bytes)) {
            fail(name + ", named by --plot, is not a whole SVG page");
        }
    }
    for (const auto &[name, bytes] : before)
        if (after.count(name) == 0) fail(name + " is gone");
    return 0;
}
