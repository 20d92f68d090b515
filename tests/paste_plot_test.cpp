// The picture of a paste: which channels it holds, and how its file is written.
#include "apps/paste_plot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "standin/scene_file.h"
#include "standin/standin.h"

namespace {

namespace fs = std::filesystem;
using apps::PlotKey;

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

class PastePlotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::path(::testing::TempDir()) /
                 ("paste_plot_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    void Write(const fs::path &svg) { apps::WritePastePlot(svg, channels, 12, 17, "Übersicht"); }

    std::vector<fs::path> Entries() const {
        return {fs::directory_iterator(folder), fs::directory_iterator()};
    }

    fs::path folder;
    const std::vector<apps::PlottedChannel> channels = {
        {"Knöchel#2",
         "Position.X",
         {{0, 1, false}, {20, 2, false}},
         {{0, 1, false}, {12, 4, true}}},
        {"Cube", "Scale.Y", {}, {{12, 1, false}}},
    };
};

std::string Read(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text of an SVG as a reader sees it: PLplot writes every character as a
// numeric reference.
std::string ShownText(std::string svg) {
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

TEST_F(PastePlotTest, WritesAnSvgNamingTheTitleEachItemAndChannel) {
    Write(folder / "paste.svg");
    const std::string svg = Read(folder / "paste.svg");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.rfind("</svg>"), std::string::npos);
    const std::string shown = ShownText(svg);
    for (const char *text : {"Übersicht", "Knöchel#2", "Position.X", "Cube", "Scale.Y"})
        EXPECT_NE(shown.find(text), std::string::npos) << text;
    EXPECT_EQ(Entries(), std::vector<fs::path>{folder / "paste.svg"});
}

TEST_F(PastePlotTest, AMissingFolderThrowsAndLeavesNothing) {
    const fs::path missing = folder / "missing";
    try {
        Write(missing / "paste.svg");
        FAIL() << "no error for a missing folder";
    } catch (const std::runtime_error &error) {
        EXPECT_NE(std::string(error.what()).find(missing.string()), std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(Entries().empty());
}

TEST_F(PastePlotTest, ReplacesTheTargetOnlyWhenTheWholePlotIsWritten) {
    std::ofstream(folder / "paste.svg") << "old";
    Write(folder / "paste.svg");
    EXPECT_EQ(Read(folder / "paste.svg").rfind("<?xml", 0), 0u);

    // A folder in the target's place fails the last step, after the drawing.
    fs::create_directory(folder / "taken.svg");
    std::ofstream(folder / "taken.svg" / "inside") << "kept";
    EXPECT_THROW(Write(folder / "taken.svg"), std::runtime_error);
    EXPECT_EQ(Read(folder / "taken.svg" / "inside"), "kept");
    std::vector<fs::path> entries = Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<fs::path>{folder / "paste.svg", folder / "taken.svg"}));
}

}  // namespace
