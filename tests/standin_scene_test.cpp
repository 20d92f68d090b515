// The stand-in host's scene: key order and identity, walks over keys, key
// parameters, selection and timing, as a module sees them through the
// services and as tests build them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "standin/standin.h"
#include "tests/breach_capture.h"
#include "tests/scenes.h"

namespace {

template <typename Service>
Service *LookUp(const standin::Host &host, const char *name) {
    return static_cast<Service *>(host.Global()(name, host::GFUSE_TRANSIENT));
}

class SceneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        envelopes = LookUp<host::EnvelopeFuncs>(host, host::ENVELOPE_FUNCS_NAME);
        ASSERT_NE(envelopes, nullptr);
        item = scene.AddItem("Cube");
        channel = scene.AddChannel(item, "Position.X");
        envelope = scene.Channels(item).at(0).envelope;
        ASSERT_NE(envelope, nullptr);
    }

    double Time(host::KeyId key) {
        double time = std::numeric_limits<double>::quiet_NaN();
        EXPECT_EQ(envelopes->keyGet(envelope, key, host::LWKEY_TIME, &time), 1);
        return time;
    }

    double Value(host::KeyId key) {
        double value = std::numeric_limits<double>::quiet_NaN();
        EXPECT_EQ(envelopes->keyGet(envelope, key, host::LWKEY_VALUE, &value), 1);
        return value;
    }

    // Every key a module meets walking the envelope from the start.
    std::vector<host::KeyId> Walk() {
        return tamberlo_test::WalkAll<host::KeyId>(
            [&](host::KeyId previous) { return envelopes->nextKey(envelope, previous); }, 1000);
    }

    std::vector<double> WalkedTimes() {
        std::vector<double> times;
        for (host::KeyId key : Walk()) times.push_back(Time(key));
        return times;
    }

    static host::KeySlot SlotOf(std::uint64_t bits) {
        host::KeySlot slot;
        std::memcpy(slot.data(), &bits, sizeof bits);
        return slot;
    }

    standin::Host host;
    standin::Scene &scene = host.Scene();
    host::EnvelopeFuncs *envelopes = nullptr;
    host::ItemId item = nullptr;
    host::ChannelId channel = nullptr;
    host::EnvelopeId envelope = nullptr;
};

// ---------------------------------------------------------------------------
// Key order and walks.

TEST_F(SceneTest, KeysStayInTimeOrderWhateverTheInsertionOrder) {
    const std::vector<double> inserted = {3.0, -1.5, 0.25, 10.0, -7.0, 0.125, 2.0, -0.5};
    for (double time : inserted)
        ASSERT_NE(envelopes->createKey(envelope, time, time * 10), nullptr);

    std::vector<double> sorted = inserted;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<standin::KeyState> keys = scene.Keys(envelope);
    ASSERT_EQ(keys.size(), sorted.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].time, sorted[i]);
        EXPECT_EQ(keys[i].value, sorted[i] * 10) << "value parted from its key's time";
    }
}

TEST_F(SceneTest, WalkFromNullVisitsEveryKeyInTimeOrderThenEnds) {
    for (double time : {4.0, 1.0, 3.0, 2.0}) envelopes->createKey(envelope, time, 0.0);
    EXPECT_EQ(WalkedTimes(), (std::vector<double>{1.0, 2.0, 3.0, 4.0}));

    const std::vector<host::KeyId> walked = Walk();
    ASSERT_EQ(walked.size(), 4u);
    EXPECT_EQ(envelopes->nextKey(envelope, walked.back()), nullptr);
}

TEST_F(SceneTest, WalkOverAnEmptyEnvelopeEndsAtOnce) {
    EXPECT_EQ(envelopes->nextKey(envelope, nullptr), nullptr);
}

TEST_F(SceneTest, WalkNeverCrossesIntoAnotherEnvelope) {
    const host::ChannelId other = scene.AddChannel(item, "Position.Y");
    const host::KeyId foreign = scene.AddKey(other, 1.0, 0.0);
    envelopes->createKey(envelope, 0.0, 0.0);
    envelopes->createKey(envelope, 2.0, 0.0);
    {
        tamberlo_test::BreachCapture breaches;
        EXPECT_EQ(envelopes->nextKey(envelope, foreign), nullptr);
        EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KeyOfTheEnvelope));
    }
    EXPECT_EQ(WalkedTimes(), (std::vector<double>{0.0, 2.0}));
}

