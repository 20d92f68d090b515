// The picture of a paste: which channels it holds, and how its file is written.
#include "output/paste_plot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "scenefile/scene_file.h"
#include "standin/standin.h"
#include "tests/scene_files.h"

namespace {

namespace fs = std::filesystem;
using apps::LinePoint;
using apps::PlotKey;

TEST(ThinLineTest, KeepsEachColumnsFirstLowestHighestAndLastInOrder) {
    struct Case {
        const char *what;
        std::vector<LinePoint> line, kept;
    };
    const Case cases[] = {
        {"a crowded column",
         {{0.0, 5}, {0.2, 9}, {0.4, 1}, {0.5, 4}, {0.9, 6}},
         {{0.0, 5}, {0.2, 9}, {0.4, 1}, {0.9, 6}}},
        {"the first is the lowest, the last the highest",
         {{1.0, 0}, {1.3, 2}, {1.5, 1}, {1.9, 3}},
         {{1.0, 0}, {1.9, 3}}},
        {"columns of one or two points kept whole",
         {{0.5, 1}, {1.0, 7}, {1.5, 7}, {2.0, -3}},
         {{0.5, 1}, {1.0, 7}, {1.5, 7}, {2.0, -3}}},
        {"a step inside one column, down to its extremes",
         {{0.1, 1}, {0.3, 1}, {0.3, 2}, {0.6, 2}, {0.8, 2}},
         {{0.1, 1}, {0.3, 2}, {0.8, 2}}},
    };
    for (const Case &c : cases) EXPECT_EQ(apps::ThinLine(c.line, 0.0, 1.0), c.kept) << c.what;
    // Columns are counted from the axis' first frame, at any width.
    const std::vector<LinePoint> shifted = {{-9, 1}, {-8, 3}, {-7, 2}, {-6, 0}, {-5, 4}};
    EXPECT_EQ(apps::ThinLine(shifted, -10.0, 4.0),
              (std::vector<LinePoint>{{-9, 1}, {-8, 3}, {-7, 2}, {-6, 0}, {-5, 4}}));
    EXPECT_EQ(apps::ThinLine(shifted, -9.0, 4.0),
              (std::vector<LinePoint>{{-9, 1}, {-8, 3}, {-6, 0}, {-5, 4}}));
    EXPECT_EQ(apps::ThinLine(shifted, -9.0, 0.0), shifted);
}

TEST(PasteSnapshotTest, ReturnsTheChangedAndCreatedChannelsOnly) {
    standin::Scene scene;
    scene.SetFramesPerSecond(25.0);
    const host::ItemId cube = scene.AddItem("Cube");
    const host::ChannelId revalued = scene.AddChannel(cube, "Position.X");
    const host::ChannelId untouched = scene.AddChannel(cube, "Position.Y");
    const host::ChannelId reshaped = scene.AddChannel(cube, "Rotation.H");
    for (host::ChannelId channel : {revalued, untouched, reshaped}) {
        scene.AddKey(channel, 0.0, 1.0);
        scene.AddKey(channel, 0.5, 2.0);
    }
    const host::ItemId light = scene.AddItem("Light");
    const host::ItemId other = scene.AddItem("Other");
    const host::ChannelId otherChannel = scene.AddChannel(other, "Position.X");

    const apps::PasteSnapshot snapshot(scene, {cube, light});
    scene.AddKey(revalued, 0.5, 3.0);
    scene.SetKeyParameter(scene.AddKey(reshaped, 0.0, 1.0), host::LWKEY_SHAPE,
                          standin::ShapeSlot(standin::SCENE_SHAPE_STEPPED));
    scene.AddKey(scene.AddChannel(light, "Scale.X"), 0.25, 5.0);
    scene.AddKey(otherChannel, 0.0, 9.0);  // not among the snapshot's items

    const std::vector<apps::PlottedChannel> changed = snapshot.ChangedChannels(scene);
    ASSERT_EQ(changed.size(), 3u);
    EXPECT_EQ(changed[0].item, "Cube");
    EXPECT_EQ(changed[0].channel, "Position.X");
    EXPECT_EQ(changed[0].before, (std::vector<PlotKey>{{0.0, 1.0, false}, {12.5, 2.0, false}}));
    EXPECT_EQ(changed[0].after, (std::vector<PlotKey>{{0.0, 1.0, false}, {12.5, 3.0, false}}));
    EXPECT_EQ(changed[1].channel, "Rotation.H");
    EXPECT_EQ(changed[1].after, (std::vector<PlotKey>{{0.0, 1.0, true}, {12.5, 2.0, false}}));
    EXPECT_EQ(changed[2].item, "Light");
    EXPECT_EQ(changed[2].channel, "Scale.X");
    EXPECT_TRUE(changed[2].before.empty());
    EXPECT_EQ(changed[2].after, (std::vector<PlotKey>{{6.25, 5.0, false}}));
}

// The text of an SVG as a reader sees it: PLplot writes every character as a
// numeric reference.
std::string ShownText(const std::string &svg) {
    std::string shown;
    const std::regex reference("&#x([0-9A-Fa-f]+);");
    for (std::sregex_iterator it(svg.begin(), svg.end(), reference), end; it != end; ++it) {
        const auto code = static_cast<char32_t>(std::stoul((*it)[1], nullptr, 16));
        if (code < 0x80) {
            shown += static_cast<char>(code);
        } else if (code < 0x800) {
            shown += static_cast<char>(0xC0 | (code >> 6));
            shown += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            shown += static_cast<char>(0xE0 | (code >> 12));
            shown += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            shown += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return shown;
}

// The picture replaces its file only once it is whole, naming the title and
// every item and channel, and a failure leaves the folder as it was.
TEST(PastePlotTest, WritesAWholeSvgOverTheTargetOrNothing) {
    const tamberlo_test::TemporaryFolder folder;
    const std::vector<apps::PlottedChannel> channels = {
        {"Knöchel#2",
         "Position.X",
         {{0, 1, false}, {20, 2, false}},
         {{0, 1, false}, {12, 4, true}}},
        {"Cube", "Scale.Y", {}, {{12, 1, false}}},
    };
    const auto write = [&](const fs::path &svg) {
        apps::WritePastePlot(svg, channels, 12, 17, "Übersicht");
    };
    const fs::path target = folder.Path() / "paste.svg";
    tamberlo_test::WriteBytes(target, "old");
    write(target);
    const std::string svg = tamberlo_test::ReadBytes(target);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.rfind("</svg>"), std::string::npos);
    const std::string shown = ShownText(svg);
    for (const char *text : {"Übersicht", "Knöchel#2", "Position.X", "Cube", "Scale.Y"})
        EXPECT_NE(shown.find(text), std::string::npos) << text;

    const fs::path missing = folder.Path() / "missing";
    try {
        write(missing / "paste.svg");
        ADD_FAILURE() << "no error for a missing folder";
    } catch (const std::runtime_error &error) {
        EXPECT_NE(std::string(error.what()).find(missing.string()), std::string::npos)
            << error.what();
    }
    fs::create_directory(folder.Path() / "taken.svg");
    EXPECT_THROW(write(folder.Path() / "taken.svg"), std::runtime_error);
    std::vector<fs::path> entries{fs::directory_iterator(folder.Path()), fs::directory_iterator()};
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<fs::path>{target, folder.Path() / "taken.svg"}));
}

