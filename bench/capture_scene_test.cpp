// Capture scenes: the reader takes them and writes them back byte for byte,
// the same bytes for the same seed, every value the shortest text of a double.
#include "bench/capture_scene.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scenefile/scene_file.h"
#include "standin/standin.h"

namespace {

namespace fs = std::filesystem;
using bench::CaptureShape;

const CaptureShape SMALL{3, 20};

TEST(CaptureSceneTest, ReadsWithItsJointsAndKeysAndWritesBackByteForByte) {
    const std::string text = bench::CaptureSceneText(SMALL);
    standin::Scene scene;
    const standin::SceneFile file = standin::SceneFile::Read(text, scene, "capture.lws");
    EXPECT_EQ(file.Version(), 5);
    EXPECT_EQ(scene.FrameStart(), 0);
    EXPECT_EQ(scene.FrameEnd(), 19);
    EXPECT_EQ(scene.FramesPerSecond(), 30.0);
    ASSERT_EQ(file.Items().size(), 3u);
    for (int joint = 0; joint < 3; ++joint) {
        const standin::SceneFile::Item &item = file.Items()[static_cast<std::size_t>(joint)];
        EXPECT_EQ(item.name, "Joint00" + std::to_string(joint));
        const std::vector<standin::ChannelState> channels = scene.Channels(item.id);
        ASSERT_EQ(channels.size(), 9u);
        for (std::size_t c = 0; c < channels.size(); ++c) {
            EXPECT_EQ(channels[c].name, standin::MOTION_CHANNEL_NAMES[c]);
            const std::vector<standin::KeyState> keys = scene.Keys(channels[c].envelope);
            ASSERT_EQ(keys.size(), 20u);
            for (std::size_t k = 0; k < keys.size(); ++k)
                EXPECT_EQ(keys[k].time, static_cast<double>(k) / 30.0);
        }
    }
    EXPECT_EQ(scene.TotalKeyCount(), SMALL.Keys());
    EXPECT_EQ(file.Write(scene), text);
}

TEST(CaptureSceneTest, TheSameShapeAndSeedGiveTheSameBytesAndAnotherSeedOthers) {
    EXPECT_EQ(bench::CaptureSceneText(SMALL), bench::CaptureSceneText(SMALL));
    CaptureShape reseeded = SMALL;
    reseeded.seed = 2;
    EXPECT_NE(bench::CaptureSceneText(reseeded), bench::CaptureSceneText(SMALL));
}

TEST(CaptureSceneTest, ValuesAreTheShortestTextOfADoubleAndMostNeedSeventeenDigits) {
    std::istringstream lines(bench::CaptureSceneText(SMALL));
    std::size_t values = 0, long_values = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  Key ", 0) != 0) continue;
        const std::string value = line.substr(6, line.find(' ', 6) - 6);
        double number = 0.0;
        std::from_chars(value.data(), value.data() + value.size(), number);
        char shortest[32];
        char *const end = std::to_chars(shortest, shortest + sizeof shortest, number).ptr;
        EXPECT_EQ(std::string(shortest, end), value);
        ++values;
        if (value.find_first_not_of("-0.") != std::string::npos &&
            value.size() - value.find_first_not_of("-0.") >= 16)
            ++long_values;
    }
    EXPECT_EQ(values, SMALL.Keys());
    EXPECT_GT(long_values, values * 3 / 4);
}

TEST(CaptureSceneTest, AFileIsTakenForTheSceneOnlyWhenItHoldsItsVeryBytes) {
    const fs::path path =
        fs::temp_directory_path() / ("capture_scene_test-" + std::to_string(::getpid()) + ".lws");
    EXPECT_FALSE(bench::FileHoldsCaptureScene(path, SMALL));
    bench::WriteCaptureSceneFile(path, SMALL);
    EXPECT_TRUE(bench::FileHoldsCaptureScene(path, SMALL));
    EXPECT_FALSE(fs::exists(fs::path(path).concat(".partial")));
    CaptureShape longer = SMALL;
    longer.frames = 21;
    EXPECT_FALSE(bench::FileHoldsCaptureScene(path, longer));

    std::string changed = bench::CaptureSceneText(SMALL);
    changed[changed.size() / 2] ^= 1;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << changed;
    EXPECT_FALSE(bench::FileHoldsCaptureScene(path, SMALL));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << bench::CaptureSceneText(SMALL) << '\n';
    EXPECT_FALSE(bench::FileHoldsCaptureScene(path, SMALL));
    fs::remove(path);
}

TEST(CaptureSceneTest, JointNamesTakeThreeDigitsOrAsManyAsTheLastJointNeeds) {
    EXPECT_EQ(bench::JointName(7, 10), "Joint007");
    EXPECT_EQ(bench::JointName(999, 1000), "Joint999");
    EXPECT_EQ(bench::JointName(7, 1001), "Joint0007");
    EXPECT_EQ(bench::JointName(1000, 1001), "Joint1000");
}

}  // namespace