TEST_F(SceneTest, DestroyingKeysDuringAWalkKeepsTheWalkRight) {
    for (int i = 0; i < 10; ++i) envelopes->createKey(envelope, i, i);
    // Destroy every key with an odd time, fetching the successor first as a
    // module that cleans up while walking does.
    int visited = 0;
    for (host::KeyId key = envelopes->nextKey(envelope, nullptr); key != nullptr; ++visited) {
        const host::KeyId next = envelopes->nextKey(envelope, key);
        if (static_cast<int>(Time(key)) % 2 == 1) envelopes->destroyKey(envelope, key);
        key = next;
    }
    EXPECT_EQ(visited, 10);
    EXPECT_EQ(WalkedTimes(), (std::vector<double>{0, 2, 4, 6, 8}));
    EXPECT_EQ(scene.KeyCount(envelope), 5u);
    EXPECT_EQ(scene.TotalKeyCount(), 5u);
}

TEST_F(SceneTest, DestroyingTheFirstAndLastKeysMovesTheWalksEnds) {
    const host::KeyId first = envelopes->createKey(envelope, 1.0, 0.0);
    envelopes->createKey(envelope, 2.0, 0.0);
    const host::KeyId last = envelopes->createKey(envelope, 3.0, 0.0);
    envelopes->destroyKey(envelope, first);
    envelopes->destroyKey(envelope, last);
    EXPECT_EQ(WalkedTimes(), (std::vector<double>{2.0}));
    // A destroyed key is no longer a place to walk from, and using it is a
    // breach of its own kind.
    tamberlo_test::BreachCapture breaches;
    EXPECT_EQ(envelopes->nextKey(envelope, first), nullptr);
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::NoDestroyedKey));
}

TEST_F(SceneTest, DestroyKeyIgnoresAKeyOfAnotherEnvelope) {
    const host::ChannelId other = scene.AddChannel(item, "Position.Y");
    const host::KeyId foreign = scene.AddKey(other, 1.0, 0.0);
    tamberlo_test::BreachCapture breaches;
    envelopes->destroyKey(envelope, foreign);
    envelopes->destroyKey(envelope, nullptr);
    EXPECT_EQ(scene.TotalKeyCount(), 1u);
    EXPECT_EQ(breaches.Caught().size(), 2u);
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KeyOfTheEnvelope));
}

// ---------------------------------------------------------------------------
// Key identity and times.

TEST_F(SceneTest, CreatingAKeyAtAnExistingTimeReplacesItsValueAndKeepsItsIdentity) {
    const host::KeyId original = envelopes->createKey(envelope, 1.5, 5.0);
    std::uint64_t tension = 0x1122334455667788u;
    ASSERT_EQ(envelopes->keySet(envelope, original, host::LWKEY_TENSION, &tension), 1);

    const host::KeyId again = envelopes->createKey(envelope, 1.5, 7.0);
    EXPECT_EQ(again, original);
    EXPECT_EQ(scene.KeyCount(envelope), 1u);
    EXPECT_EQ(Value(original), 7.0);
    std::uint64_t kept = 0;
    envelopes->keyGet(envelope, original, host::LWKEY_TENSION, &kept);
    EXPECT_EQ(kept, tension);
}

TEST_F(SceneTest, SceneAddKeyAtAnExistingTimeAlsoKeepsTheKey) {
    const host::KeyId original = scene.AddKey(channel, 2.0, 1.0);
    EXPECT_EQ(scene.AddKey(channel, 2.0, 3.0), original);
    ASSERT_EQ(scene.KeyCount(envelope), 1u);
    EXPECT_EQ(scene.Keys(envelope)[0].value, 3.0);
}

TEST_F(SceneTest, RemovingAKeyLeavesItsHandleStale) {
    const host::KeyId first = scene.AddKey(channel, 1.0, 10.0);
    scene.AddKey(channel, 2.0, 20.0);
    const std::uint64_t edits = scene.EnvelopeEdits(envelope);
    scene.RemoveKey(first);
    ASSERT_EQ(scene.KeyCount(envelope), 1u);
    EXPECT_EQ(scene.Keys(envelope)[0].time, 2.0);
    EXPECT_GT(scene.EnvelopeEdits(envelope), edits);
    EXPECT_THROW(scene.RemoveKey(first), std::invalid_argument);
}

