// The copy panel as a user meets it in the host: its controls, its lists and
// what each of its handlers shows and changes.
#include <string>
#include <vector>

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
    EXPECT_EQ(host.Errors()[0].first, standin::Cp932FromUtf8("アイテムが選ばれていません。"));
    EXPECT_EQ(host.Errors()[0].second, "");
    ASSERT_EQ(host.Panels().size(), 1u);
    EXPECT_FALSE(host.Panels()[0].opened);
    EXPECT_TRUE(host.Panels()[0].destroyed);
}

TEST_F(CopyPanelTest, ShowsItsTitleAndEightControlsInOrder) {
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &) {});
    ASSERT_EQ(host.Panels().size(), 1u);
    const standin::PanelRecord &panel = host.Panels()[0];
    EXPECT_EQ(panel.titleBytes, "Ruxo_Tamberlo (COPY) v0.1i");
    EXPECT_EQ(panel.openFlags, 7);
    EXPECT_TRUE(panel.destroyed);
    struct Expected {
        const char *type;
        const char *label;
        int valueType;
    };
    const Expected expected[] = {
        {host::NUM_CONTROL, "開始フレーム", 2},
        {host::NUM_CONTROL, "終了フレーム", 2},
        {host::LIST_BOX_CONTROL, "アイテム", 18},
        {host::LIST_BOX_CONTROL, "チャンネル", 18},
        {host::BOOL_CONTROL, "有効", 8},
        {host::POPUP_CONTROL, "一括切り替え", 9},
        {host::FILE_BUTTON_CONTROL, "セット保存", 1},
        {host::FILE_BUTTON_CONTROL, "セット読込", 1},
    };
    ASSERT_EQ(panel.controlsAtOpen.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(expected[i].label);
        const standin::ControlView &control = panel.controlsAtOpen[i];
        EXPECT_EQ(control.typeName, expected[i].type);
        EXPECT_EQ(control.labelBytes, standin::Cp932FromUtf8(expected[i].label));
        EXPECT_EQ(control.valueType, expected[i].valueType);
    }
    EXPECT_EQ(panel.controlsAtOpen[2].width, 300);
    EXPECT_EQ(panel.controlsAtOpen[2].visibleRows, 10);
    EXPECT_EQ(panel.controlsAtOpen[3].width, 300);
    EXPECT_EQ(panel.controlsAtOpen[3].visibleRows, 10);
    EXPECT_EQ(panel.controlsAtOpen[5].choices,
              (Rows{"Position", "Rotation", "Scale", "その他", "すべて"}));
    EXPECT_EQ(panel.controlsAtOpen[6].width, 100);
    // Only the lists, the switch and the popup have handlers.
    const bool withEvent[] = {false, false, true, true, true, true, false, false};
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(panel.controlsAtOpen[i].hasEvent, withEvent[i]);
}

TEST_F(CopyPanelTest, OpensWithTheSelectionReversedAndNothingPicked) {
    standin::Scene &scene = host.Scene();
    scene.SetFrames(12, 345);
    scene.Select({MakePositionItem("A"), MakePositionItem("B"), MakePositionItem("C")});
    OpenCopy([](PanelSession &panel) {
        EXPECT_EQ(panel.Rows("アイテム"), (Rows{"C", "B", "A"}));
        EXPECT_EQ(panel.Control("アイテム").value, 0);
        EXPECT_TRUE(panel.Rows("チャンネル").empty());
        EXPECT_EQ(panel.Control("有効").drawMode, host::DR_GHOST);
        EXPECT_EQ(panel.Control("開始フレーム").value, 12);
        EXPECT_EQ(panel.Control("終了フレーム").value, 345);
    });
}

TEST_F(CopyPanelTest, PickingAnItemShowsItsChannelsFromTheFirstRow) {
    standin::Scene &scene = host.Scene();
    const auto a = AddItem(scene, "A", {{"Position.X", {}}, {"Rotation.H", {}}});
    const auto b = AddItem(scene, "B", {{"Scale.X", {}}});
    scene.Select({a, b});
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 1);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Rotation.H"}));
        EXPECT_EQ(panel.Control("チャンネル").value, 0);
        EXPECT_EQ(panel.Control("有効").value, 1);
        EXPECT_EQ(panel.Control("有効").drawMode, host::DR_RENDER);
        // The channel list was redrawn ghosted, then normally.
        const std::vector<int> history = panel.Control("チャンネル").drawHistory;
        ASSERT_GE(history.size(), 2u);
        EXPECT_EQ(history[history.size() - 2], host::DR_GHOST);
        EXPECT_EQ(history.back(), host::DR_RENDER);

        panel.Pick("チャンネル", 1);
        panel.Pick("アイテム", 0);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Scale.X"}));
        EXPECT_EQ(panel.Control("チャンネル").value, 0);
    });
}

TEST_F(CopyPanelTest, FlippingTheSwitchChangesTheRowMarkAtOnce) {
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 0);
        panel.Pick("チャンネル", 1);
        EXPECT_EQ(panel.Control("有効").value, 1);
        panel.SetBool("有効", false);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "  Position.Y", "* Position.Z"}));
        // Picking the channel again shows its flag.
        panel.Pick("チャンネル", 0);
        EXPECT_EQ(panel.Control("有効").value, 1);
        panel.Pick("チャンネル", 1);
        EXPECT_EQ(panel.Control("有効").value, 0);
        panel.SetBool("有効", true);
        EXPECT_EQ(panel.Rows("チャンネル")[1], "* Position.Y");
    });
}

