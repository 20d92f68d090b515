// tamberlo-scene, run in-process on the sample scenes with the built module:
// a copy from one file into another checked key by key, and the inputs it
// must refuse without writing anything.
#include "apps/scene_tool.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "scenefile/scene_file.h"
#include "standin/standin.h"
#include "tests/scene_files.h"

// While set to a folder, close() of a new file beside its target there (a
// ".tmp") closes it and then fails with EIO, as a network file system reports
// a full disk only when the file is closed.
static std::string_view closeFailsIn;

extern "C" int close(int descriptor) {
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
    bool fails = false;
    if (!closeFailsIn.empty()) {
        char path[PATH_MAX];
        const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
        const ssize_t length = readlink(link.c_str(), path, sizeof path);
        const std::string_view file(path, length > 0 ? static_cast<std::size_t>(length) : 0);
        fails = file.starts_with(closeFailsIn) && file.ends_with(".tmp");
    }
    const int result = real(descriptor);
    if (!fails || result != 0) return result;
    errno = EIO;
    return -1;
}

namespace {

namespace fs = std::filesystem;
using tamberlo_test::ReadBytes;
using tamberlo_test::SAMPLES;

class SceneToolTest : public ::testing::Test {
  protected:
    struct Run {
        int status = 0;
        std::string out, err;
    };

    Run Tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "tamberlo-scene");
        std::ostringstream out, err;
        const int status =
            apps::RunSceneTool(arguments, fs::path(TAMBERLO_MODULE_PATH).parent_path(), out, err);
        return Run{status, out.str(), err.str()};
    }

    // Runs a command that must fail, and checks that it said why and wrote nothing.
    Run ExpectRefused(std::vector<std::string> arguments, const std::string &reason) {
        Run run = Tool(std::move(arguments));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("nothing was written"), std::string::npos) << run.err;
        EXPECT_TRUE(fs::is_empty(folder.Path())) << run.err;
        return run;
    }

    std::string Output() const { return (folder.Path() / "out.lws").string(); }
    std::string Sample(const char *name) const { return (SAMPLES / name).string(); }

    tamberlo_test::TemporaryFolder folder;
};

// A scene file as the stand-in reads it, for looking at its keys.
struct LoadedScene {
    standin::Scene scene;
    explicit LoadedScene(const fs::path &path) { standin::SceneFile::Load(path, scene); }
    std::vector<standin::KeyState> Keys(const char *item, const char *channel) const {
        for (const standin::ChannelState &state : scene.Channels(*scene.FindItem(item)))
            if (state.name == channel) return scene.Keys(state.envelope);
        return {};
    }
};

// Runner's frames 10 to 40 (30 frames per second) land on Dancer from frame
// 30 (29.97 frames per second), and Tracker's on Prop Null, which lacks six
// of the channels; Runner's Rotation.H and Tracker's Scale group are switched
// off. Every pasted key keeps its value, shape and parameters; its time moves
// by 20 frames of the target; the target's keys outside the window stay.
TEST_F(SceneToolTest, CopiesMotionFromOneFileIntoAnotherKeyByKey) {
    const std::string walk = ReadBytes(Sample("walk.lws")), stage = ReadBytes(Sample("stage.lws"));
    const Run run =
        Tool({Sample("walk.lws"), "--from", "Runner,Tracker", "--into", Sample("stage.lws"), "--to",
              "Dancer,Prop Null", "--frames", "10:40", "--at", "30", "--off", "Runner:Rotation.H",
              "--toggle", "Tracker:Scale", "-o", Output()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(Sample("walk.lws")), walk);
    EXPECT_EQ(ReadBytes(Sample("stage.lws")), stage);

    const LoadedScene source(Sample("walk.lws")), before(Sample("stage.lws")), after(Output());
    const double shift = 20 / 29.97;
    for (const auto &[from, to] :
         {std::pair{"Runner", "Dancer"}, std::pair{"Tracker", "Prop Null"}})
        for (const char *channel : standin::MOTION_CHANNEL_NAMES) {
            SCOPED_TRACE(std::string(to) + " " + channel);
            const bool off =
                (std::string(from) == "Runner" && std::string(channel) == "Rotation.H") ||
                (std::string(from) == "Tracker" && std::string(channel).starts_with("Scale"));
            if (off) {
                EXPECT_EQ(after.Keys(to, channel).size(), before.Keys(to, channel).size());
                continue;
            }
            std::vector<standin::KeyState> expected;
            for (const standin::KeyState &key : before.Keys(to, channel)) {
                const int frame = static_cast<int>(key.time * 29.97);
                if (frame < 30 || frame > 60) expected.push_back(key);
            }
            for (standin::KeyState key : source.Keys(from, channel)) {
                const int frame = static_cast<int>(key.time * 30);
                if (frame < 10 || frame > 40) continue;
                key.time += shift;
                expected.push_back(key);
            }
            std::sort(expected.begin(), expected.end(),
                      [](const auto &a, const auto &b) { return a.time < b.time; });
            const std::vector<standin::KeyState> got = after.Keys(to, channel);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t k = 0; k < got.size(); ++k) {
                EXPECT_EQ(got[k].time, expected[k].time);
                EXPECT_EQ(got[k].value, expected[k].value);
                EXPECT_EQ(got[k].parameters, expected[k].parameters);
            }
        }
}