TEST_F(SceneTest, CreateKeyRefusesTimesThatAreNotFinite) {
    for (double time :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(envelopes->createKey(envelope, time, 1.0), nullptr) << time;
    }
    EXPECT_EQ(scene.KeyCount(envelope), 0u);
    EXPECT_THROW(scene.AddKey(channel, std::nan(""), 0.0), std::invalid_argument);
}

TEST_F(SceneTest, SettingATimeMovesTheKeyToItsPlaceInOrder) {
    const host::KeyId one = envelopes->createKey(envelope, 1.0, 10.0);
    const host::KeyId two = envelopes->createKey(envelope, 2.0, 20.0);
    const host::KeyId three = envelopes->createKey(envelope, 3.0, 30.0);

    double later = 2.5;
    ASSERT_EQ(envelopes->keySet(envelope, one, host::LWKEY_TIME, &later), 1);
    EXPECT_EQ(Walk(), (std::vector<host::KeyId>{two, one, three}));
    EXPECT_EQ(Time(one), 2.5);
    EXPECT_EQ(Value(one), 10.0);

    double earliest = -4.0;
    ASSERT_EQ(envelopes->keySet(envelope, three, host::LWKEY_TIME, &earliest), 1);
    EXPECT_EQ(Walk(), (std::vector<host::KeyId>{three, two, one}));
}

TEST_F(SceneTest, SettingATimeRefusesAnOccupiedTimeAndTimesThatAreNotFinite) {
    const host::KeyId one = envelopes->createKey(envelope, 1.0, 10.0);
    const host::KeyId two = envelopes->createKey(envelope, 2.0, 20.0);
    for (double refused :
         {2.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(envelopes->keySet(envelope, one, host::LWKEY_TIME, &refused), 0) << refused;
    }
    EXPECT_EQ(Time(one), 1.0);
    EXPECT_EQ(Time(two), 2.0);
    EXPECT_EQ(Value(two), 20.0);
    EXPECT_EQ(Walk(), (std::vector<host::KeyId>{one, two}));

    double same = 1.0;
    EXPECT_EQ(envelopes->keySet(envelope, one, host::LWKEY_TIME, &same), 1);
}

TEST_F(SceneTest, ValueTravelsAsADoubleBothWays) {
    const host::KeyId key = envelopes->createKey(envelope, 0.0, 1.0);
    double value = -123.456;
    ASSERT_EQ(envelopes->keySet(envelope, key, host::LWKEY_VALUE, &value), 1);
    EXPECT_EQ(Value(key), -123.456);
    EXPECT_EQ(scene.Keys(envelope)[0].value, -123.456);
}

// ---------------------------------------------------------------------------
// Key parameters.

TEST_F(SceneTest, ParametersTwoToNineRoundTripTheirExactBytes) {
    const host::KeyId key = envelopes->createKey(envelope, 0.0, 0.0);
    // Bit patterns a double conversion would not keep: a signalling NaN, a
    // NaN with payload, negative zero, a denormal, and plain integers.
    const std::uint64_t patterns[] = {
        0x7FF0000000000001u, 0xFFF8DEADBEEF0001u, 0x8000000000000000u, 0x0000000000000001u,
        0x0102030405060708u, 0xFFFFFFFFFFFFFFFFu, 0x00000000000000FFu, 0x7FF4000000000000u,
    };
    for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag) {
        std::uint64_t bits = patterns[tag - host::LWKEY_SHAPE];
        ASSERT_EQ(envelopes->keySet(envelope, key, tag, &bits), 1) << "tag " << tag;
    }
    for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag) {
        unsigned char read[host::KEY_SLOT_BYTES];
        std::memset(read, 0xCC, sizeof read);
        ASSERT_EQ(envelopes->keyGet(envelope, key, tag, read), 1) << "tag " << tag;
        EXPECT_EQ(std::memcmp(read, &patterns[tag - host::LWKEY_SHAPE], sizeof read), 0)
            << "tag " << tag;
        EXPECT_EQ(scene.Keys(envelope)[0].parameters[tag - host::LWKEY_SHAPE],
                  SlotOf(patterns[tag - host::LWKEY_SHAPE]));
    }
}