TEST_F(CopyPanelTest, AGroupIsSwitchedOffWhenAllOnAndOnWhenAnyIsOff) {
    host.Scene().Select({AddItem(
        host.Scene(), "A",
        {{"Position.X", {}}, {"Position.Y", {}}, {"Position.Z", {}}, {"Rotation.H", {}}})});
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 0);
        panel.Choose("一括切り替え", 0);
        EXPECT_EQ(panel.Rows("チャンネル"),
                  (Rows{"  Position.X", "  Position.Y", "  Position.Z", "* Rotation.H"}));
        // The switch follows the selected channel's new flag.
        EXPECT_EQ(panel.Control("有効").value, 0);
        panel.Choose("一括切り替え", 0);
        EXPECT_EQ(panel.Rows("チャンネル"),
                  (Rows{"* Position.X", "* Position.Y", "* Position.Z", "* Rotation.H"}));
        EXPECT_EQ(panel.Control("有効").value, 1);
        // Only Position.Y off: the group goes all on.
        panel.Pick("チャンネル", 1);
        panel.SetBool("有効", false);
        panel.Choose("一括切り替え", 0);
        EXPECT_EQ(panel.Rows("チャンネル"),
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
        panel.Pick("アイテム", 0);
        panel.Choose("一括切り替え", 3);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"  PositionX", "  position.X", "  Scale",
                                                  "* Scale.X", "* Rotation.B", "  Dissolve"}));
        panel.Choose("一括切り替え", 2);  // Scale.: only Scale.X
        EXPECT_EQ(panel.Rows("チャンネル")[3], "  Scale.X");
        EXPECT_EQ(panel.Rows("チャンネル")[2], "  Scale");
        panel.Choose("一括切り替え", 1);
        EXPECT_EQ(panel.Rows("チャンネル")[4], "  Rotation.B");
    });
}

TEST_F(CopyPanelTest, AllSwitchesEveryChannelOfTheCurrentItemOnly) {
    standin::Scene &scene = host.Scene();
    scene.Select({MakePositionItem("A"), MakePositionItem("B")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 0);
        panel.Choose("一括切り替え", 4);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"  Position.X", "  Position.Y", "  Position.Z"}));
        panel.Pick("アイテム", 1);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        panel.Pick("チャンネル", 2);
        panel.Flip("有効");
        panel.Choose("一括切り替え", 4);  // one off: all on
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        // The first item kept its choice.
        panel.Pick("アイテム", 0);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"  Position.X", "  Position.Y", "  Position.Z"}));
    });
}

TEST_F(CopyPanelTest, AnItemWithoutChannelsShowsNoRowsAndNoChoiceChangesAnything) {
    standin::Scene &scene = host.Scene();
    scene.Select({scene.AddItem("Empty"), MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 1);  // Empty: the table lists the selection reversed
        EXPECT_TRUE(panel.Rows("チャンネル").empty());
        panel.Flip("有効");
        for (int choice = 0; choice < 5; ++choice) panel.Choose("一括切り替え", choice);
        EXPECT_TRUE(panel.Rows("チャンネル").empty());
        EXPECT_EQ(panel.Control("有効").value, 0);
        panel.Pick("アイテム", 0);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
    });
}

TEST_F(CopyPanelTest, ValuesOutOfRangeFromTheHostChangeNoFlag) {
    host.Misbehave().uncheckedUserValues = true;
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 0);
        panel.Choose("一括切り替え", 5);
        panel.Choose("一括切り替え", -1);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        panel.Pick("チャンネル", 3);
        panel.Flip("有効");
        panel.Pick("チャンネル", -1);
        panel.Flip("有効");
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
        panel.Pick("アイテム", 7);
        EXPECT_TRUE(panel.Rows("チャンネル").empty());
        panel.Choose("一括切り替え", 4);
        panel.Pick("アイテム", 0);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
    });
}

TEST_F(CopyPanelTest, EventsAreAttachedControlByControlUserDataFirst) {
    host.Scene().Select({MakePositionItem("A")});
    host.EnableTrace(true);
    OpenCopy([](PanelSession &) {});
    std::vector<std::string> sets;
    for (const standin::TraceEntry &entry : host.Trace()) {
        if (entry.service != "control" || entry.operation != "set") continue;
        if (entry.arguments.find("tag=16") != std::string::npos) sets.push_back("data");
        if (entry.arguments.find("tag=14") != std::string::npos) sets.push_back("event");
    }
    EXPECT_EQ(sets, (Rows{"data", "event", "data", "event", "data", "event", "data", "event"}));
}

TEST_F(CopyPanelTest, ANewCopyStartsWithEveryChannelEnabled) {
    host.Scene().Select({MakePositionItem("A")});
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 0);
        panel.Choose("一括切り替え", 4);
    });
    OpenCopy([](PanelSession &panel) {
        panel.Pick("アイテム", 0);
        EXPECT_EQ(panel.Rows("チャンネル"), (Rows{"* Position.X", "* Position.Y", "* Position.Z"}));
    });
    EXPECT_EQ(host.LivePanelCount(), 0u);
}

}  // namespace
}  // namespace tamberlo_test
