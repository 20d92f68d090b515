// Paste in the host: its refusals, its panel, and what it does to the scene.
#include <cmath>
#include <cstring>
#include <limits>
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

class PasteTest : public ModuleTest {
  protected:
    std::string LastError() const {
        return host.Errors().empty() ? "" : standin::Utf8FromCp932(host.Errors().back().first);
    }
};

TEST_F(PasteTest, NothingCopiedIsRefusedFirstWhateverIsSelected) {
    EXPECT_EQ(Run(PASTE), 0);
    EXPECT_EQ(LastError(), labels::NOTHING_COPIED);
    EXPECT_EQ(host.Errors().back().first, standin::Cp932FromUtf8(labels::NOTHING_COPIED));
    EXPECT_EQ(host.Errors().back().second, "");
    scene.Select({scene.AddItem("A")});
    EXPECT_EQ(Run(PASTE), 0);
    EXPECT_EQ(LastError(), labels::NOTHING_COPIED);
    EXPECT_TRUE(host.Panels().empty());
}

TEST_F(PasteTest, NothingSelectedAndAWrongCountAreRefusedWithoutAPanel) {
    const auto a = AddItem(scene, "A", {{"X", {{At(1), 1}}}});
    const auto b = AddItem(scene, "B", {{"X", {{At(1), 2}}}});
    const auto c = AddItem(scene, "C", {});
    Copy({a, b}, 0, 10);
    const std::size_t panelsAfterCopy = host.Panels().size();

    scene.Select({});
    EXPECT_EQ(Run(PASTE), 0);
    EXPECT_EQ(LastError(), labels::NO_ITEM_SELECTED);
    for (std::vector<host::ItemId> wrong : {std::vector{c}, std::vector{a, b, c}}) {
        host.ClearErrors();
        scene.Select(wrong);
        EXPECT_EQ(Run(PASTE), 0);
        EXPECT_EQ(LastError(), labels::COUNT_MISMATCH);
        EXPECT_EQ(host.Errors().back().second, "");
    }
    EXPECT_EQ(host.Panels().size(), panelsAfterCopy);
    EXPECT_EQ(KeysOf(scene, c, "X"), Keys{});
}

TEST_F(PasteTest, ThePanelOffersTheCopysFirstFrame) {
    const auto a = AddItem(scene, "A", {{"X", {{At(12), 1}}}});
    Copy({a}, 10, 20);
    host.User().Then([](PanelSession &panel) {
        EXPECT_EQ(panel.Title(), "Ruxo_Tamberlo (COPY) v0.1i");
        const auto controls = panel.Controls();
        EXPECT_EQ(controls.size(), 1u);
        EXPECT_EQ(panel.Control(labels::PASTE_START_FRAME).typeName, host::NUM_CONTROL);
        EXPECT_EQ(panel.Control(labels::PASTE_START_FRAME).valueType, host::LWT_INTEGER);
        EXPECT_EQ(panel.Control(labels::PASTE_START_FRAME).value, 10);
        return PanelOutcome::Cancel;
    });
    EXPECT_EQ(Run(PASTE), 0);
    EXPECT_EQ(host.Panels().back().openFlags, 7);
    EXPECT_EQ(host.LivePanelCount(), 0u);
}

TEST_F(PasteTest, ItemsAreMatchedByPositionInSelectionOrder) {
    const auto a = AddItem(scene, "A", {{"X", {{At(1), 1}}}});
    const auto b = AddItem(scene, "B", {{"X", {{At(1), 2}}}});
    const auto c = AddItem(scene, "C", {{"X", {}}});
    const auto d = AddItem(scene, "D", {{"X", {}}});
    Copy({a, b}, 0, 10);
    Paste({c, d}, ConfirmAsShown());
    ExpectKeys(KeysOf(scene, c, "X"), Keys{{At(1), 1}});
    ExpectKeys(KeysOf(scene, d, "X"), Keys{{At(1), 2}});
    // Selected the other way round, the motion goes the other way round.
    Paste({d, c}, PasteAt(5));
    ExpectKeys(KeysOf(scene, d, "X"), Keys{{At(1), 2}, {At(6), 1}});
    ExpectKeys(KeysOf(scene, c, "X"), Keys{{At(1), 1}, {At(6), 2}});
}