TEST_F(SceneTest, ParametersSetByTheSceneAreWhatTheModuleReads) {
    const host::KeyId key = scene.AddKey(channel, 1.0, 0.0);
    scene.SetKeyParameter(key, host::LWKEY_PARAM_3, SlotOf(0xA1B2C3D4E5F60718u));
    std::uint64_t read = 0;
    ASSERT_EQ(envelopes->keyGet(envelope, key, host::LWKEY_PARAM_3, &read), 1);
    EXPECT_EQ(read, 0xA1B2C3D4E5F60718u);
    EXPECT_THROW(scene.SetKeyParameter(key, host::LWKEY_TIME, host::KeySlot{}), std::out_of_range);
    EXPECT_THROW(scene.SetKeyParameter(key, host::KEY_PARAMETER_COUNT, host::KeySlot{}),
                 std::out_of_range);
}

TEST_F(SceneTest, TagsOutsideTheKeysParametersWriteNothingAndReturnZero) {
    const host::KeyId key = envelopes->createKey(envelope, 1.0, 2.0);
    for (int tag : {-1, host::KEY_PARAMETER_COUNT, 99}) {
        unsigned char slot[16];
        std::memset(slot, 0xAB, sizeof slot);
        EXPECT_EQ(envelopes->keyGet(envelope, key, tag, slot), 0) << tag;
        EXPECT_TRUE(std::all_of(std::begin(slot), std::end(slot),
                                [](unsigned char byte) { return byte == 0xAB; }))
            << "keyGet wrote for tag " << tag;
        EXPECT_EQ(envelopes->keySet(envelope, key, tag, slot), 0) << tag;
    }
    EXPECT_EQ(Value(key), 2.0);
    EXPECT_EQ(Time(key), 1.0);
}

TEST_F(SceneTest, KeyServicesIgnoreKeysTheyDoNotKnow) {
    const host::ChannelId other = scene.AddChannel(item, "Position.Y");
    const host::KeyId foreign = scene.AddKey(other, 1.0, 5.0);
    tamberlo_test::BreachCapture breaches;
    double slot = 0.0;
    EXPECT_EQ(envelopes->keyGet(envelope, foreign, host::LWKEY_VALUE, &slot), 0);
    EXPECT_EQ(envelopes->keySet(envelope, foreign, host::LWKEY_VALUE, &slot), 0);
    EXPECT_EQ(envelopes->keyGet(envelope, nullptr, host::LWKEY_VALUE, &slot), 0);
    const host::KeyId own = envelopes->createKey(envelope, 1.0, 5.0);
    EXPECT_EQ(envelopes->keyGet(envelope, own, host::LWKEY_VALUE, nullptr), 0);
    EXPECT_EQ(envelopes->createKey(nullptr, 1.0, 5.0), nullptr);
    EXPECT_EQ(envelopes->nextKey(nullptr, nullptr), nullptr);
    EXPECT_EQ(scene.Keys(scene.Channels(item)[1].envelope)[0].value, 5.0);
    EXPECT_EQ(breaches.Caught().size(), 5u) << "the null slot is the host's to ignore";
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KeyOfTheEnvelope));
}

// ---------------------------------------------------------------------------
// Scale.

TEST_F(SceneTest, AMillionKeysAreCreatedInScrambledOrderAndWalkedInOrder) {
    constexpr int COUNT = 1'000'000;
    constexpr int STRIDE = 7919;  // prime, so i * STRIDE visits every residue once
    for (int i = 0; i < COUNT; ++i) {
        const int slot = static_cast<int>((static_cast<long long>(i) * STRIDE) % COUNT);
        ASSERT_NE(envelopes->createKey(envelope, slot * 0.5, slot), nullptr);
    }
    ASSERT_EQ(scene.KeyCount(envelope), static_cast<std::size_t>(COUNT));

    int walked = 0;
    double previousTime = -1.0;
    for (host::KeyId key = envelopes->nextKey(envelope, nullptr); key != nullptr;
         key = envelopes->nextKey(envelope, key)) {
        double time = 0.0;
        envelopes->keyGet(envelope, key, host::LWKEY_TIME, &time);
        ASSERT_GT(time, previousTime);
        previousTime = time;
        ++walked;
    }
    EXPECT_EQ(walked, COUNT);

    for (host::KeyId key = envelopes->nextKey(envelope, nullptr); key != nullptr;) {
        const host::KeyId next = envelopes->nextKey(envelope, key);
        envelopes->destroyKey(envelope, key);
        key = next;
    }
    EXPECT_EQ(scene.TotalKeyCount(), 0u);
}

