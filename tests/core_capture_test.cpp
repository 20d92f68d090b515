// What a confirmed copy leaves in the clipboard, read straight from the
// module's static library while the stand-in host plays Layout.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "entry/activation.h"
#include "model/motion_clipboard.h"
#include "standin/standin.h"
#include "tests/fixture.h"
#include "tests/labels.h"
#include "tests/scenes.h"

namespace tamberlo_test {
namespace {

using tamberlo::ClipChannel;
using tamberlo::ClipKey;

class CaptureTest : public CommandTest {
  protected:
    void SetUp() override { tamberlo::Clipboard().Release(); }
    void TearDown() override { tamberlo::Clipboard().Release(); }

    // A copy of what the scene has selected now.
    void Copy(standin::ScriptedUser::Script script) {
        CommandTest::Copy(scene.Selection(), std::move(script));
    }
    const tamberlo::ClipContent &Content() { return tamberlo::Clipboard().Content(); }
    std::vector<double> TimesOf(const ClipChannel &channel) {
        std::vector<double> times;
        for (const ClipKey &key : channel.Keys()) times.push_back(key.time);
        return times;
    }

  private:
    // Copy goes straight into the module's static library, whose clipboard
    // the suite then reads.
    int Activate(const char *server, int version) override {
        host.MakeCurrent();
        EXPECT_STREQ(server, COPY);
        return tamberlo::ActivateCopy(version, host.Global(), nullptr, nullptr);
    }
};

TEST_F(CaptureTest, KeysOnBothEndsOfTheRangeAreCapturedAndTheSpanRecorded) {
    const auto item =
        AddItem(scene, "A",
                {{"Position.X", {{At(9), 1}, {At(10), 2}, {At(15), 3}, {At(20), 4}, {At(21), 5}}}});
    scene.Select({item});
    Copy(CopyFrames(10, 20));
    ASSERT_FALSE(tamberlo::Clipboard().IsEmpty());
    EXPECT_EQ(Content().firstFrame, 10);
    EXPECT_EQ(Content().lastFrame, 20);
    EXPECT_EQ(Content().frameSpan, 10);
    ASSERT_EQ(Content().items.size(), 1u);
    const ClipChannel &channel = Content().items[0].Channels()[0];
    EXPECT_STREQ(channel.name.data(), "Position.X");
    EXPECT_EQ(TimesOf(channel), (std::vector<double>{At(10), At(15), At(20)}));
    EXPECT_EQ(channel.Keys()[0].frame, 10);
    EXPECT_EQ(channel.Keys()[2].frame, 20);
    EXPECT_EQ(channel.Keys()[1].value, 3.0);
}

TEST_F(CaptureTest, FramesAreTruncatedTowardZero) {
    scene.SetFramesPerSecond(25.0);
    const auto item = AddItem(scene, "A", {{"Position.X", {{1.16, 1}, {1.2, 2}}}});
    scene.Select({item});
    Copy(CopyFrames(29, 30));
    // 1.16 s at 25 fps is frame 28: out of a range starting at 29.
    EXPECT_EQ(TimesOf(Content().items[0].Channels()[0]), std::vector<double>{1.2});

    scene.SetFramesPerSecond(30.0);
    const auto early = AddItem(scene, "B", {{"Position.X", {{-0.01, 1}, {-0.04, 2}}}});
    scene.Select({early});
    Copy(CopyFrames(0, 0));
    // -0.01 s is frame 0 (not -1); -0.04 s is -1.2, frame -1.
    EXPECT_EQ(TimesOf(Content().items[0].Channels()[0]), std::vector<double>{-0.01});
}

TEST_F(CaptureTest, ItemsStandInReverseSelectionOrder) {
    const auto a = AddItem(scene, "A", {{"A.chan", {{At(1), 1}}}});
    const auto b = AddItem(scene, "B", {{"B.chan", {{At(1), 2}}}});
    scene.Select({a, b});
    Copy(CopyFrames(0, 60));
    ASSERT_EQ(Content().items.size(), 2u);
    EXPECT_STREQ(Content().items[0].Channels()[0].name.data(), "B.chan");
    EXPECT_STREQ(Content().items[1].Channels()[0].name.data(), "A.chan");
}

TEST_F(CaptureTest, DisabledChannelsAreLeftOutAndTheRestPacked) {
    std::vector<SceneChannel> channels;
    for (int i = 0; i < 9; ++i)
        channels.push_back({"chan" + std::to_string(i), {{At(i), 1.0 * i}}, i});
    scene.Select({AddItem(scene, "A", channels)});
    Copy([](standin::PanelSession &panel) {
        panel.Pick(labels::ITEM, 0);
        panel.Choose(labels::SWITCH_ALL, 4);  // all enabled: all off
        for (int row : {3, 5}) {
            panel.Pick(labels::CHANNEL, row);
            panel.SetBool(labels::ENABLED, true);
        }
        return standin::PanelOutcome::Confirm;
    });
    const auto kept = Content().items[0].Channels();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_STREQ(kept[0].name.data(), "chan3");
    EXPECT_EQ(kept[0].channelType, 3);
    EXPECT_STREQ(kept[1].name.data(), "chan5");
    EXPECT_EQ(kept[1].Keys()[0].value, 5.0);
}

TEST_F(CaptureTest, EveryParameterAndTheEnvelopeAttributesAreKeptByteForByte) {
    const auto item = scene.AddItem("A");
    const auto channel = scene.AddChannel(item, "Rotation.H", 7);
    const auto first = scene.AddKey(channel, At(2), 0.25);
    const auto second = scene.AddKey(channel, At(3), -4.5);
    for (int tag = 2; tag <= 9; ++tag) {
        host::KeySlot slot;
        for (int b = 0; b < 8; ++b) slot[b] = static_cast<unsigned char>(tag * 16 + b);
        scene.SetKeyParameter(first, tag, slot);
        slot[7] = 0xFF;  // a NaN pattern for the doubles among them
        scene.SetKeyParameter(second, tag, slot);
    }
    const auto envelope = scene.Channels(item)[0].envelope;
    scene.SetAttribute(envelope, 0, 11);
    scene.SetAttribute(envelope, 1, -22);
    scene.SetAttribute(envelope, 2, 33);
    scene.Select({item});
    Copy(CopyFrames(0, 10));

    const ClipChannel &copied = Content().items[0].Channels()[0];
    EXPECT_EQ(copied.channelType, 7);
    ASSERT_EQ(copied.Keys().size(), 2u);
    const auto keys = scene.Keys(envelope);
    for (std::size_t k = 0; k < 2; ++k) {
        const ClipKey &key = copied.Keys()[k];
        EXPECT_EQ(key.value, keys[k].value);
        EXPECT_EQ(key.time, keys[k].time);
        for (int p = 0; p < 8; ++p)
            EXPECT_EQ(0, std::memcmp(key.parameters[p].data(), keys[k].parameters[p].data(), 8));
        EXPECT_EQ(key.attributes, (std::array<std::int32_t, 3>{11, -22, 33}));
    }
}

TEST_F(CaptureTest, AReversedRangeKeepsTheChannelsWithoutKeysAndANegativeSpan) {
    scene.Select({AddItem(scene, "A", {{"Position.X", {{At(7), 1}}}, {"Position.Y", {}}})});
    Copy(CopyFrames(0, 60));
    Copy(CopyFrames(10, 5));
    EXPECT_EQ(Content().frameSpan, -5);
    const auto channels = Content().items[0].Channels();
    ASSERT_EQ(channels.size(), 2u);
    for (const ClipChannel &channel : channels) {
        EXPECT_EQ(channel.keyCount, 0);
        EXPECT_EQ(channel.keyArray.data(), nullptr);
    }
}

TEST_F(CaptureTest, TheWidestRangeTakesEveryKeyAndItsSpanDoesNotOverflow) {
    constexpr int lowest = std::numeric_limits<int>::min();
    constexpr int highest = std::numeric_limits<int>::max();
    scene.Select({AddItem(scene, "A", {{"X", {{-1e12, 1}, {0, 2}, {1e12, 3}}}})});
    Copy(CopyFrames(lowest, highest));
    EXPECT_EQ(Content().frameSpan, 4294967295LL);
    EXPECT_EQ(Content().items[0].Channels()[0].keyCount, 3);
    Copy(CopyFrames(highest, lowest));
    EXPECT_EQ(Content().frameSpan, -4294967295LL);
}

TEST_F(CaptureTest, CancelLeavesTheEarlierCopyAsItWas) {
    scene.Select({AddItem(scene, "A", {{"X", {{At(1), 1}, {At(2), 2}}}})});
    Copy(CopyFrames(0, 1));
    Copy([](standin::PanelSession &panel) {
        panel.Type(labels::START_FRAME, 2);
        panel.Pick(labels::ITEM, 0);
        panel.Flip(labels::ENABLED);
        return standin::PanelOutcome::Cancel;
    });
    EXPECT_EQ(Content().firstFrame, 0);
    EXPECT_EQ(Content().lastFrame, 1);
    EXPECT_EQ(TimesOf(Content().items[0].Channels()[0]), std::vector<double>{At(1)});
}

TEST_F(CaptureTest, ARefusedCopyLeavesTheClipboardAsItWas) {
    Copy(CopyFrames(0, 10));  // nothing selected: refused
    EXPECT_TRUE(tamberlo::Clipboard().IsEmpty());
    scene.Select({AddItem(scene, "A", {{"X", {{At(1), 1}}}})});
    Copy(CopyFrames(0, 10));
    scene.Select({});
    Copy(CopyFrames(5, 6));
    EXPECT_EQ(Content().firstFrame, 0);
    EXPECT_EQ(Content().items[0].Channels()[0].keyCount, 1);
    EXPECT_EQ(host.Errors().size(), 2u);
}

TEST_F(CaptureTest, ASecondCopyReplacesTheFirstWhole) {
    const auto a = AddItem(scene, "A", {{"X", {{At(1), 1}}}, {"Y", {{At(1), 1}}}});
    const auto b = AddItem(scene, "B", {{"Z", {{At(4), 4}}}});
    scene.Select({a, b});
    Copy(CopyFrames(0, 10));
    scene.Select({b});
    Copy(CopyFrames(3, 5));
    ASSERT_EQ(Content().items.size(), 1u);
    EXPECT_EQ(Content().firstFrame, 3);
    EXPECT_STREQ(Content().items[0].Channels()[0].name.data(), "Z");
    EXPECT_EQ(Content().items[0].Channels().size(), 1u);
}

TEST_F(CaptureTest, NamesLongerThanTheFieldsAreCutToFit) {
    const std::string longName(300, 'n');
    scene.Select({AddItem(scene, std::string(300, 'i'), {{longName, {{At(1), 1}}}})});
    Copy(CopyFrames(0, 10));
    EXPECT_EQ(std::string(Content().items[0].Channels()[0].name.data()), std::string(79, 'n'));
}

TEST_F(CaptureTest, AHostThatYieldsMoreKeysOnTheSecondWalkCannotOverfillTheArray) {
    scene.Select({AddItem(scene, "A", {{"X", {{At(1), 1}, {At(2), 2}, {At(3), 3}}}})});
    scene.Misbehave().secondWalkDrift = 3;
    Copy(CopyFrames(0, 10));
    const ClipChannel &channel = Content().items[0].Channels()[0];
    EXPECT_LE(static_cast<std::size_t>(channel.keyCount), channel.keyArray.size());
    EXPECT_EQ(channel.Keys().size(), static_cast<std::size_t>(channel.keyCount));
}

TEST_F(CaptureTest, AHostThatYieldsFewerMembersOnTheSecondWalkLeavesTheCountsTrue) {
    // The second walk over the channel group (filling the table) and over
    // each envelope (capturing) ends one member early.
    scene.Select({AddItem(scene, "A", {{"X", {{At(1), 1}, {At(2), 2}, {At(3), 3}}}, {"Y", {}}})});
    scene.Misbehave().secondWalkDrift = -1;
    Copy(CopyFrames(0, 10));
    const auto channels = Content().items[0].Channels();
    ASSERT_EQ(channels.size(), 1u);
    const ClipChannel &channel = channels[0];
    EXPECT_EQ(channel.keyCount, 2);
    EXPECT_EQ(channel.Keys()[0].time, At(1));
    EXPECT_EQ(channel.Keys()[1].time, At(2));
}

}  // namespace
}  // namespace tamberlo_test
