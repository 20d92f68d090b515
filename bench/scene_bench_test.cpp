// The scene-file benchmark's parts: the floor's number reading, the tool's
// arguments, every step on a small scene and its check, the table's spreads
// and rows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/capture_scene.h"
#include "bench/scene_steps.h"
#include "bench/scene_table.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the built module"
#endif

namespace {

namespace fs = std::filesystem;
using bench::CaptureShape;

const CaptureShape SMALL{3, 20};

TEST(SceneStepsTest, TheFloorReadsEveryTokenThatIsANumberWhole) {
    const bench::NumbersRead numbers = bench::ReadNumbers("Key 1.5 0 x\t2e3\r\n-0.25 1000000A ");
    EXPECT_EQ(numbers.count, 4u);
    EXPECT_EQ(numbers.sum, 2001.25);
    EXPECT_EQ(bench::ReadNumbers("").count, 0u);
}

TEST(SceneStepsTest, TheFloorReadsEveryNumberOfACaptureScene) {
    // The header's version, frames and rate; per joint its id and channel
    // count; per channel its number, key count, nine numbers a key and two
    // behaviours.
    constexpr std::size_t PER_CHANNEL = 2 + 9 * 20 + 2;
    const bench::NumbersRead numbers = bench::ReadNumbers(bench::CaptureSceneText(SMALL));
    EXPECT_EQ(numbers.count, 4 + 3 * (2 + 9 * PER_CHANNEL));
    EXPECT_TRUE(std::isfinite(numbers.sum));
}

TEST(SceneStepsTest, TheCopyTakesTheFirstTenthOfTheJointsOntoTheNext) {
    const bench::SceneCase scene{CaptureShape{30, 300}, "scenes/capture.lws"};
    const std::vector<std::string> arguments = scene.ToolArguments(bench::SceneStep::CopyAndPaste);
    const std::vector<std::string> expected = {
        "tamberlo-scene", "scenes/capture.lws",         "--from", "Joint000,Joint001,Joint002",
        "--to",           "Joint003,Joint004,Joint005", "--at",   "100",
        "--plot",         "scenes/capture.copy.svg",    "-o",     "scenes/capture.copy.lws"};
    EXPECT_EQ(arguments, expected);
    EXPECT_EQ(scene.ToolArguments(bench::SceneStep::RoundTrip),
              (std::vector<std::string>{"tamberlo-scene", "scenes/capture.lws", "-o",
                                        "scenes/capture.roundtrip.lws"}));
}

TEST(SceneStepsTest, EveryStepRunsOnASmallSceneAndLeavesWhatItShould) {
    const fs::path folder =
        fs::temp_directory_path() / ("scene_bench_test-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const bench::SceneCase scene{SMALL, folder / "capture.lws"};
    std::ofstream(scene.scene, std::ios::binary) << bench::CaptureSceneText(SMALL);
    const fs::path moduleFolder = fs::path(TAMBERLO_MODULE_PATH).parent_path();
    for (const bench::SceneStep step : bench::SCENE_STEPS) {
        SCOPED_TRACE(bench::StepTitle(step));
        EXPECT_EQ(bench::StepOfWord(bench::StepWord(step)), step);
        EXPECT_EQ(bench::RunStep(scene, step, moduleFolder), std::nullopt);
        EXPECT_EQ(bench::CheckStepOutput(scene, step), std::nullopt);
    }
    // A round trip that changed a byte is caught.
    std::ofstream(scene.OutputOf(bench::SceneStep::RoundTrip), std::ios::app) << '\n';
    EXPECT_NE(bench::CheckStepOutput(scene, bench::SceneStep::RoundTrip), std::nullopt);
    fs::remove_all(folder);
}

TEST(SceneStepsTest, AProgramRunApartGivesItsExitStatusAndItsPeak) {
    EXPECT_EQ(bench::RunForPeak({"/bin/sh", "-c", "exit 3"}).status, 3);
    EXPECT_EQ(bench::RunForPeak({"/bin/sh", "-c", "kill -KILL $$"}).status, 128 + 9);
    EXPECT_EQ(bench::RunForPeak({"/nonexistent/program"}).status, 127);
    // 64 MB written, and so resident.
    const bench::ProcessPeak holding =
        bench::RunForPeak({"/usr/bin/python3", "-c", "held = b'x' * (64 << 20)"});
    EXPECT_EQ(holding.status, 0);
    EXPECT_GT(holding.peakBytes, 64u << 20);
    EXPECT_LT(bench::RunForPeak({"/bin/sh", "-c", "exit 0"}).peakBytes, 64u << 20);
}

TEST(SceneTableTest, SpreadsAreTheMedianAndTheExtremes) {
    EXPECT_EQ(bench::Spread::Of(std::vector<double>{}), std::nullopt);
    const auto odd = bench::Spread::Of(std::vector<double>{3.0, 1.0, 2.0});
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->median, 2.0);
    EXPECT_EQ(odd->least, 1.0);
    EXPECT_EQ(odd->greatest, 3.0);
    EXPECT_EQ(bench::Spread::Of(std::vector<double>{4.0, 1.0, 2.0, 3.0})->median, 2.5);
}

TEST(SceneTableTest, RatiosAreTakenInTheRoundsWhereTheStepAndTheFloorBothRan) {
    const std::vector<std::optional<double>> step = {2.0, std::nullopt, 9.0, 4.0, 5.0};
    const std::vector<std::optional<double>> floor = {1.0, 1.0, std::nullopt, 2.0, 0.0};
    EXPECT_EQ(bench::RatiosByRound(step, floor), (std::vector<double>{2.0, 2.0}));
    EXPECT_TRUE(bench::RatiosByRound(step, {}).empty());
}

TEST(SceneTableTest, RowsOfOneSceneShareItsCellsAndARowWithoutTimesShowsItsPeak) {
    const std::vector<bench::SceneRow> rows = {
        {"100 x 3000", 2700000, 144 << 20, "floor", {0.5, 0.4}, {}, 150u << 20, 5u << 20, {}},
        {"100 x 3000",
         2700000,
         144 << 20,
         "round trip",
         {1.0, 1.2},
         {2.0, 3.0},
         432u << 20,
         5u << 20,
         {}},
        {"100 x 3000", 2700000, 144 << 20, "round trip, 32-bit DLL", {}, {}, 300u << 20, {}, {}}};
    std::ostringstream out;
    bench::PrintSceneTable(out, rows, std::vector<std::string>{"a note"});
    const std::string table = out.str();
    EXPECT_EQ(table.find("100 x 3000"), table.rfind("100 x 3000"));
    EXPECT_NE(table.find("2.7M"), std::string::npos);
    EXPECT_NE(table.find("1100 (1000-1200)"), std::string::npos);
    EXPECT_NE(table.find("2.50 (2.00-3.00)"), std::string::npos);
    EXPECT_NE(table.find("3.00"), std::string::npos);  // 432 MB over 144
    EXPECT_NE(table.find("round trip, 32-bit DLL"), std::string::npos);
    EXPECT_EQ(table.substr(table.size() - 7), "a note\n");
}

}  // namespace