// Long runs of creates and destroys, in and out of time order, and moves,
// checked against an ordered map after every step: the walk, each key's value,
// and that every destroyed handle reads as stale, never as another key.
TEST_F(SceneTest, ManyRandomEditsKeepTheEnvelopeEqualToAnOrderedMap) {
    std::map<double, std::pair<host::KeyId, double>> expected;
    std::vector<host::KeyId> destroyed;
    std::mt19937 random(7);
    const auto check = [&] {
        std::vector<double> times;
        for (const auto &[time, key] : expected) times.push_back(time);
        std::vector<double> walked;
        for (host::KeyId key = envelopes->nextKey(envelope, nullptr); key != nullptr;
             key = envelopes->nextKey(envelope, key))
            walked.push_back(Time(key));
        ASSERT_EQ(walked, times);
        for (const auto &[time, key] : expected) ASSERT_EQ(Value(key.first), key.second);
        tamberlo_test::BreachCapture breaches;
        double slot = 0.0;
        for (host::KeyId key : destroyed)
            ASSERT_EQ(envelopes->keyGet(envelope, key, host::LWKEY_VALUE, &slot), 0);
        ASSERT_TRUE(destroyed.empty() || breaches.OnlyBroke(standin::Rule::NoDestroyedKey));
    };
    for (int round = 0; round < 40; ++round) {
        // A run in time order (as paste creates), then scattered creates,
        // then a cleared window (as paste clears), then a few moves.
        const double start = static_cast<double>(random() % 2000);
        for (int i = 0; i < 300; ++i) {
            const double time = start + i * 0.25;
            const host::KeyId key = envelopes->createKey(envelope, time, round + i);
            expected[time] = {key, round + i};
        }
        for (int i = 0; i < 100; ++i) {
            const double time = static_cast<double>(random() % 8000) / 4;
            expected[time] = {envelopes->createKey(envelope, time, -i), -i};
        }
        const double from = static_cast<double>(random() % 2000);
        for (auto it = expected.lower_bound(from); it != expected.end() && it->first < from + 60;) {
            envelopes->destroyKey(envelope, it->second.first);
            destroyed.push_back(it->second.first);
            it = expected.erase(it);
        }
        for (int i = 0; i < 5 && !expected.empty(); ++i) {
            auto it = expected.begin();
            std::advance(it, random() % expected.size());
            const double to = 3000.0 + round * 10 + i;
            double slot = to;
            ASSERT_EQ(envelopes->keySet(envelope, it->second.first, host::LWKEY_TIME, &slot), 1);
            expected[to] = it->second;
            expected.erase(it);
        }
        check();
    }
    EXPECT_EQ(scene.KeyCount(envelope), expected.size());
}

// ---------------------------------------------------------------------------
// Items, envelopes, selection and timing.

TEST_F(SceneTest, EveryItemHasItsOwnChannelGroupAndName) {
    const host::ItemId other = scene.AddItem("Light");
    auto *items = LookUp<host::ItemInfo>(host, host::ITEM_INFO_NAME);
    ASSERT_NE(items, nullptr);
    EXPECT_STREQ(items->name(other), "Light");
    EXPECT_STREQ(items->name(item), "Cube");
    EXPECT_NE(items->chanGroup(other), items->chanGroup(item));
    EXPECT_EQ(items->chanGroup(item), scene.GroupOf(item));
    {
        tamberlo_test::BreachCapture breaches;
        EXPECT_EQ(items->name(nullptr), nullptr);
        EXPECT_EQ(items->chanGroup(nullptr), nullptr);
        EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KnownIdentifier));
    }
    EXPECT_EQ(scene.FindItem("Light"), other);
    EXPECT_EQ(scene.FindItem("Camera"), std::nullopt);
    EXPECT_EQ(scene.FindChannel(item, "Position.X"), channel);
    EXPECT_EQ(scene.FindChannel(other, "Position.X"), std::nullopt);
}