// A motion capture's channel: a key a frame, sums of sines with some noise.
std::vector<PlotKey> CaptureKeys(int frames, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 0.03);
    std::vector<PlotKey> keys;
    for (int frame = 0; frame < frames; ++frame) {
        const double time = frame / 30.0;
        keys.push_back(PlotKey{
            static_cast<double>(frame),
            std::sin(1.3 * time + seed) + 0.4 * std::sin(5.1 * time) + noise(random), false});
    }
    return keys;
}

// Joints with the nine motion channels each, from Joint020 on.
std::vector<apps::PlottedChannel> JointChannels(int joints, int keysBefore, int keysAfter) {
    std::vector<apps::PlottedChannel> channels;
    for (int joint = 0; joint < joints; ++joint)
        for (const char *name : standin::MOTION_CHANNEL_NAMES) {
            const auto seed = static_cast<unsigned>(channels.size());
            channels.push_back({"Joint0" + std::to_string(20 + joint), name,
                                CaptureKeys(keysBefore, seed), CaptureKeys(keysAfter, seed + 7)});
        }
    return channels;
}

std::size_t Occurrences(const std::string &text, const std::string &part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Ten joints pasted onto ten others at frame 100: a grid of a row per joint
// and a column per channel, small enough for a viewer to open.
TEST(PastePlotTest, DrawsACaptureSizedPasteAsASmallGrid) {
    const tamberlo_test::TemporaryFolder folder;
    const std::vector<apps::PlottedChannel> channels = JointChannels(10, 3000, 3100);
    const fs::path svg = folder.Path() / "capture.svg";
    EXPECT_TRUE(apps::WritePastePlot(svg, channels, 100, 3099, "Capture").empty());
    const std::string bytes = tamberlo_test::ReadBytes(svg);
    EXPECT_LE(bytes.size(), 2'000'000u);
    EXPECT_LE(Occurrences(bytes, "<"), 10'000u);
    const std::string shown = ShownText(bytes);
    EXPECT_EQ(Occurrences(shown, "●"), 3u) << "the legend's markers only";
    EXPECT_EQ(Occurrences(shown, " — "), 0u) << "no panel titles";
    for (const char *name : standin::MOTION_CHANNEL_NAMES) EXPECT_EQ(Occurrences(shown, name), 1u);
    for (int joint = 20; joint < 30; ++joint)
        EXPECT_EQ(Occurrences(shown, "Joint0" + std::to_string(joint)), 1u);
    EXPECT_NE(shown.find("a line without markers"), std::string::npos);

    // The renderer refuses pages of too many elements; a real one must take it.
    if (std::system("command -v rsvg-convert >/dev/null") != 0)
        GTEST_SKIP() << "rsvg-convert is not installed";
    const fs::path png = folder.Path() / "capture.png";
    const std::string render = "rsvg-convert -o '" + png.string() + "' '" + svg.string() + "'";
    EXPECT_EQ(std::system(render.c_str()), 0);
    EXPECT_GT(fs::file_size(png), 0u);
}

// Few keys keep a marker each, exactly as they always have; keys too close
// to tell apart become a line.
TEST(PastePlotTest, MarksSparseKeysAndDrawsDenseOnesAsALine) {
    const tamberlo_test::TemporaryFolder folder;
    std::vector<apps::PlottedChannel> channels = JointChannels(1, 10, 12);
    channels.resize(2);
    const auto drawn = [&] {
        apps::WritePastePlot(folder.Path() / "keys.svg", channels, 2, 8, "Keys");
        return ShownText(tamberlo_test::ReadBytes(folder.Path() / "keys.svg"));
    };
    std::string shown = drawn();
    EXPECT_EQ(Occurrences(shown, "○"), 3u + 10 + 10);
    EXPECT_EQ(Occurrences(shown, "●"), 3u + 12 + 12);
    EXPECT_EQ(shown.find("a line without markers"), std::string::npos);

    channels[1].after = CaptureKeys(400, 1);
    shown = drawn();
    EXPECT_EQ(Occurrences(shown, "○"), 3u + 10 + 10);
    EXPECT_EQ(Occurrences(shown, "●"), 3u + 12);
    EXPECT_NE(shown.find("a line without markers"), std::string::npos);
}

// The grid's columns follow the motion channels' order, whichever order the
// items list them in; items of one name get a row each.
TEST(PastePlotTest, GivesEachItemARowAndEachChannelAColumnInTheirOrder) {
    const tamberlo_test::TemporaryFolder folder;
    std::vector<apps::PlottedChannel> channels = JointChannels(3, 2, 3);
    std::reverse(channels.begin(), channels.begin() + 9);
    for (std::size_t i = 9; i < 18; ++i) channels[i].item = "Joint020";
    channels.erase(channels.begin() + 12);  // the second's Rotation.H
    const fs::path svg = folder.Path() / "grid.svg";
    EXPECT_TRUE(apps::WritePastePlot(svg, channels, 0, 1, "Grid").empty());
    const std::string shown = ShownText(tamberlo_test::ReadBytes(svg));
    EXPECT_EQ(Occurrences(shown, "Joint020"), 2u);
    EXPECT_EQ(Occurrences(shown, "Joint022"), 1u);
    std::size_t previous = 0;
    for (const char *name : standin::MOTION_CHANNEL_NAMES) {
        EXPECT_EQ(Occurrences(shown, name), 1u) << name;
        EXPECT_GT(shown.find(name), previous) << name;
        previous = shown.find(name);
    }
}

TEST(PastePlotTest, LeavesOutWholeItemsPastTheCapAndSaysHowMany) {
    const tamberlo_test::TemporaryFolder folder;
    const int joints = static_cast<int>(apps::PAGE_MAX_CHANNELS / 9) + 2;
    std::vector<apps::PlottedChannel> channels = JointChannels(joints, 2, 3);
    channels.pop_back();  // so that the last joint is not whole
    const fs::path svg = folder.Path() / "many.svg";
    std::vector<std::size_t> expected(channels.size() - apps::PAGE_MAX_CHANNELS);
    std::iota(expected.begin(), expected.end(), apps::PAGE_MAX_CHANNELS);
    EXPECT_EQ(apps::WritePastePlot(svg, channels, 0, 1, "Many"), expected);
    const std::string shown = ShownText(tamberlo_test::ReadBytes(svg));
    EXPECT_NE(shown.find(std::to_string(expected.size()) + " more changed channels are not drawn"),
              std::string::npos);
    EXPECT_NE(shown.find(channels[expected.front() - 1].item), std::string::npos);
    EXPECT_EQ(shown.find(channels[expected.front()].item), std::string::npos);
}

}  // namespace
