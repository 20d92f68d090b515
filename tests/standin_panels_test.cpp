// The stand-in host's panels: controls and their value records, list drawing,
// events, the scripted user, and the CP932 text that labels and rows carry.
// The tests act as the module, calling the panel services directly with
// small C callbacks of their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "standin/standin.h"
#include "tests/breach_capture.h"

namespace {

// "アイテム" and "チャンネル" in CP932.
constexpr const char *ITEM_CP932 = "\x83\x41\x83\x43\x83\x65\x83\x80";
constexpr const char *CHANNEL_CP932 = "\x83\x60\x83\x83\x83\x93\x83\x6C\x83\x8B";

// A list's contents as the module keeps them, with what the host asked.
struct ListModel {
    explicit ListModel(std::vector<std::string> shown, std::vector<bool> shownAsNull = {})
        : rows(std::move(shown)), nullRows(std::move(shownAsNull)) {}

    std::vector<std::string> rows;
    std::vector<bool> nullRows;  // rows whose name function answers null
    int countCalls = 0;
    std::vector<int> nameCalls;
    char buffer[64] = {};  // one buffer for every name, as modules often do
};

int CountRows(void *userData) {
    auto *model = static_cast<ListModel *>(userData);
    ++model->countCalls;
    return static_cast<int>(model->rows.size());
}

const char *NameRow(void *userData, int index) {
    auto *model = static_cast<ListModel *>(userData);
    model->nameCalls.push_back(index);
    const auto row = static_cast<std::size_t>(index);
    if (row < model->nullRows.size() && model->nullRows[row]) return nullptr;
    std::snprintf(model->buffer, sizeof model->buffer, "%s", model->rows.at(row).c_str());
    return model->buffer;
}

// Every event the host raised, with the control's value as the handler read it.
struct RaisedEvent {
    host::Control *control;
    void *userData;
    std::intptr_t value;
};
std::vector<RaisedEvent> raisedEvents;

void RecordEvent(host::Control *control, void *userData) {
    host::ValueRecord record{host::LWT_INTEGER, -1};
    control->get(control, host::CTL_VALUE, &record);
    raisedEvents.push_back({control, userData, record.value});
}

class PanelsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        raisedEvents.clear();
        panels = static_cast<host::PanelFuncs *>(host.Global()(host::PANEL_SERVICES_NAME, 0));
        ASSERT_NE(panels, nullptr);
        // As a module does: the table itself as the panel's data, and the
        // lookup in globalFun before any control.
        panel = panels->create("Copy", panels);
        ASSERT_NE(panel, nullptr);
        panels->globalFun = host.Global();
    }

    host::Control *AddList(const char *label, ListModel &model) {
        host::ControlDescriptor descriptor{};
        descriptor.type = host::LWT_INTEGER;
        descriptor.shape.width = 200;
        descriptor.visibleRows = 8;
        descriptor.countFn = CountRows;
        descriptor.nameFn = NameRow;
        host::Control *control =
            panels->addControl(panel, host::LIST_BOX_CONTROL, &descriptor, label);
        Set(control, host::CTL_USERDATA, reinterpret_cast<std::intptr_t>(&model));
        return control;
    }

    host::Control *AddPlain(const char *typeName, int valueType, const char *label) {
        host::ControlDescriptor descriptor{};
        descriptor.type = valueType;
        return panels->addControl(panel, typeName, &descriptor, label);
    }

    static void Set(host::Control *control, int tag, std::intptr_t value) {
        host::ValueRecord record{host::LWT_INTEGER, value};
        control->set(control, tag, &record);
    }

    static std::intptr_t Get(host::Control *control, int tag) {
        host::ValueRecord record{host::LWT_INTEGER, -12345};
        control->get(control, tag, &record);
        return record.value;
    }

    static void AttachEvent(host::Control *control) {
        Set(control, host::CTL_USEREVENT, reinterpret_cast<std::intptr_t>(&RecordEvent));
    }

    bool TranscriptHas(const std::string &line) const {
        for (const std::string &shown : host.Transcript())
            if (shown == line) return true;
        return false;
    }

    standin::Host host;
    host::PanelFuncs *panels = nullptr;
    host::PanelId panel = nullptr;
};