TEST_F(SceneTest, EnvelopeAttributesBelongToOneEnvelope) {
    scene.AddChannel(item, "Position.Y");
    const host::EnvelopeId otherEnvelope = scene.Channels(item)[1].envelope;
    scene.SetAttribute(envelope, 0, 1);
    scene.SetAttribute(envelope, 2, 3);
    EXPECT_EQ(scene.Attribute(envelope, 0), 1);
    EXPECT_EQ(scene.Attribute(envelope, 1), 0);
    EXPECT_EQ(scene.Attribute(envelope, 2), 3);
    EXPECT_EQ(scene.Attribute(otherEnvelope, 0), 0);
    EXPECT_EQ(scene.Attribute(otherEnvelope, 2), 0);
    EXPECT_THROW(scene.SetAttribute(envelope, 3, 0), std::out_of_range);
    EXPECT_THROW(scene.Attribute(envelope, -1), std::out_of_range);
}

TEST_F(SceneTest, NamingSomethingTheSceneLacksIsAnError) {
    const auto bogusItem = reinterpret_cast<host::ItemId>(std::uintptr_t{999'999});
    EXPECT_THROW(scene.AddChannel(bogusItem, "X"), std::invalid_argument);
    EXPECT_THROW(scene.ItemName(bogusItem), std::invalid_argument);
    // An item id is not a channel id, even though both are serials.
    EXPECT_THROW(scene.AddKey(reinterpret_cast<host::ChannelId>(item), 0.0, 0.0),
                 std::invalid_argument);
}

TEST_F(SceneTest, ADetachedChannelTakesNoKeys) {
    scene.DetachEnvelope(channel);
    EXPECT_EQ(scene.Channels(item)[0].envelope, nullptr);
    EXPECT_THROW(scene.AddKey(channel, 0.0, 0.0), std::invalid_argument);
}

TEST_F(SceneTest, SelectionListIsNullTerminatedAndFollowsEveryChange) {
    auto *interface = LookUp<host::InterfaceInfo>(host, host::INTERFACE_INFO_NAME);
    ASSERT_NE(interface, nullptr);
    ASSERT_NE(interface->selItems, nullptr);
    EXPECT_EQ(interface->selItems[0], nullptr) << "nothing is selected at first";

    const host::ItemId light = scene.AddItem("Light");
    const host::ItemId camera = scene.AddItem("Camera");
    scene.Select({light, item, camera});
    EXPECT_EQ(interface->selItems[0], light);
    EXPECT_EQ(interface->selItems[1], item);
    EXPECT_EQ(interface->selItems[2], camera);
    EXPECT_EQ(interface->selItems[3], nullptr);
    EXPECT_EQ(scene.Selection(), (std::vector<host::ItemId>{light, item, camera}));

    scene.Select({camera});
    EXPECT_EQ(interface->selItems[0], camera);
    EXPECT_EQ(interface->selItems[1], nullptr);

    scene.Select({});
    EXPECT_EQ(interface->selItems[0], nullptr);
    EXPECT_THROW(scene.Select({item, nullptr}), std::invalid_argument);
}

TEST_F(SceneTest, SceneInfoHasDefaultTimingAndFollowsChanges) {
    auto *info = LookUp<host::SceneInfo>(host, host::SCENE_INFO_NAME);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->frameStart, 0);
    EXPECT_EQ(info->frameEnd, 60);
    EXPECT_EQ(info->framesPerSecond, 30.0);

    scene.SetFrames(-10, 240);
    scene.SetFramesPerSecond(23.976);
    EXPECT_EQ(info->frameStart, -10);
    EXPECT_EQ(info->frameEnd, 240);
    EXPECT_EQ(info->framesPerSecond, 23.976);
    EXPECT_EQ(scene.FrameStart(), -10);
    EXPECT_EQ(scene.FrameEnd(), 240);
    EXPECT_EQ(scene.FramesPerSecond(), 23.976);
}

}  // namespace
