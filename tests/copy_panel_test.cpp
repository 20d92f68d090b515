// The copy panel as a user meets it in the host: its controls, its lists and
// what each of its handlers shows and changes.
#include <string>
#include <vector>

#include "tests/labels.h"
#include "tests/module_fixture.h"
#include "tests/scenes.h"

namespace tamberlo_test {
namespace {

using standin::PanelOutcome;
using standin::PanelSession;
using Rows = std::vector<std::string>;

class CopyPanelTest : public ModuleTest {
  protected:
    // Runs the copy command with a user who does `look` and then cancels.
    void OpenCopy(std::function<void(PanelSession &)> look) {
        host.User().Then([look](PanelSession &panel) {
            look(panel);
            return PanelOutcome::Cancel;
        });
        EXPECT_EQ(Run(COPY), 0);
        EXPECT_EQ(host.User().Pending(), 0u) << "the panel never opened";
    }
    host::ItemId MakePositionItem(const std::string &name) {
        return AddItem(host.Scene(), name,
                       {{"Position.X", {}}, {"Position.Y", {}}, {"Position.Z", {}}});
    }
};

TEST_F(CopyPanelTest, RefusesAnEmptySelectionWithAMessageAndNoPanelShown) {
    MakePositionItem("A");
    EXPECT_EQ(Run(COPY), 0);
    ASSERT_EQ(host.Errors().size(), 1u);
    EXPECT_EQ(host.Errors()[0].first, standin::Cp932FromUtf8(labels::NO_ITEM_SELECTED));
    EXPECT_EQ(host.Errors()[0].second, "");
    ASSERT_EQ(host.Panels().size(), 1u);
    EXPECT_FALSE(host.Panels()[0].opened);
    EXPECT_TRUE(host.Panels()[0].destroyed);
}

// The title, the controls' types and labels in order, and which of them get
// events are in the exact trace of a copy; these are what the descriptors say.
TEST_F(CopyPanelTest, ControlDescriptorsCarryTheirValueTypesSizesAndChoices) {
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &) {});
    ASSERT_EQ(host.Panels().size(), 1u);
    const std::vector<standin::ControlView> &controls = host.Panels()[0].controlsAtOpen;
    ASSERT_EQ(controls.size(), 8u);
    const int valueTypes[] = {2, 2, 18, 18, 8, 9, 1, 1};
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(controls[i].valueType, valueTypes[i]) << i;
    for (std::size_t list : {2, 3}) {
        EXPECT_EQ(controls[list].width, 300);
        EXPECT_EQ(controls[list].visibleRows, 10);
    }
    EXPECT_EQ(controls[5].choices,
              (Rows{"Position", "Rotation", "Scale", labels::OTHERS, labels::ALL}));
    EXPECT_EQ(controls[6].width, 100);
}

TEST_F(CopyPanelTest, OpensWithTheSelectionReversedAndNothingPicked) {
    standin::Scene &scene = host.Scene();
    scene.SetFrames(12, 345);
    scene.Select({MakePositionItem("A"), MakePositionItem("B"), MakePositionItem("C")});
    OpenCopy([](PanelSession &panel) {
        EXPECT_EQ(panel.Rows(labels::ITEM), (Rows{"C", "B", "A"}));
        EXPECT_EQ(panel.Control(labels::ITEM).value, 0);
        EXPECT_TRUE(panel.Rows(labels::CHANNEL).empty());
        EXPECT_EQ(panel.Control(labels::ENABLED).drawMode, host::DR_GHOST);
        EXPECT_EQ(panel.Control(labels::START_FRAME).value, 12);
        EXPECT_EQ(panel.Control(labels::END_FRAME).value, 345);
    });
}

TEST_F(CopyPanelTest, PickingAnItemShowsItsChannelsFromTheFirstRow) {
    standin::Scene &scene = host.Scene();
    const auto a = AddItem(scene, "A", {{"Position.X", {}}, {"Rotation.H", {}}});
    const auto b = AddItem(scene, "B", {{"Scale.X", {}}});
    scene.Select({a, b});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 1);
        EXPECT_EQ(panel.Rows(labels::CHANNEL), (Rows{"* Position.X", "* Rotation.H"}));
        EXPECT_EQ(panel.Control(labels::CHANNEL).value, 0);
        EXPECT_EQ(panel.Control(labels::ENABLED).value, 1);
        EXPECT_EQ(panel.Control(labels::ENABLED).drawMode, host::DR_RENDER);
        // The channel list was redrawn ghosted, then normally.
        const std::vector<int> history = panel.Control(labels::CHANNEL).drawHistory;
        ASSERT_GE(history.size(), 2u);
        EXPECT_EQ(history[history.size() - 2], host::DR_GHOST);
        EXPECT_EQ(history.back(), host::DR_RENDER);

        panel.Pick(labels::CHANNEL, 1);
        panel.Pick(labels::ITEM, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL), (Rows{"* Scale.X"}));
        EXPECT_EQ(panel.Control(labels::CHANNEL).value, 0);
    });
}