TEST_F(SceneToolTest, PastesWithinOneSceneAndMayReplaceItsInput) {
    const fs::path scene = folder.Path() / "walk.lws";
    fs::copy_file(Sample("walk.lws"), scene);
    const Run run =
        Tool({scene.string(), "--from", "Tracker", "--to", "Hurdle", "-o", scene.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const LoadedScene after(scene);
    EXPECT_EQ(after.Keys("Hurdle", "Scale.Y").size(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1);
}

TEST_F(SceneToolTest, DrawsAPasteWhoseWindowEndsPastTheLastFrameAnIntHolds) {
    const Run run =
        Tool({Sample("walk.lws"), "--from", "Runner", "--to", "Hurdle", "--at", "2147483647", "-o",
              Output(), "--plot", (folder.Path() / "paste.svg").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder.Path() / "paste.svg"));
}

// Thirteen items of nine channels pasted onto thirteen others: more changed
// channels than a page draws. The picture leaves out the last item's, and
// the tool names each one it left out.
TEST_F(SceneToolTest, NamesTheChangedChannelsThePictureLeavesOut) {
    std::string text = "LWSC\n5\nFirstFrame 0\nLastFrame 2\nFramesPerSecond 30\n";
    for (int item = 0; item < 26; ++item) {
        text += "AddNullObject 1" + std::to_string(item) + " N" + std::to_string(item) +
                "\nObjectMotion\nNumChannels 9\n";
        for (int channel = 0; channel < 9; ++channel)
            text += "Channel " + std::to_string(channel) + "\n{ Envelope\n  2\n  Key " +
                    std::to_string(item) + " 0 0 0 0 0 0 0 0\n  Key 1 " +
                    std::to_string(channel + 1) + " 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n";
    }
    const tamberlo_test::TemporaryFolder inputs;
    tamberlo_test::WriteBytes(inputs.Path() / "crowd.lws", text);
    const Run run =
        Tool({(inputs.Path() / "crowd.lws").string(), "--from", "N?,N1[0-2]", "--to", "N1[3-9],N2?",
              "-o", Output(), "--plot", (folder.Path() / "crowd.svg").string(), "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected = "the picture leaves out 9 of the 117 changed channels:\n";
    for (const char *channel : standin::MOTION_CHANNEL_NAMES)
        expected += std::string("  N25 ") + channel + "\n";
    EXPECT_TRUE(run.out.ends_with(expected)) << run.out;
}

TEST_F(SceneToolTest, RefusesBadInputsAndWritesNothing) {
    ExpectRefused({Sample("walk.lws"), "--from", "Runner", "--to", "Nobody", "-o", Output()},
                  "has no item named \"Nobody\"; its items are: Runner, Tracker, Hurdle");
    ExpectRefused(
        {Sample("walk.lws"), "--from", "Runner,Tracker", "--to", "Hurdle", "-o", Output()},
        "the module refused: コピー元と選択アイテムの数が一致しません。");
    ExpectRefused({Sample("walk.lws"), "--from", "Runner", "--to", "Hurdle", "--off",
                   "Tracker:Position.X", "-o", Output()},
                  "\"Tracker\" is not one of the copied items");
    ExpectRefused({Sample("missing.lws"), "-o", Output()}, "cannot open");
    ExpectRefused({Sample("walk.lws"), "-o", (folder.Path() / "no" / "out.lws").string()},
                  "the folder");
    for (const char *frames : {"10", "10:40x", "10: 40", "+10:40", ""})
        ExpectRefused({Sample("walk.lws"), "--from", "Runner", "--to", "Hurdle", "--frames", frames,
                       "-o", Output()},
                      "--frames takes FIRST:LAST");
    // A picture that cannot be made leaves the scene unwritten too.
    ExpectRefused({Sample("walk.lws"), "--from", "Runner", "--to", "Hurdle", "-o", Output(),
                   "--plot", "/proc/tamberlo-test.svg"},
                  "cannot write /proc/tamberlo-test.svg");
    const Run malformed = Tool({Sample("walk.lws"), "--frames"});
    EXPECT_EQ(malformed.status, 1) << malformed.err;

    // Scenes of the test's own, kept apart from the folder the tool writes into.
    const tamberlo_test::TemporaryFolder inputs;
    const auto scene = [&](const char *name, const std::string &text) {
        tamberlo_test::WriteBytes(inputs.Path() / name, text);
        return (inputs.Path() / name).string();
    };
    // The picture would replace the scene it names, however its path is spelled.
    const std::string walk = scene("walk.lws", ReadBytes(Sample("walk.lws")));
    fs::create_symlink(walk, inputs.Path() / "link.lws");
    for (const fs::path &plot :
         {fs::path(Output()), fs::path(walk), folder.Path() / "." / "out.lws",
          inputs.Path() / ".." / inputs.Path().filename() / "walk.lws", inputs.Path() / "link.lws"})
        ExpectRefused(
            {walk, "--from", "Runner", "--to", "Hurdle", "-o", Output(), "--plot", plot.string()},
            "which the picture would replace");
    ExpectRefused({inputs.Path().string(), "-o", Output()}, "it is a folder");
    ExpectRefused({scene("broken.lws", "LWSC\n5\nAddNullObject Twin\n"), "-o", Output()},
                  "broken.lws:3: AddNullObject needs");
    ExpectRefused({scene("twins.lws", "LWSC\n5\nAddNullObject 1 Twin\nAddNullObject 2 Twin\n"),
                   "--from", "Twin", "--to", "Twin", "-o", Output()},
                  "2 items named \"Twin\" (lines 3, 4)");
    // Still has no motion block, so the channel the paste creates has no place in the file.
    ExpectRefused({scene("still.lws",
                         "LWSC\n5\nAddNullObject 1 Mover\nObjectMotion\n"
                         "NumChannels 1\nChannel 0\n{ Envelope\n  1\n"
                         "  Key 1 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
                         "AddNullObject 2 Still\n"),
                   "--from", "Mover", "--to", "Still", "-o", Output()},
                  "item \"Still\" (line 12) has channels, and no motion block");
}

// A disk that fills part-way through a file: the file size limit makes the
// kernel refuse the rest, as a full disk would, or close() fails at the end.
// The scene the run would replace keeps its bytes, and no temporary file is
// left beside it, whether the scene or the picture after it meets the limit.
TEST_F(SceneToolTest, AWriteThatFailsPartWayLeavesEveryFileAsItWas) {
    const fs::path scene = folder.Path() / "walk.lws";
    fs::copy_file(Sample("walk.lws"), scene);
    const std::string bytes = ReadBytes(scene);
    const std::vector<std::string> pasteWithPicture = {
        scene.string(), "--from", "Tracker",
        "--to",         "Hurdle", "-o",
        scene.string(), "--plot", (folder.Path() / "paste.svg").string()};
    struct Case {
        std::vector<std::string> arguments;
        rlim_t limit;
        const char *reason;
        bool closeFails = false;
    };
    // The pasted scene is a little larger than the sample, the picture many times so.
    for (const Case &run :
         {Case{{scene.string(), "-o", scene.string()}, bytes.size() / 2, "cannot write"},
          Case{pasteWithPicture, bytes.size() / 2, "cannot write"},
          Case{pasteWithPicture, bytes.size() * 2, "written incomplete"},
          Case{pasteWithPicture, RLIM_INFINITY, "Input/output error", true}}) {
        SCOPED_TRACE(run.reason + (" at " + std::to_string(run.limit)));
        rlimit usual{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &usual), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited{std::min(run.limit, usual.rlim_max), usual.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const std::string folderPath = folder.Path().string() + "/";
        if (run.closeFails) closeFailsIn = folderPath;
        const Run result = Tool(run.arguments);
        closeFailsIn = {};
        setrlimit(RLIMIT_FSIZE, &usual);
        std::signal(SIGXFSZ, previousHandler);

        EXPECT_EQ(result.status, 1) << result.out;
        EXPECT_NE(result.err.find(run.reason), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("nothing was written"), std::string::npos) << result.err;
        EXPECT_EQ(ReadBytes(scene), bytes);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()),
                  1);
    }
}

// What the tool program writes on standard error when that is a terminal (a
// pseudo-terminal) or a pipe, its standard output thrown away.
std::string StandardError(const std::vector<std::string> &arguments, bool terminal) {
    const std::string program = (fs::path(TAMBERLO_MODULE_PATH).parent_path() / "tamberlo-scene");
    int ends[2] = {-1, -1};  // what the program writes to, what the test reads
    if (terminal) {
        EXPECT_EQ(openpty(&ends[1], &ends[0], nullptr, nullptr, nullptr), 0);
    } else {
        EXPECT_EQ(pipe(ends), 0);
        std::swap(ends[0], ends[1]);
    }
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[0], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, ends[1]);
    pid_t child = -1;
    EXPECT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[0]);
    std::string written;
    char piece[4096];
    // A terminal's reader gets EIO once the program has closed it.
    for (ssize_t got; (got = read(ends[1], piece, sizeof piece)) > 0;)
        written.append(piece, static_cast<std::size_t>(got));
    close(ends[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << written;
    return written;
}

// The scene comes through a pipe that stalls for most of a second halfway,
// so reading it runs past the half second after which progress shows.
TEST_F(SceneToolTest, ShowsProgressOnATerminalOnlyAndClearsIt) {
    const std::string bytes = ReadBytes(Sample("walk.lws"));
    const fs::path pipePath = folder.Path() / "slow.lws";
    for (const auto &[terminal, quiet] :
         {std::pair{true, false}, std::pair{false, false}, std::pair{true, true}}) {
        SCOPED_TRACE(std::string(terminal ? "terminal" : "pipe") + (quiet ? ", --quiet" : ""));
        ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
        std::thread feeder([&] {
            std::ofstream stream(pipePath, std::ios::binary);
            stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2)).flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(900));
            stream.write(bytes.data() + bytes.size() / 2,
                         static_cast<std::streamsize>(bytes.size() - bytes.size() / 2));
        });
        std::vector<std::string> arguments = {pipePath.string(), "-o", Output()};
        if (quiet) arguments.push_back("--quiet");
        const std::string shown = StandardError(arguments, terminal);
        feeder.join();
        fs::remove(pipePath);
        if (!terminal || quiet) {
            EXPECT_EQ(shown, "");
            continue;
        }
        const std::string line = "\rreading " + pipePath.string() + ": ";
        EXPECT_NE(shown.find(line + "0.0 MB\x1b[K"), std::string::npos) << shown;
        EXPECT_TRUE(shown.ends_with("\r\x1b[K")) << "the line is left standing: " << shown;
    }
    EXPECT_EQ(ReadBytes(Output()), bytes);
}

TEST_F(SceneToolTest, HelpNamesEveryOption) {
    const Run run = Tool({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char *option : {"--output", "--from", "--to", "--map", "--into", "--frames", "--at",
                               "--off", "--on", "--toggle", "--plot", "--module"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

// Nulls with one Position.X key each, at frame 0, whose value is the item's
// place in the file: a target's value after a paste tells which item was
// pasted onto it. ジョイント is in Shift_JIS.
constexpr const char *JOINT_SJIS = "\x83\x57\x83\x87\x83\x43\x83\x93\x83\x67";
constexpr const char *RIG_ITEMS[] = {"Joint002", "Joint000", "Joint001", "Hips",
                                     "Star*",    "Stars",    JOINT_SJIS, "Bone0",
                                     "Bone1",    "Bone2",    "Bone Top"};

class SceneToolSelectionTest : public SceneToolTest {
  protected:
    SceneToolSelectionTest() {
        std::string text = "LWSC\n5\nFirstFrame 0\nLastFrame 10\n";
        for (std::size_t place = 0; place < std::size(RIG_ITEMS); ++place)
            text += "AddNullObject " + std::to_string(place + 1) + " " + RIG_ITEMS[place] +
                    "\nObjectMotion\nNumChannels 1\nChannel 0\n{ Envelope\n  1\n  Key " +
                    std::to_string(place) + " 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n";
        tamberlo_test::WriteBytes(Rig(), text);
    }
    std::string Rig() const { return (inputs.Path() / "rig.lws").string(); }
    std::string Map(const std::string &text) const {
        tamberlo_test::WriteBytes(inputs.Path() / "rig.map", text);
        return (inputs.Path() / "rig.map").string();
    }
    std::vector<std::string> On(std::vector<std::string> options) const {
        options.insert(options.begin(), Rig());
        options.insert(options.end(), {"-o", Output()});
        return options;
    }

    const tamberlo_test::TemporaryFolder inputs;
};

TEST_F(SceneToolSelectionTest, SelectsPatternsListsAndMapsInTheirOrder) {
    using Pasted = std::vector<std::pair<const char *, double>>;  // a target, the value it holds
    const auto expectPasted = [&](const std::vector<std::string> &options, const std::string &shown,
                                  const Pasted &pasted) {
        const Run run = Tool(On(options));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(shown), std::string::npos) << run.out;
        const LoadedScene after(Output());
        for (const auto &[target, value] : pasted)
            EXPECT_EQ(after.Keys(target, "Position.X").at(0).value, value) << target;
    };
    const std::tuple<std::string, std::string, std::string, Pasted> cases[] = {
        // A pattern selects in the scene's order, not the names'.
        {"Joint*",
         "Bone?",
         "Copy: 3 items (Joint002 to Joint001) ",
         {{"Bone0", 0}, {"Bone1", 1}, {"Bone2", 2}}},
        {"Hips,Joint00[01]",
         "Bone2,Bone[01]",
         "3 items (Bone2 to Bone1)",
         {{"Bone2", 3}, {"Bone0", 1}, {"Bone1", 2}}},
        {"Star\\*", "Bone1", "== Copy: Star\\* selected", {{"Bone1", 4}}},
        // ? is one character of the Shift_JIS name's UTF-8 reading, not one byte.
        {"?ョイント", "Bone Top", "1 item (ジョイント)", {{"Bone Top", 6}}},
    };
    for (const auto &[from, to, shown, pasted] : cases) {
        SCOPED_TRACE(from);
        expectPasted({"--from", from, "--to", to}, shown, pasted);
    }
    expectPasted({"--map", Map("# Joints onto bones\nJoint000 Bone2   # the left\n\n"
                               "  \"Star*\"\t\"Bone Top\"# no blank\r\nJoint001 Bone0\r\n")},
                 "map ", {{"Bone2", 1}, {"Bone Top", 4}, {"Bone0", 2}, {"Bone1", 8}});
}

TEST_F(SceneToolSelectionTest, RefusesSelectionsItCannotMakeAndWritesNothing) {
    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"--from", "Jiont*", "--to", "Bone0"}, "--from pattern \"Jiont*\" matches no item of "},
        {{"--from", "Joint*,Joint000", "--to", "Bone?"},
         "--from selects \"Joint000\" twice, by \"Joint*\" and by \"Joint000\""},
        {{"--from", "Hips", "--to", "Bone0,Bone0"}, "\"Bone0\" is named twice in --to"},
        {{"--from", "Star\\?", "--to", "Bone0"}, "has no item named \"Star?\"; its items are"},
        {{"--into", "x.lws"}, "--into needs the items to copy and paste onto"},
        {{"--map", Rig() + ".map"}, "cannot open the map"},
    };
    for (const auto &[options, reason] : refusals) ExpectRefused(On(options), reason);
    const std::pair<const char *, std::string> mapRefusals[] = {
        {"Joint000 Bone0\nJoint001\n", "rig.map:2: a line holds two names"},
        {"Joint000 Bone0 Bone1", "rig.map:1: a line holds two names"},
        {"Joint000 Bone0\n\n\"Joint001 Bone1\n", "rig.map:3: a quote is not closed"},
        {"Joint\"000\" Bone0", "rig.map:1: a quote stands inside a name"},
        {"\"Joint000\"Bone0", "rig.map:1: a quote stands inside a name"},
        {"Joint000 Bone0\nNobody Bone1", "rig.map:2: " + Rig() + " has no item named"},
        {"Joint000 Bone0\nJoint000 Bone1",
         "rig.map:2: names the source \"Joint000\" again, first named on line 1"},
        {"Joint000 Bone0\n# Bone0\n\nJoint001 Bone1\nJoint002 Bone0 # again",
         "rig.map:5: names the target \"Bone0\" again, first named on line 1"},
        {"# nothing\n\n", "rig.map holds no pair of names"},
    };
    for (const auto &[map, reason] : mapRefusals) ExpectRefused(On({"--map", Map(map)}), reason);
    const Run both = Tool(On({"--from", "Hips", "--to", "Bone0", "--map", Map("Hips Bone0")}));
    EXPECT_EQ(both.status, 1);
    EXPECT_NE(both.err.find("--from excludes --map"), std::string::npos) << both.err;
    EXPECT_TRUE(fs::is_empty(folder.Path()));
    // The module refuses a paste onto another number of items; the tool gives the numbers first.
    const Run run = ExpectRefused(On({"--from", "Joint*", "--to", "Bone[01]"}),
                                  "the module refused: コピー元と選択アイテムの数が一致しません。");
    EXPECT_NE(run.out.find("3 items selected to copy, 2 to paste onto"), std::string::npos);
}

}  // namespace
