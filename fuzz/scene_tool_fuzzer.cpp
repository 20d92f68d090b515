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
// One input in eight runs the tool with a module that breaks the host
// contract under the copy and paste server names: once its copy has run, the
// tool reports the breach and exits 1.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
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
    std::ofstream(Folder() / "notes.txt") << "not a scene\n";
    for (const auto &[name, text] : MAPS) std::ofstream(Folder() / name) << text;
    std::ofstream(Folder() / "input.map") << inputMap;
}

// Every file and folder under the folder, with the files' bytes.
std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(Folder())) {
        const std::string name = fs::relative(entry.path(), Folder()).string();
        entries[name] = entry.is_directory() ? "<folder>" : ReadBytes(entry.path());
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
};
const std::vector<std::string> OUTPUTS = {
    In("out.lws"),  In("sub/out.lws"), In("missing/out.lws"),    In("sub"),
    In("walk.lws"), In("stage.lws"),   "/proc/tamberlo-out.lws", "",
};
const std::vector<std::string> PLOTS = {
    In("paste.svg"), In("sub/paste.svg"), In("missing/paste.svg"),    In("sub"),
    In("out.lws"),   In("walk.lws"),      "/proc/tamberlo-paste.svg",
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

// One to three item names or patterns, comma-separated.
std::string PickItems(FuzzedDataProvider &input) {
    std::string items = PickItem(input);
    for (int more = input.ConsumeIntegralInRange(0, 3); more > 1; --more)
        items += "," + PickItem(input);
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
    switch (input.ConsumeIntegralInRange(0, 3)) {
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
        default:
            break;
    }
    for (int options = input.ConsumeIntegralInRange(0, 8); options > 0; --options) {
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
                add("--frames", Pick(input, FRAMES));
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
                add("--plot", Pick(input, PLOTS));
                named.plots.push_back(arguments.back());
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
    const std::map<std::string, std::string> before = Snapshot();
    std::ostringstream out, err;
    const int status = apps::RunSceneTool(arguments, TAMBERLO_MODULE_DIR, out, err);
    const std::map<std::string, std::string> after = Snapshot();
    const auto fail = [&](const std::string &what) {
        Fail(what, arguments, status, out.str(), err.str());
    };

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
