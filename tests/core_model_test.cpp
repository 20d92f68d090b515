// The module's small rules on their own: frames of keys, names in fixed
// fields, channel groups, arrays of fixed size.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "model/channel_groups.h"
#include "model/fixed_array.h"
#include "model/frames.h"
#include "model/names.h"

namespace tamberlo {
namespace {

TEST(FrameOfTest, TruncatesTowardZeroNotToNearest) {
    // 1.16 s at 25 fps is 28.999999999999996, frame 28.
    EXPECT_EQ(FrameOf(1.16, 25.0), 28);
    EXPECT_EQ(FrameOf(4.1, 30.0), 122);
    // -0.01 s at 30 fps is -0.3: frame 0, not -1.
    EXPECT_EQ(FrameOf(-0.01, 30.0), 0);
    EXPECT_EQ(FrameOf(-0.5 / 30.0, 30.0), 0);
    EXPECT_EQ(FrameOf(-1.5 / 30.0, 30.0), -1);
    EXPECT_EQ(FrameOf(40.9 / 30.0, 30.0), 40);
}

TEST(FrameOfTest, SaturatesOutsideThe32BitRange) {
    constexpr auto lowest = std::numeric_limits<std::int32_t>::min();
    constexpr auto highest = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(FrameOf(1e12, 30.0), highest);
    EXPECT_EQ(FrameOf(-1e12, 30.0), lowest);
    EXPECT_EQ(FrameOf(std::numeric_limits<double>::infinity(), 30.0), highest);
    EXPECT_EQ(FrameOf(-std::numeric_limits<double>::infinity(), 30.0), lowest);
    EXPECT_EQ(FrameOf(2147483647.9, 1.0), highest);
    EXPECT_EQ(FrameOf(-2147483648.9, 1.0), lowest);
}

TEST(FrameOfTest, NotANumberHasNoFrameAndLiesInNoRange) {
    EXPECT_FALSE(FrameOf(std::nan(""), 30.0).has_value());
    EXPECT_FALSE(FrameOf(std::numeric_limits<double>::infinity(), 0.0).has_value());
    const FrameRange everything{std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max()};
    EXPECT_FALSE(everything.Contains(FrameOf(std::nan(""), 30.0)));
}

TEST(FrameRangeTest, IsInclusiveAndEmptyWhenReversed) {
    const FrameRange range{10, 20};
    EXPECT_TRUE(range.Contains(10));
    EXPECT_TRUE(range.Contains(20));
    EXPECT_FALSE(range.Contains(9));
    EXPECT_FALSE(range.Contains(21));
    const FrameRange reversed{10, 5};
    for (int frame = 0; frame < 30; ++frame) EXPECT_FALSE(reversed.Contains(frame));
}

std::string Field(std::span<const char> field) {
    return std::string(field.data());
}

TEST(CopyNameTest, CopiesShortNamesWhole) {
    std::array<char, 80> field;
    field.fill('x');
    CopyName(field, "Position.X");
    EXPECT_EQ(Field(field), "Position.X");
    CopyName(field, nullptr);
    EXPECT_EQ(Field(field), "");
}

TEST(CopyNameTest, TruncatesLongNamesToTheFieldWithoutWritingPastIt) {
    std::array<char, 82> guarded;
    guarded.fill('#');
    const std::string longName(200, 'a');
    CopyName(std::span<char>(guarded.data() + 1, 80), longName.c_str());
    EXPECT_EQ(guarded[0], '#');
    EXPECT_EQ(guarded[81], '#');
    EXPECT_EQ(std::string(guarded.data() + 1), std::string(79, 'a'));
}

TEST(CopyNameTest, NeverSplitsATwoByteCharacterAndALoneLeadByteIsOneByte) {
    // "ア" is 0x83 0x41 in code page 932. 98 ASCII bytes leave room for one
    // more byte in a 100-byte field: the two-byte character must not go in.
    std::string name(98, 'a');
    name += "\x83\x41";
    std::array<char, 100> field;
    CopyName(field, name.c_str());
    EXPECT_EQ(Field(field), std::string(98, 'a'));
    // 97 leave room for exactly two bytes: it goes in whole.
    name.erase(0, 1);
    CopyName(field, name.c_str());
    EXPECT_EQ(Field(field), name);
    // Single-byte katakana (0xA1..0xDF) are one byte each.
    std::string halfWidth(120, '\xb1');
    CopyName(field, halfWidth.c_str());
    EXPECT_EQ(Field(field), std::string(99, '\xb1'));
    // A lead byte that ends the name has no second byte: it is one byte.
    std::array<char, 10> small;
    CopyName(small, "abc\x83");
    EXPECT_EQ(Field(small), "abc\x83");
}

TEST(ChannelGroupTest, NamedGroupsGoByPrefixWithTheDotOthersByNoneAllByEvery) {
    EXPECT_TRUE(InChannelGroup("Position.X", ChannelGroup::Position));
    EXPECT_TRUE(InChannelGroup("Rotation.B", ChannelGroup::Rotation));
    EXPECT_TRUE(InChannelGroup("Scale.Z", ChannelGroup::Scale));
    EXPECT_FALSE(InChannelGroup("PositionX", ChannelGroup::Position));
    EXPECT_FALSE(InChannelGroup("position.X", ChannelGroup::Position));
    EXPECT_FALSE(InChannelGroup("Scale", ChannelGroup::Scale));
    EXPECT_FALSE(InChannelGroup("Scale.Z", ChannelGroup::Position));
    for (const char *named : {"Position.X", "Rotation.H", "Scale."}) {
        EXPECT_FALSE(InChannelGroup(named, ChannelGroup::Others)) << named;
        EXPECT_TRUE(InChannelGroup(named, ChannelGroup::All)) << named;
    }
    for (const char *other : {"", "Scale", "position.X", "Dissolve"}) {
        EXPECT_TRUE(InChannelGroup(other, ChannelGroup::Others)) << other;
        EXPECT_TRUE(InChannelGroup(other, ChannelGroup::All)) << other;
    }
}

TEST(FixedArrayTest, HoldsExactlyTheCountAndZeroIsEmpty) {
    FixedArray<int> none(0);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.view().size(), 0u);
    FixedArray<int> three(3);
    EXPECT_EQ(three.size(), 3u);
    for (int value : three) EXPECT_EQ(value, 0);
}

}  // namespace
}  // namespace tamberlo