TEST_F(PasteTest, TheWindowIsClearedInclusiveAndKeysShifted) {
    const auto source =
        AddItem(scene, "S", {{"X", {{At(10), 1}, {At(12), 2}, {At(12.5), 3}, {At(20), 4}}}});
    const auto target = AddItem(scene, "T",
                                {{"X",
                                  {{At(29), 10},
                                   {At(29.9), 11},
                                   {At(30), 12},
                                   {At(35), 13},
                                   {At(40), 14},
                                   {At(40.9), 15},
                                   {At(41), 16}}}});
    Copy({source}, 10, 20);
    Paste({target}, PasteAt(30));
    const Keys keys = KeysOf(scene, target, "X");
    ASSERT_EQ(keys.size(), 7u);
    const Keys expected = {{At(29), 10},
                           {At(29.9), 11},
                           {At(10) + 20 / 30.0, 1},
                           {At(12) + 20 / 30.0, 2},
                           {At(12.5) + 20 / 30.0, 3},
                           {At(20) + 20 / 30.0, 4},
                           {At(41), 16}};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_DOUBLE_EQ(keys[i].first, expected[i].first) << i;
        EXPECT_EQ(keys[i].second, expected[i].second) << i;
    }
    EXPECT_NEAR(keys[3].first * 30.0, 32.0, 1e-9);
    EXPECT_NEAR(keys[4].first * 30.0, 32.5, 1e-9);
}

TEST_F(PasteTest, NegativeTimesCountTowardZero) {
    const auto source = AddItem(scene, "S", {{"X", {{At(0), 7}}}});
    // -0.5 is frame 0 (inside a window at 0), -1.5 is frame -1 (outside).
    const auto target = AddItem(scene, "T", {{"X", {{At(-1.5), 1}, {At(-0.5), 2}}}});
    Copy({source}, 0, 0);
    Paste({target}, ConfirmAsShown());
    ExpectKeys(KeysOf(scene, target, "X"), Keys{{At(-1.5), 1}, {0.0, 7}});
}

TEST_F(PasteTest, TheDefaultStartRecreatesKeysAtTheirExactTimes) {
    scene.SetFramesPerSecond(29.97);
    const Keys original = {{0.1, 1}, {1.0 / 3.0, 2}, {0.7777, 3}};
    std::vector<SceneKey> keys;
    for (auto [time, value] : original) keys.push_back({time, value});
    const auto source = AddItem(scene, "S", {{"X", keys}});
    const auto target = AddItem(scene, "T", {{"X", {{0.5, 9}}}});
    Copy({source}, 0, 30);
    Paste({target}, ConfirmAsShown());
    // Exactly, not nearly.
    EXPECT_EQ(KeysOf(scene, target, "X"), original);
}

TEST_F(PasteTest, AMissingChannelIsCreatedWithTheCopiedTypeAndNamesAreCaseSensitive) {
    const auto source = AddItem(scene, "S", {{"Position.X", {{At(3), 1}}, 4}});
    const auto target = AddItem(scene, "T", {{"position.x", {{At(3), 5}}}});
    Copy({source}, 0, 10);
    Paste({target}, ConfirmAsShown());
    const auto channels = scene.Channels(target);
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[1].name, "Position.X");
    EXPECT_EQ(channels[1].type, 4);
    ExpectKeys(KeysOf(scene, target, "Position.X"), Keys{{At(3), 1}});
    ExpectKeys(KeysOf(scene, target, "position.x"), Keys{{At(3), 5}});
}

TEST_F(PasteTest, TheFirstChannelOfAMatchingNameReceivesTheKeys) {
    const auto source = AddItem(scene, "S", {{"X", {{At(3), 1}}}});
    const auto target = AddItem(scene, "T", {{"X", {}}, {"X", {{At(3), 5}}}});
    Copy({source}, 0, 10);
    Paste({target}, ConfirmAsShown());
    const auto channels = scene.Channels(target);
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(scene.Keys(channels[0].envelope).size(), 1u);
    EXPECT_EQ(scene.Keys(channels[1].envelope)[0].value, 5.0);
}

TEST_F(PasteTest, AChannelWithoutKeysClearsTheWindowAndAnItemWithoutChannelsNothing) {
    const auto source = AddItem(scene, "S", {{"X", {{At(50), 1}}}});
    const auto bare = AddItem(scene, "Bare", {});
    const auto target = AddItem(scene, "T", {{"X", {{At(4), 1}, {At(11), 2}}}});
    const auto untouched = AddItem(scene, "U", {{"X", {{At(4), 3}}}});
    Copy({source, bare}, 0, 10);  // the table: Bare, then S (no key in range)
    Paste({target, untouched}, ConfirmAsShown());
    // untouched receives Bare's empty item; target receives S's keyless X.
    ExpectKeys(KeysOf(scene, untouched, "X"), Keys{{At(4), 3}});
    ExpectKeys(KeysOf(scene, target, "X"), Keys{{At(11), 2}});
}

TEST_F(PasteTest, ANegativeSpanDeletesAndCreatesNothingButStillCreatesMissingChannels) {
    const auto source = AddItem(scene, "S", {{"X", {{At(7), 1}}}, {"New", {{At(7), 1}}}});
    const auto target = AddItem(scene, "T", {{"X", {{At(5), 2}, {At(7), 3}, {At(10), 4}}}});
    Copy({source}, 10, 5);
    Paste({target}, ConfirmAsShown());
    ExpectKeys(KeysOf(scene, target, "X"), Keys{{At(5), 2}, {At(7), 3}, {At(10), 4}});
    EXPECT_TRUE(scene.FindChannel(target, "New").has_value());
    EXPECT_EQ(KeysOf(scene, target, "New"), Keys{});
}