TEST_F(CopyPanelTest, FlippingTheSwitchChangesTheRowMarkAtOnce) {
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        panel.Pick(labels::CHANNEL, 1);
        EXPECT_EQ(panel.Control(labels::ENABLED).value, 1);
        panel.SetBool(labels::ENABLED, false);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "  Position.Y", "* Position.Z"}));
        // Picking the channel again shows its flag.
        panel.Pick(labels::CHANNEL, 0);
        EXPECT_EQ(panel.Control(labels::ENABLED).value, 1);
        panel.Pick(labels::CHANNEL, 1);
        EXPECT_EQ(panel.Control(labels::ENABLED).value, 0);
        panel.SetBool(labels::ENABLED, true);
        EXPECT_EQ(panel.Rows(labels::CHANNEL)[1], "* Position.Y");
    });
}

TEST_F(CopyPanelTest, AGroupIsSwitchedOffWhenAllOnAndOnWhenAnyIsOff) {
    host.Scene().Select({AddItem(
        host.Scene(), "A",
        {{"Position.X", {}}, {"Position.Y", {}}, {"Position.Z", {}}, {"Rotation.H", {}}})});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        panel.Choose(labels::SWITCH_ALL, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"  Position.X", "  Position.Y", "  Position.Z", "* Rotation.H"}));
        // The switch follows the selected channel's new flag.
        EXPECT_EQ(panel.Control(labels::ENABLED).value, 0);
        panel.Choose(labels::SWITCH_ALL, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z", "* Rotation.H"}));
        EXPECT_EQ(panel.Control(labels::ENABLED).value, 1);
        // Only Position.Y off: the group goes all on.
        panel.Pick(labels::CHANNEL, 1);
        panel.SetBool(labels::ENABLED, false);
        panel.Choose(labels::SWITCH_ALL, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z", "* Rotation.H"}));
    });
}

TEST_F(CopyPanelTest, TheOthersAreChannelsOutsideTheThreeNamedGroups) {
    host.Scene().Select({AddItem(host.Scene(), "A",
                                 {{"PositionX", {}},
                                  {"position.X", {}},
                                  {"Scale", {}},
                                  {"Scale.X", {}},
                                  {"Rotation.B", {}},
                                  {"Dissolve", {}}})});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        panel.Choose(labels::SWITCH_ALL, 3);
        EXPECT_EQ(panel.Rows(labels::CHANNEL), (Rows{"  PositionX", "  position.X", "  Scale",
                                                     "* Scale.X", "* Rotation.B", "  Dissolve"}));
        panel.Choose(labels::SWITCH_ALL, 2);  // Scale.: only Scale.X
        EXPECT_EQ(panel.Rows(labels::CHANNEL)[3], "  Scale.X");
        EXPECT_EQ(panel.Rows(labels::CHANNEL)[2], "  Scale");
        panel.Choose(labels::SWITCH_ALL, 1);
        EXPECT_EQ(panel.Rows(labels::CHANNEL)[4], "  Rotation.B");
    });
}

TEST_F(CopyPanelTest, AllSwitchesEveryChannelOfTheCurrentItemOnly) {
    standin::Scene &scene = host.Scene();
    scene.Select({MakePositionItem("A"), MakePositionItem("B")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        panel.Choose(labels::SWITCH_ALL, 4);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"  Position.X", "  Position.Y", "  Position.Z"}));
        panel.Pick(labels::ITEM, 1);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        panel.Pick(labels::CHANNEL, 2);
        panel.Flip(labels::ENABLED);
        panel.Choose(labels::SWITCH_ALL, 4);  // one off: all on
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        // The first item kept its choice.
        panel.Pick(labels::ITEM, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"  Position.X", "  Position.Y", "  Position.Z"}));
    });
}

TEST_F(CopyPanelTest, AnItemWithoutChannelsShowsNoRowsAndNoChoiceChangesAnything) {
    standin::Scene &scene = host.Scene();
    scene.Select({scene.AddItem("Empty"), MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 1);  // Empty: the table lists the selection reversed
        EXPECT_TRUE(panel.Rows(labels::CHANNEL).empty());
        panel.Flip(labels::ENABLED);
        for (int choice = 0; choice < 5; ++choice) panel.Choose(labels::SWITCH_ALL, choice);
        EXPECT_TRUE(panel.Rows(labels::CHANNEL).empty());
        EXPECT_EQ(panel.Control(labels::ENABLED).value, 0);
        panel.Pick(labels::ITEM, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
    });
}

TEST_F(CopyPanelTest, ValuesOutOfRangeFromTheHostChangeNoFlag) {
    host.Misbehave().uncheckedUserValues = true;
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        panel.Choose(labels::SWITCH_ALL, 5);
        panel.Choose(labels::SWITCH_ALL, -1);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        panel.Pick(labels::CHANNEL, 3);
        panel.Flip(labels::ENABLED);
        panel.Pick(labels::CHANNEL, -1);
        panel.Flip(labels::ENABLED);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        panel.Pick(labels::ITEM, 7);
        EXPECT_TRUE(panel.Rows(labels::CHANNEL).empty());
        panel.Choose(labels::SWITCH_ALL, 4);
        panel.Pick(labels::ITEM, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
    });
}

TEST_F(CopyPanelTest, ANewCopyStartsWithEveryChannelEnabled) {
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        panel.Choose(labels::SWITCH_ALL, 4);
    });
    OpenCopy([](PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        EXPECT_EQ(panel.Rows(labels::CHANNEL),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
    });
    EXPECT_EQ(host.LivePanelCount(), 0u);
}

}  // namespace
}  // namespace tamberlo_test