// ---------------------------------------------------------------------------
// Value records.

TEST_F(PanelsTest, SetValueThenGetReturnsItAndLeavesTheRecordTypeAlone) {
    host::Control *number = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    ASSERT_NE(number, nullptr);
    EXPECT_EQ(Get(number, host::CTL_VALUE), standin::UNSET_CONTROL_VALUE)
        << "a control the module never set must not read as a plausible value";
    Set(number, host::CTL_VALUE, 42);
    EXPECT_EQ(Get(number, host::CTL_VALUE), 42);
}

TEST_F(PanelsTest, UserDataAndEventHandlerPointersRoundTrip) {
    host::Control *toggle = AddPlain(host::BOOL_CONTROL, host::LWT_BOOLEAN, "Relative");
    int owner = 0;
    Set(toggle, host::CTL_USERDATA, reinterpret_cast<std::intptr_t>(&owner));
    AttachEvent(toggle);
    EXPECT_EQ(Get(toggle, host::CTL_USERDATA), reinterpret_cast<std::intptr_t>(&owner));
    EXPECT_EQ(Get(toggle, host::CTL_USEREVENT), reinterpret_cast<std::intptr_t>(&RecordEvent));
    EXPECT_EQ(Get(toggle, host::CTL_VALUE), standin::UNSET_CONTROL_VALUE)
        << "user data leaked into the value";
}

TEST_F(PanelsTest, EachControlKeepsItsOwnValue) {
    host::Control *first = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "First");
    host::Control *second = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Second");
    Set(first, host::CTL_VALUE, 1);
    Set(second, host::CTL_VALUE, 2);
    EXPECT_EQ(Get(first, host::CTL_VALUE), 1);
    EXPECT_EQ(Get(second, host::CTL_VALUE), 2);
    EXPECT_NE(first->hostData, second->hostData);
}

TEST_F(PanelsTest, AddControlRefusesUnknownTypesAndPanels) {
    host::ControlDescriptor descriptor{};
    EXPECT_EQ(panels->addControl(panel, "SliderControl", &descriptor, "x"), nullptr);
    EXPECT_EQ(panels->addControl(panel, "numcontrol", &descriptor, "x"), nullptr);
    {
        tamberlo_test::BreachCapture breaches;
        EXPECT_EQ(panels->addControl(nullptr, host::NUM_CONTROL, &descriptor, "x"), nullptr);
        EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KnownIdentifier));
    }
    for (const char *typeName : {host::NUM_CONTROL, host::LIST_BOX_CONTROL, host::BOOL_CONTROL,
                                 host::POPUP_CONTROL, host::FILE_BUTTON_CONTROL})
        EXPECT_NE(AddPlain(typeName, host::LWT_INTEGER, typeName), nullptr) << typeName;
}

// ---------------------------------------------------------------------------
// Lists and drawing.

