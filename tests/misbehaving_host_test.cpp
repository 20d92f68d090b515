// A host that hands the module odd or wrong things: the module must survive
// each without writing out of bounds, and keep the choices it makes for them.
#include <string>
#include <vector>

#include "tests/labels.h"
#include "tests/module_fixture.h"
#include "tests/scenes.h"

namespace tamberlo_test {
namespace {

using standin::PanelOutcome;
using standin::PanelSession;
using Keys = std::vector<std::pair<double, double>>;

class MisbehavingHostTest : public ModuleTest {
  protected:
};

TEST_F(MisbehavingHostTest, AFrameRateOfZeroPutsEveryKeyOnFrameZero) {
    scene.SetFramesPerSecond(0.0);
    const auto source = AddItem(scene, "S", {{"X", {{-3.5, 1}, {0.25, 2}, {7.0, 3}}}});
    const auto target = AddItem(scene, "T", {{"X", {{1.0, 9}}}});
    Copy({source}, CopyFrames(0, 0));
    // At the copy's own start every key keeps its time.
    Paste({target}, ConfirmAsShown());
    EXPECT_EQ(KeysOf(scene, target, "X"), (Keys{{-3.5, 1}, {0.25, 2}, {7.0, 3}}));
    // Any other start would put keys at an infinite time: the host refuses
    // them, after the window (frame 0 here) was cleared.
    Paste({target}, PasteAt(5));
    EXPECT_EQ(KeysOf(scene, target, "X"), (Keys{{-3.5, 1}, {0.25, 2}, {7.0, 3}}));
}

TEST_F(MisbehavingHostTest, ANegativeFrameRateMirrorsFramesButStillMatchesCopyAndPaste) {
    scene.SetFramesPerSecond(-30.0);
    const auto source = AddItem(scene, "S", {{"X", {{-1.0, 1}, {1.0, 2}}}});
    const auto target = AddItem(scene, "T", {{"X", {}}});
    Copy({source}, CopyFrames(0, 60));  // -1 s is frame 30; 1 s is frame -30
    Paste({target}, PasteAt(10));
    // Ten frames later at -30 fps is 1/3 s earlier.
    ExpectKeys(KeysOf(scene, target, "X"), Keys{{-1.0 - 10.0 / 30.0, 1}});
}

TEST_F(MisbehavingHostTest, AChannelWithoutEnvelopeIsCopiedWithoutKeys) {
    const auto source = AddItem(scene, "S", {{"Lost", {{At(1), 1}}}, {"Kept", {{At(1), 2}}}});
    scene.DetachEnvelope(*scene.FindChannel(source, "Lost"));
    const auto target = AddItem(scene, "T", {{"Lost", {{At(2), 8}}}, {"Kept", {}}});
    Copy({source}, CopyFrames(0, 10));
    Paste({target}, ConfirmAsShown());
    // The keyless copy still clears its window on the target.
    EXPECT_EQ(KeysOf(scene, target, "Lost"), Keys{});
    EXPECT_EQ(KeysOf(scene, target, "Kept"), (Keys{{At(1), 2}}));
}

TEST_F(MisbehavingHostTest, WalksThatDriftOnTheSecondPassNeverOverrun) {
    for (int drift : {3, -1, -5}) {
        SCOPED_TRACE(drift);
        standin::Host fresh;
        standin::Scene &s = fresh.Scene();
        const auto source =
            AddItem(s, "S", {{"X", {{At(1), 1}, {At(2), 2}, {At(3), 3}}}, {"Y", {{At(1), 4}}}});
        const auto target = AddItem(s, "T", {{"X", {{At(2), 9}}}, {"Y", {}}});
        s.Misbehave().secondWalkDrift = drift;
        s.Select({source});
        fresh.User().Then(CopyFrames(0, 10));
        EXPECT_EQ(fresh.Activate(*module, COPY), 0);
        s.Select({target});
        fresh.User().Then(ConfirmAsShown());
        EXPECT_EQ(fresh.Activate(*module, PASTE), 0);
        EXPECT_EQ(fresh.LivePanelCount(), 0u);
        // Whatever was pasted are keys of the source.
        for (const auto &[time, value] : KeysOf(s, target, "X")) EXPECT_LE(value, 9.0);
    }
}

TEST_F(MisbehavingHostTest, NamesLongerThanTheFieldsAreShownCutAtAWholeCharacter) {
    // 60 two-byte characters: 120 bytes, cut to 98 for the 100-byte field.
    std::string longName;
    for (int i = 0; i < 60; ++i) longName += "ア";
    const std::string longChannel = std::string(120, 'c');
    std::string shown;
    for (int i = 0; i < 49; ++i) shown += "ア";
    const auto item = AddItem(scene, standin::Cp932FromUtf8(longName), {{longChannel, {}}});
    Copy({item}, [shown](PanelSession &panel) {
        const std::vector<std::string> items = panel.RowBytes(labels::ITEM);
        EXPECT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].size(), 98u);
        EXPECT_EQ(items[0], standin::Cp932FromUtf8(shown));
        panel.Pick(labels::ITEM, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL)[0], "* " + std::string(79, 'c'));
        return PanelOutcome::Confirm;
    });
    const auto target = scene.AddItem("T");
    Paste({target}, ConfirmAsShown());
    ASSERT_EQ(scene.Channels(target).size(), 1u);
    EXPECT_EQ(scene.Channels(target)[0].name, std::string(79, 'c'));
}