TEST_F(PasteTest, CancelChangesNothingAndTheSameMotionPastesAgain) {
    const auto source = AddItem(scene, "S", {{"X", {{At(1), 1}, {At(2), 2}}}});
    const auto target = AddItem(scene, "T", {{"X", {{At(1), 9}}}});
    Copy({source}, 0, 5);
    Paste({target}, CancelAsShown());
    ExpectKeys(KeysOf(scene, target, "X"), Keys{{At(1), 9}});
    Paste({target}, PasteAt(10));
    Paste({target}, PasteAt(20));
    Paste({target}, PasteAt(20));
    ExpectKeys(KeysOf(scene, target, "X"),
               Keys{{At(1), 9}, {At(11), 1}, {At(12), 2}, {At(21), 1}, {At(22), 2}});
    EXPECT_EQ(host.LivePanelCount(), 0u);
}

TEST_F(PasteTest, ExtremeStartFramesNeitherOverflowNorCrash) {
    constexpr int highest = std::numeric_limits<int>::max();
    constexpr int lowest = std::numeric_limits<int>::min();
    const auto source = AddItem(scene, "S", {{"X", {{At(0), 1}}}});
    const auto target = AddItem(scene, "T", {{"X", {{At(0), 2}, {1e12, 3}}}});
    Copy({source}, lowest, highest);  // span 2^32 - 1
    Paste({target}, PasteAt(highest));
    // The window starts at the top frame: only the far key, whose frame
    // saturates there, is cleared.
    const Keys keys = KeysOf(scene, target, "X");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], (std::pair<double, double>{0.0, 2}));
    EXPECT_NEAR(keys[1].first, (static_cast<double>(highest) - lowest) / 30.0, 1e-3);
    Paste({target}, PasteAt(lowest));
    EXPECT_EQ(KeysOf(scene, target, "X").size(), 1u);
}

TEST_F(PasteTest, ParametersAndAttributesSurviveCopyAndPasteByteForByte) {
    const auto sourceItem = scene.AddItem("S");
    const auto channel = scene.AddChannel(sourceItem, "Rotation.P", 2);
    const auto key = scene.AddKey(channel, At(4), 1.5);
    for (int tag = 2; tag <= 9; ++tag) {
        host::KeySlot slot;
        for (int b = 0; b < 8; ++b) slot[b] = static_cast<unsigned char>(0xA0 + tag * 8 + b);
        scene.SetKeyParameter(key, tag, slot);
    }
    const auto sourceEnvelope = scene.Channels(sourceItem)[0].envelope;
    for (int attribute = 0; attribute < 3; ++attribute)
        scene.SetAttribute(sourceEnvelope, attribute, 100 * attribute - 7);
    const auto target = scene.AddItem("T");
    Copy({sourceItem}, 0, 10);
    Paste({target}, PasteAt(3));

    const auto channels = scene.Channels(target);
    ASSERT_EQ(channels.size(), 1u);
    const auto pasted = scene.Keys(channels[0].envelope);
    ASSERT_EQ(pasted.size(), 1u);
    const auto original = scene.Keys(sourceEnvelope)[0];
    EXPECT_EQ(pasted[0].value, 1.5);
    EXPECT_DOUBLE_EQ(pasted[0].time, At(7));
    for (int p = 0; p < 8; ++p)
        EXPECT_EQ(0, std::memcmp(pasted[0].parameters[p].data(), original.parameters[p].data(), 8));
    for (int attribute = 0; attribute < 3; ++attribute)
        EXPECT_EQ(scene.Attribute(channels[0].envelope, attribute), 100 * attribute - 7);
}

TEST_F(PasteTest, ChannelsWithoutEnvelopeAndRefusedKeysAreSkipped) {
    const auto source =
        AddItem(scene, "S",
                {{"Detached", {{At(2), 1}}}, {"Missing", {{At(2), 2}}}, {"Kept", {{At(2), 3}}}});
    const auto target = AddItem(scene, "T", {{"Detached", {}}, {"Kept", {{At(2), 9}}}});
    Copy({source}, 0, 10);
    scene.DetachEnvelope(*scene.FindChannel(target, "Detached"));
    host.Misbehave().refuseCreate = true;
    Paste({target}, PasteAt(0));
    // No envelope for the first two: nothing handed on; the third pastes.
    EXPECT_FALSE(scene.FindChannel(target, "Missing").has_value());
    ExpectKeys(KeysOf(scene, target, "Kept"), Keys{{At(2), 3}});

    host.Misbehave().refuseCreate = false;
    host.Misbehave().refuseCreateKey = true;
    Paste({target}, PasteAt(0));
    // The window was cleared, and no key could be created.
    ExpectKeys(KeysOf(scene, target, "Kept"), Keys{});
    EXPECT_TRUE(scene.FindChannel(target, "Missing").has_value());
}

}  // namespace
}  // namespace tamberlo_test