TEST_F(PanelsTest, ListCallbacksRunOnOpenAndOnEveryModuleDraw) {
    ListModel model{{"Position.X", "Position.Y", "Position.Z"}};
    host::Control *list = AddList("Channels", model);
    list->draw(list, host::DR_RENDER);
    EXPECT_EQ(model.countCalls, 1);
    EXPECT_EQ(model.nameCalls, (std::vector<int>{0, 1, 2}));

    host.User().Then([](standin::PanelSession &) { return standin::PanelOutcome::Confirm; });
    panels->open(panel, host::PANF_BLOCKING);
    EXPECT_EQ(model.countCalls, 2);
    EXPECT_EQ(model.nameCalls, (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

TEST_F(PanelsTest, EachRowIsCopiedBeforeTheNextNameIsAskedFor) {
    ListModel model{{"alpha", "beta", "", "delta"}, {false, false, true, false}};
    AddList("Rows", model);
    host.User().Then([&](standin::PanelSession &session) {
        EXPECT_EQ(session.Rows("Rows"), (std::vector<std::string>{"alpha", "beta", "", "delta"}));
        return standin::PanelOutcome::Confirm;
    });
    EXPECT_EQ(panels->open(panel, 0), 1);
}

TEST_F(PanelsTest, UserSeesTheRowsOfTheLatestDrawOnly) {
    ListModel model{{"old"}};
    host::Control *list = AddList("Rows", model);
    host.User().Then([&](standin::PanelSession &session) {
        EXPECT_EQ(session.Rows("Rows"), (std::vector<std::string>{"old"}));
        model.rows = {"new", "newer"};
        EXPECT_EQ(session.Rows("Rows"), (std::vector<std::string>{"old"}))
            << "a change the module did not draw is shown";
        list->draw(list, host::DR_RENDER);
        EXPECT_EQ(session.Rows("Rows"), (std::vector<std::string>{"new", "newer"}));
        EXPECT_EQ(session.RowBytes("Rows"), (std::vector<std::string>{"new", "newer"}));
        return standin::PanelOutcome::Confirm;
    });
    panels->open(panel, 0);
}

TEST_F(PanelsTest, DrawModesAreRememberedInOrderAndOpeningDoesNotAddOne) {
    ListModel model{{"a"}};
    host::Control *list = AddList("Rows", model);
    host::Control *number = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    list->draw(list, host::DR_RENDER);
    list->draw(list, host::DR_GHOST);
    list->draw(list, host::DR_RENDER);
    number->draw(number, host::DR_GHOST);
    panels->open(panel, 0);

    const standin::PanelRecord &record = host.Panels().at(0);
    ASSERT_EQ(record.controlsAtOpen.size(), 2u);
    EXPECT_EQ(record.controlsAtOpen[0].drawHistory,
              (std::vector<int>{host::DR_RENDER, host::DR_GHOST, host::DR_RENDER}));
    EXPECT_EQ(record.controlsAtOpen[0].drawMode, host::DR_RENDER);
    EXPECT_EQ(record.controlsAtOpen[1].drawMode, host::DR_GHOST);
}

TEST_F(PanelsTest, AControlTheModuleNeverDrewHasNoDrawMode) {
    ListModel model{{"a"}};
    AddList("Rows", model);
    host.User().Then([](standin::PanelSession &session) {
        EXPECT_EQ(session.Control("Rows").drawMode, 0);
        EXPECT_TRUE(session.Control("Rows").drawHistory.empty());
        return standin::PanelOutcome::Cancel;
    });
    panels->open(panel, 0);
}

// ---------------------------------------------------------------------------
// Events.

TEST_F(PanelsTest, ModuleSetNeverRaisesTheEvent) {
    ListModel model{{"a", "b"}};
    host::Control *list = AddList("Rows", model);
    host::Control *toggle = AddPlain(host::BOOL_CONTROL, host::LWT_BOOLEAN, "Relative");
    host::Control *popup = AddPlain(host::POPUP_CONTROL, host::LWT_POPUP, "Mode");
    host::Control *number = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    for (host::Control *control : {list, toggle, popup, number}) {
        AttachEvent(control);
        Set(control, host::CTL_VALUE, 1);
        Set(control, host::CTL_USERDATA, reinterpret_cast<std::intptr_t>(&model));
        control->draw(control, host::DR_RENDER);
    }
    EXPECT_TRUE(raisedEvents.empty());
}

TEST_F(PanelsTest, UserActionsSetTheValueAndRaiseTheEventWithControlAndUserData) {
    ListModel model{{"a", "b", "c"}};
    host::Control *list = AddList("Rows", model);
    const char *choices[] = {"Replace", "Merge", nullptr};
    host::ControlDescriptor popupDescriptor{};
    popupDescriptor.type = host::LWT_POPUP;
    popupDescriptor.shape.choices = choices;
    host::Control *popup = panels->addControl(panel, host::POPUP_CONTROL, &popupDescriptor, "Mode");
    host::Control *toggle = AddPlain(host::BOOL_CONTROL, host::LWT_BOOLEAN, "Relative");
    host::Control *number = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    int toggleOwner = 0;
    Set(toggle, host::CTL_USERDATA, reinterpret_cast<std::intptr_t>(&toggleOwner));
    for (host::Control *control : {list, popup, toggle, number}) AttachEvent(control);
    Set(toggle, host::CTL_VALUE, 0);

    host.User().Then([](standin::PanelSession &session) {
        session.Pick("Rows", 2);
        session.Choose("Mode", 1);
        session.Flip("Relative");
        session.SetBool("Relative", false);
        session.Type("Count", -7);
        return standin::PanelOutcome::Confirm;
    });
    EXPECT_EQ(panels->open(panel, 0), 1);

    ASSERT_EQ(raisedEvents.size(), 5u);
    EXPECT_EQ(raisedEvents[0].control, list);
    EXPECT_EQ(raisedEvents[0].userData, &model);
    EXPECT_EQ(raisedEvents[0].value, 2);
    EXPECT_EQ(raisedEvents[1].control, popup);
    EXPECT_EQ(raisedEvents[1].userData, nullptr);
    EXPECT_EQ(raisedEvents[1].value, 1);
    EXPECT_EQ(raisedEvents[2].control, toggle);
    EXPECT_EQ(raisedEvents[2].userData, &toggleOwner);
    EXPECT_EQ(raisedEvents[2].value, 1);
    EXPECT_EQ(raisedEvents[3].value, 0);
    EXPECT_EQ(raisedEvents[4].control, number);
    EXPECT_EQ(raisedEvents[4].value, -7);
    EXPECT_TRUE(TranscriptHas("pick Rows row 2"));
    EXPECT_TRUE(TranscriptHas("choose Mode 1 (Merge)"));
}

TEST_F(PanelsTest, UserActionsWithoutAHandlerStillSetTheValue) {
    host::Control *number = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    host.User().Then([](standin::PanelSession &session) {
        session.Type("Count", 5);
        return standin::PanelOutcome::Confirm;
    });
    panels->open(panel, 0);
    EXPECT_EQ(Get(number, host::CTL_VALUE), 5);
    EXPECT_TRUE(raisedEvents.empty());
}

TEST_F(PanelsTest, UserCannotPickOrChooseOutsideWhatIsShown) {
    ListModel model{{"a", "b"}};
    AddList("Rows", model);
    const char *choices[] = {"Only", nullptr};
    host::ControlDescriptor popupDescriptor{};
    popupDescriptor.shape.choices = choices;
    panels->addControl(panel, host::POPUP_CONTROL, &popupDescriptor, "Mode");
    host.User().Then([](standin::PanelSession &session) {
        EXPECT_THROW(session.Pick("Rows", 2), std::out_of_range);
        EXPECT_THROW(session.Pick("Rows", -1), std::out_of_range);
        EXPECT_THROW(session.Choose("Mode", 1), std::out_of_range);
        EXPECT_EQ(session.Control("Rows").value, standin::UNSET_CONTROL_VALUE);
        return standin::PanelOutcome::Cancel;
    });
    panels->open(panel, 0);
}

TEST_F(PanelsTest, UncheckedUserValuesLetTheUserPickOutOfRange) {
    ListModel model{{"a"}};
    host::Control *list = AddList("Rows", model);
    AttachEvent(list);
    host.Misbehave().uncheckedUserValues = true;
    host.User().Then([](standin::PanelSession &session) {
        session.Pick("Rows", 5);
        return standin::PanelOutcome::Confirm;
    });
    panels->open(panel, 0);
    ASSERT_EQ(raisedEvents.size(), 1u);
    EXPECT_EQ(raisedEvents[0].value, 5);
}

TEST_F(PanelsTest, ActingOnAControlOfAnotherTypeOrAnUnknownLabelThrows) {
    ListModel model{{"a"}};
    AddList("Rows", model);
    AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    host.User().Then([](standin::PanelSession &session) {
        EXPECT_THROW(session.Flip("Rows"), std::logic_error);
        EXPECT_THROW(session.Type("Rows", 1), std::logic_error);
        EXPECT_THROW(session.Pick("Count", 0), std::logic_error);
        EXPECT_THROW(session.Rows("Count"), std::logic_error);
        EXPECT_THROW(session.Control("Nothing"), std::out_of_range);
        EXPECT_THROW(session.Pick("Nothing", 0), std::out_of_range);
        return standin::PanelOutcome::Cancel;
    });
    panels->open(panel, 0);
}

// ---------------------------------------------------------------------------
// Opening, outcomes and the scripted user.

TEST_F(PanelsTest, OpenReturnsOneOnConfirmAndZeroOnCancelOrWithoutScript) {
    host.User().Then([](standin::PanelSession &) { return standin::PanelOutcome::Confirm; });
    host.User().Then([](standin::PanelSession &) { return standin::PanelOutcome::Cancel; });
    EXPECT_EQ(panels->open(panel, host::PANF_BLOCKING | host::PANF_CANCEL), 1);
    EXPECT_EQ(panels->open(panel, 0), 0);
    EXPECT_EQ(panels->open(panel, 0), 0);
    EXPECT_TRUE(TranscriptHas("no script for panel Copy: cancel"));

    const standin::PanelRecord &record = host.Panels().at(0);
    EXPECT_TRUE(record.opened);
    EXPECT_EQ(record.openFlags, 0);
    EXPECT_EQ(record.outcome, standin::PanelOutcome::Cancel);
}

TEST_F(PanelsTest, OpenRecordsFlagsOutcomeAndWhatTheUserSaw) {
    ListModel model{{"Position.X", "Position.Y"}};
    AddList("Channels", model);
    AddPlain(host::BOOL_CONTROL, host::LWT_BOOLEAN, "Relative");
    host.User().Then([](standin::PanelSession &session) {
        EXPECT_EQ(session.Title(), "Copy");
        EXPECT_EQ(session.Controls().size(), 2u);
        return standin::PanelOutcome::Confirm;
    });
    panels->open(panel, host::PANF_BLOCKING);

    const standin::PanelRecord &record = host.Panels().at(0);
    EXPECT_EQ(record.openFlags, host::PANF_BLOCKING);
    EXPECT_EQ(record.outcome, standin::PanelOutcome::Confirm);
    ASSERT_EQ(record.controlsAtOpen.size(), 2u);
    EXPECT_EQ(record.controlsAtOpen[0].typeName, host::LIST_BOX_CONTROL);
    EXPECT_EQ(record.controlsAtOpen[0].width, 200);
    EXPECT_EQ(record.controlsAtOpen[0].visibleRows, 8);
    EXPECT_TRUE(record.controlsAtOpen[0].hasUserData);
    EXPECT_EQ(record.controlsAtOpen[1].label, "Relative");
    EXPECT_TRUE(TranscriptHas("panel Copy"));
    EXPECT_TRUE(TranscriptHas("ListBoxControl Channels"));
    EXPECT_TRUE(TranscriptHas("rows of Channels: Position.X | Position.Y"));
    EXPECT_TRUE(TranscriptHas("BoolControl Relative"));
    EXPECT_TRUE(TranscriptHas("confirm"));
}

TEST_F(PanelsTest, DeclaredActionsRunInOrderAndEndWithCancelUnlessConfirmed) {
    ListModel model{{"a", "b"}};
    host::Control *list = AddList("Rows", model);
    AttachEvent(list);
    using Kind = standin::UserAction::Kind;
    host.User().Then(
        {{Kind::ReadList, "Rows", 0}, {Kind::Pick, "Rows", 1}, {Kind::Confirm, "", 0}});
    host.User().Then({{Kind::Pick, "Rows", 0}});
    EXPECT_EQ(host.User().Pending(), 2u);

    EXPECT_EQ(panels->open(panel, 0), 1);
    EXPECT_EQ(host.User().Pending(), 1u);
    EXPECT_EQ(panels->open(panel, 0), 0) << "actions without Confirm end in Cancel";
    EXPECT_FALSE(host.User().HasScript());
    ASSERT_EQ(raisedEvents.size(), 2u);
    EXPECT_EQ(raisedEvents[0].value, 1);
    EXPECT_EQ(raisedEvents[1].value, 0);
    EXPECT_TRUE(TranscriptHas("pick Rows row 1"));
}

TEST_F(PanelsTest, ActionsAfterCancelDoNotRun) {
    host::Control *number = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    using Kind = standin::UserAction::Kind;
    Set(number, host::CTL_VALUE, 3);
    host.User().Then({{Kind::Cancel, "", 0}, {Kind::Type, "Count", 9}});
    EXPECT_EQ(panels->open(panel, 0), 0);
    EXPECT_EQ(Get(number, host::CTL_VALUE), 3);
}

TEST(ScriptedUserTest, NextHandsOutScriptsInOrderThenAnEmptyScript) {
    standin::ScriptedUser user;
    EXPECT_FALSE(user.Next());
    int ran = 0;
    user.Then([&](standin::PanelSession &) {
        ran = 1;
        return standin::PanelOutcome::Confirm;
    });
    user.Then([&](standin::PanelSession &) {
        ran = 2;
        return standin::PanelOutcome::Cancel;
    });
    struct NoSession : standin::PanelSession {
        std::string Title() const override { return {}; }
        std::vector<standin::ControlView> Controls() const override { return {}; }
        standin::ControlView Control(std::string_view) const override { return {}; }
        std::vector<std::string> Rows(std::string_view) const override { return {}; }
        std::vector<std::string> RowBytes(std::string_view) const override { return {}; }
        void Pick(std::string_view, int) override {}
        void SetBool(std::string_view, bool) override {}
        void Flip(std::string_view) override {}
        void Choose(std::string_view, int) override {}
        void Type(std::string_view, int) override {}
    } session;
    EXPECT_EQ(user.Next()(session), standin::PanelOutcome::Confirm);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(user.Next()(session), standin::PanelOutcome::Cancel);
    EXPECT_EQ(ran, 2);
    EXPECT_FALSE(user.Next());
    EXPECT_FALSE(user.HasScript());
}

TEST_F(PanelsTest, AFailingScriptCancelsThePanelAndSaysWhy) {
    host.User().Then([](standin::PanelSession &session) -> standin::PanelOutcome {
        session.Pick("Nothing", 0);
        return standin::PanelOutcome::Confirm;
    });
    EXPECT_EQ(panels->open(panel, 0), 0);
    bool said = false;
    for (const std::string &line : host.Transcript())
        said = said || line.find("failed") != std::string::npos;
    EXPECT_TRUE(said);
}

// ---------------------------------------------------------------------------
// Panel lifetime.

TEST_F(PanelsTest, DestroyedPanelsLeaveTheLiveCountAndRepeatedDestroysAreIgnored) {
    const host::PanelId second = panels->create("Paste", panels);
    ASSERT_NE(second, panel);
    EXPECT_EQ(host.LivePanelCount(), 2u);
    panels->destroy(panel);
    {
        tamberlo_test::BreachCapture breaches;
        panels->destroy(panel);
        panels->destroy(nullptr);
        ASSERT_EQ(breaches.Caught().size(), 2u);
        EXPECT_EQ(breaches.Caught()[0].rule, standin::Rule::PanelDestroyedOnce);
        EXPECT_EQ(breaches.Caught()[1].rule, standin::Rule::KnownIdentifier);
    }
    EXPECT_EQ(host.LivePanelCount(), 1u);
    panels->destroy(second);
    EXPECT_EQ(host.LivePanelCount(), 0u);
    ASSERT_EQ(host.Panels().size(), 2u);
    EXPECT_TRUE(host.Panels()[0].destroyed);
    EXPECT_EQ(host.Panels()[1].title, "Paste");
    EXPECT_FALSE(host.Panels()[1].opened);
}

TEST_F(PanelsTest, ControlsOfADestroyedPanelNoLongerAnswer) {
    host::Control *number = AddPlain(host::NUM_CONTROL, host::LWT_INTEGER, "Count");
    Set(number, host::CTL_VALUE, 3);
    panels->destroy(panel);
    tamberlo_test::BreachCapture breaches;
    EXPECT_EQ(Get(number, host::CTL_VALUE), -12345) << "get wrote through a dead control";
    EXPECT_EQ(panels->open(panel, 0), 0);
    EXPECT_FALSE(host.Panels()[0].opened);
    EXPECT_EQ(breaches.Caught().size(), 2u);
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::NoCallOnADestroyedPanel));
}

// ---------------------------------------------------------------------------
// Copies of module data.

TEST_F(PanelsTest, ChoiceListIsCopiedWhenTheControlIsAdded) {
    char first[] = "Replace";
    char second[] = "Merge";
    const char *choices[] = {first, second, nullptr};
    host::ControlDescriptor descriptor{};
    descriptor.type = host::LWT_POPUP;
    descriptor.shape.choices = choices;
    ASSERT_NE(panels->addControl(panel, host::POPUP_CONTROL, &descriptor, "Mode"), nullptr);
    std::strcpy(first, "XXXXXXX");
    choices[1] = "Changed";
    host.User().Then([](standin::PanelSession &session) {
        EXPECT_EQ(session.Control("Mode").choices, (std::vector<std::string>{"Replace", "Merge"}));
        return standin::PanelOutcome::Confirm;
    });
    panels->open(panel, 0);
}

// ---------------------------------------------------------------------------
// CP932 text.

TEST_F(PanelsTest, LabelsTitlesAndRowsInCp932AreFoundAndShownInUtf8) {
    const host::PanelId japanese = panels->create(ITEM_CP932, panels);
    panel = japanese;
    ListModel model{{CHANNEL_CP932, "Position.X"}};
    AddList(CHANNEL_CP932, model);
    host.User().Then([](standin::PanelSession &session) {
        EXPECT_EQ(session.Title(), "アイテム");
        const standin::ControlView list = session.Control("チャンネル");
        EXPECT_EQ(list.labelBytes, CHANNEL_CP932);
        EXPECT_EQ(session.Rows("チャンネル"),
                  (std::vector<std::string>{"チャンネル", "Position.X"}));
        EXPECT_EQ(session.RowBytes("チャンネル")[0], CHANNEL_CP932);
        EXPECT_THROW(session.Control(CHANNEL_CP932), std::out_of_range)
            << "labels are looked up in UTF-8, not in the module's bytes";
        return standin::PanelOutcome::Confirm;
    });
    panels->open(japanese, 0);
    EXPECT_EQ(host.Panels().back().title, "アイテム");
    EXPECT_EQ(host.Panels().back().titleBytes, ITEM_CP932);
    EXPECT_TRUE(TranscriptHas("rows of チャンネル: チャンネル | Position.X"));
}

TEST(TextTest, JapaneseTextConvertsBothWays) {
    EXPECT_EQ(standin::Cp932FromUtf8("アイテム"), "\x83\x41\x83\x43\x83\x65\x83\x80");
    EXPECT_EQ(standin::Utf8FromCp932("\x83\x41\x83\x43\x83\x65\x83\x80"), "アイテム");
    const std::string mixed = "Position.X / 日本語のチャンネル「回転」";
    EXPECT_EQ(standin::Utf8FromCp932(standin::Cp932FromUtf8(mixed)), mixed);
    EXPECT_EQ(standin::Utf8FromCp932(""), "");
}

TEST(TextTest, UnreadableBytesAreReplacedRatherThanRefused) {
    EXPECT_EQ(standin::Utf8FromCp932("a\xFF"
                                     "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(standin::Utf8FromCp932("ab\x83"), "ab\xEF\xBF\xBD") << "a cut-off double byte";
    EXPECT_EQ(standin::Cp932FromUtf8("a\xC3"
                                     "b"),
              "a?b")
        << "a broken UTF-8 sequence";
    EXPECT_EQ(standin::Cp932FromUtf8("x😀y"), "x?y") << "a character CP932 lacks";
    EXPECT_EQ(standin::Cp932FromUtf8("テ😀スト"), "\x83\x65?\x83\x58\x83\x67");
}

TEST(TextTest, LongTextConvertsWhole) {
    std::string utf8;
    for (int i = 0; i < 2000; ++i) utf8 += "チャンネル";
    const std::string cp932 = standin::Cp932FromUtf8(utf8);
    EXPECT_EQ(cp932.size(), 2000u * 10);
    EXPECT_EQ(standin::Utf8FromCp932(cp932), utf8);
}

}  // namespace