TEST_F(MisbehavingHostTest, AMissingServiceEndsEitherCommandBeforeItTouchesAnything) {
    const auto source = AddItem(scene, "S", {{"X", {{At(1), 1}}}});
    const auto target = AddItem(scene, "T", {{"X", {{At(1), 2}}}});
    Copy({source}, CopyFrames(0, 10));
    const char *const services[] = {"LW Item Info 3",  "LW Interface Info 3", "LWPanelServices",
                                    "LW Scene Info 3", "Channel Info 2",      "Animation Envelopes",
                                    "Info Messages 2"};
    for (const char *service : services) {
        SCOPED_TRACE(service);
        host.Misbehave().missingService = service;
        const std::size_t panels = host.Panels().size();
        scene.Select({source});
        EXPECT_EQ(Run(COPY), 0);
        scene.Select({target});
        EXPECT_EQ(Run(PASTE), 0);
        EXPECT_EQ(host.Panels().size(), panels);
        EXPECT_TRUE(host.Errors().empty());
    }
    // Both scripts are still waiting: no panel ever opened. The copy made
    // before is intact and pastes once the host is whole again.
    host.Misbehave().missingService.clear();
    while (host.User().HasScript()) host.User().Next();
    EXPECT_EQ(KeysOf(scene, target, "X"), (Keys{{At(1), 2}}));
    Paste({target}, PasteAt(5));
    ExpectKeys(KeysOf(scene, target, "X"), Keys{{At(1), 2}, {At(6), 1}});
}

TEST_F(MisbehavingHostTest, NoPanelOrNoControlsEndTheCommandQuietly) {
    const auto source = AddItem(scene, "S", {{"X", {{At(1), 1}}}});
    const auto target = AddItem(scene, "T", {{"X", {{At(1), 2}}}});
    Copy({source}, CopyFrames(0, 10));
    host.EnableTrace(true);
    for (bool noPanel : {true, false}) {
        SCOPED_TRACE(noPanel ? "no panel" : "no controls");
        host.Misbehave().refusePanel = noPanel;
        host.Misbehave().refuseControls = !noPanel;
        host.ClearTrace();
        scene.Select({source});
        EXPECT_EQ(Run(COPY), 0);
        scene.Select({target});
        EXPECT_EQ(Run(PASTE), 0);
        EXPECT_TRUE(host.Errors().empty());
        EXPECT_EQ(host.LivePanelCount(), 0u);
        for (const standin::PanelRecord &panel : host.Panels())
            EXPECT_EQ(panel.opened, panel.outcome.has_value());
        for (const standin::TraceEntry &entry : host.Trace()) {
            EXPECT_NE(entry.operation, "open");
            EXPECT_NE(entry.service, "Animation Envelopes");
        }
    }
    host.Misbehave().refusePanel = false;
    host.Misbehave().refuseControls = false;
    while (host.User().HasScript()) host.User().Next();
    EXPECT_EQ(KeysOf(scene, target, "X"), (Keys{{At(1), 2}}));
    Paste({target}, PasteAt(5));
    ExpectKeys(KeysOf(scene, target, "X"), Keys{{At(1), 2}, {At(6), 1}});
}

}  // namespace
}  // namespace tamberlo_test
