// The stand-in host's services as a module calls them: the global lookup,
// channels, envelope attributes, messages, the trace of calls, and the
// misbehaviour a test can ask of the host.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "standin/standin.h"
#include "tests/breach_capture.h"
#include "tests/scenes.h"

namespace {

const char *const SERVICE_NAMES[] = {
    host::ITEM_INFO_NAME,     host::INTERFACE_INFO_NAME, host::PANEL_SERVICES_NAME,
    host::SCENE_INFO_NAME,    host::CHANNEL_INFO_NAME,   host::ENVELOPE_FUNCS_NAME,
    host::MESSAGE_FUNCS_NAME,
};

// "アイテム" and "エラー" in CP932.
constexpr const char *ITEM_CP932 = "\x83\x41\x83\x43\x83\x65\x83\x80";
constexpr const char *ERROR_CP932 = "\x83\x47\x83\x89\x81\x5B";

class ServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        items = LookUp<host::ItemInfo>(host::ITEM_INFO_NAME);
        channels = LookUp<host::ChannelInfo>(host::CHANNEL_INFO_NAME);
        envelopes = LookUp<host::EnvelopeFuncs>(host::ENVELOPE_FUNCS_NAME);
        messages = LookUp<host::MessageFuncs>(host::MESSAGE_FUNCS_NAME);
        ASSERT_TRUE(items && channels && envelopes && messages);
        item = host.Scene().AddItem("Cube");
        group = host.Scene().GroupOf(item);
    }

    // The attribute calls take a key where they declare a channel group.
    static host::ChannelGroupId KeyAsGroup(host::KeyId key) {
        return reinterpret_cast<host::ChannelGroupId>(key);
    }

    template <typename Service>
    Service *LookUp(const char *name) {
        return static_cast<Service *>(host.Global()(name, host::GFUSE_TRANSIENT));
    }

    std::vector<host::ChannelId> WalkChannels() {
        return tamberlo_test::WalkAll<host::ChannelId>(
            [&](host::ChannelId previous) { return channels->nextChannel(group, previous); }, 100);
    }

    std::vector<host::KeyId> WalkKeys(host::EnvelopeId envelope) {
        return tamberlo_test::WalkAll<host::KeyId>(
            [&](host::KeyId previous) { return envelopes->nextKey(envelope, previous); }, 100);
    }

    std::vector<std::pair<std::string, std::string>> Calls() const {
        std::vector<std::pair<std::string, std::string>> calls;
        for (const standin::TraceEntry &entry : host.Trace())
            calls.emplace_back(entry.service, entry.operation);
        return calls;
    }

    standin::Host host;
    host::ItemInfo *items = nullptr;
    host::ChannelInfo *channels = nullptr;
    host::EnvelopeFuncs *envelopes = nullptr;
    host::MessageFuncs *messages = nullptr;
    host::ItemId item = nullptr;
    host::ChannelGroupId group = nullptr;
};

// ---------------------------------------------------------------------------
// The global lookup.

TEST_F(ServicesTest, GlobalFindsEachOfTheSevenServicesByExactName) {
    std::set<void *> tables;
    for (const char *name : SERVICE_NAMES) {
        void *table = host.Global()(name, host::GFUSE_TRANSIENT);
        EXPECT_NE(table, nullptr) << name;
        tables.insert(table);
    }
    EXPECT_EQ(tables.size(), 7u) << "two names gave the same table";
}

TEST_F(ServicesTest, GlobalGivesNullForNamesThatDifferInAnyWay) {
    for (const char *name : {"lw item info 3", "LW ITEM INFO 3", "LW Item Info", "LW Item Info 3 ",
                             " LW Item Info 3", "LW Item Info 2", "Channel Info", "", "Unknown"}) {
        EXPECT_EQ(host.Global()(name, host::GFUSE_TRANSIENT), nullptr) << '"' << name << '"';
    }
    EXPECT_EQ(host.Global()(nullptr, host::GFUSE_TRANSIENT), nullptr);
}

TEST_F(ServicesTest, PanelServicesCarryTheSameGlobalLookup) {
    auto *panels = LookUp<host::PanelFuncs>(host::PANEL_SERVICES_NAME);
    ASSERT_NE(panels, nullptr);
    EXPECT_EQ(panels->globalFun, host.Global());
}

TEST(HostCurrencyTest, ServicesServeTheCurrentHostAndNothingWithoutOne) {
    host::GlobalFunc global = nullptr;
    {
        standin::Host first;
        first.Scene().AddItem("First");
        first.Scene().Select({*first.Scene().FindItem("First")});
        standin::Host second;
        EXPECT_EQ(standin::Host::Current(), &second);
        global = second.Global();
        auto *interface = static_cast<host::InterfaceInfo *>(global(host::INTERFACE_INFO_NAME, 0));
        EXPECT_EQ(interface->selItems[0], nullptr) << "second host's own, empty selection";

        first.MakeCurrent();
        interface = static_cast<host::InterfaceInfo *>(global(host::INTERFACE_INFO_NAME, 0));
        EXPECT_EQ(interface->selItems[0], first.Scene().Selection()[0]);
    }
    EXPECT_EQ(standin::Host::Current(), nullptr);
    EXPECT_EQ(global(host::ITEM_INFO_NAME, host::GFUSE_TRANSIENT), nullptr);
}

TEST(HostCurrencyTest, DestroyingAHostThatIsNotCurrentLeavesTheCurrentOne) {
    standin::Host kept;
    {
        standin::Host passing;
        kept.MakeCurrent();
    }
    EXPECT_EQ(standin::Host::Current(), &kept);
}

// ---------------------------------------------------------------------------
// Items and channels.

TEST_F(ServicesTest, ChannelWalkFollowsCreationOrderThenEnds) {
    const host::ChannelId x = host.Scene().AddChannel(item, "Position.X", 1);
    const host::ChannelId y = host.Scene().AddChannel(item, "Position.Y", 2);
    const host::ChannelId z = host.Scene().AddChannel(item, "Position.Z", 3);
    EXPECT_EQ(WalkChannels(), (std::vector<host::ChannelId>{x, y, z}));
    EXPECT_EQ(channels->nextChannel(group, z), nullptr);
    EXPECT_STREQ(channels->channelName(y), "Position.Y");
    EXPECT_EQ(channels->channelType(z), 3);
    EXPECT_EQ(channels->channelEnvelope(x), host.Scene().Channels(item)[0].envelope);
}

TEST_F(ServicesTest, ChannelWalkStaysInItsGroup) {
    const host::ItemId other = host.Scene().AddItem("Light");
    const host::ChannelId foreign = host.Scene().AddChannel(other, "Intensity");
    host.Scene().AddChannel(item, "Position.X");
    EXPECT_EQ(channels->nextChannel(host.Scene().GroupOf(other), nullptr), foreign);
    tamberlo_test::BreachCapture breaches;
    EXPECT_EQ(channels->nextChannel(group, foreign), nullptr);
    EXPECT_EQ(channels->nextChannel(nullptr, nullptr), nullptr);
    EXPECT_EQ(breaches.Caught().size(), 2u);
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KnownIdentifier));
}

TEST_F(ServicesTest, ChannelQueriesIgnoreUnknownChannels) {
    tamberlo_test::BreachCapture breaches;
    EXPECT_EQ(channels->channelName(nullptr), nullptr);
    EXPECT_EQ(channels->channelType(nullptr), 0);
    EXPECT_EQ(channels->channelEnvelope(nullptr), nullptr);
    EXPECT_EQ(breaches.Caught().size(), 3u);
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KnownIdentifier));
}

TEST_F(ServicesTest, CreateAppendsAChannelWithTheGivenNameTypeAndANewEnvelope) {
    const host::ChannelId existing = host.Scene().AddChannel(item, "Position.X");
    const host::EnvelopeId created = envelopes->create(group, "Rotation.H", 4);
    ASSERT_NE(created, nullptr);

    const std::vector<host::ChannelId> walked = WalkChannels();
    ASSERT_EQ(walked.size(), 2u);
    EXPECT_EQ(walked[0], existing);
    EXPECT_STREQ(channels->channelName(walked[1]), "Rotation.H");
    EXPECT_EQ(channels->channelType(walked[1]), 4);
    EXPECT_EQ(channels->channelEnvelope(walked[1]), created);
    EXPECT_NE(created, channels->channelEnvelope(existing));
    EXPECT_EQ(host.Scene().KeyCount(created), 0u);
    EXPECT_NE(envelopes->createKey(created, 1.0, 2.0), nullptr);
}

TEST_F(ServicesTest, CreateInAnUnknownGroupMakesNothing) {
    tamberlo_test::BreachCapture breaches;
    EXPECT_EQ(envelopes->create(nullptr, "Position.X", 0), nullptr);
    EXPECT_TRUE(host.Scene().Channels(item).empty());
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KnownIdentifier));
}

TEST_F(ServicesTest, ADetachedChannelHasNoEnvelope) {
    const host::ChannelId channel = host.Scene().AddChannel(item, "Position.X");
    host.Scene().DetachEnvelope(channel);
    EXPECT_EQ(channels->channelEnvelope(channel), nullptr);
    EXPECT_STREQ(channels->channelName(channel), "Position.X") << "the channel itself stays";
}

// ---------------------------------------------------------------------------
// Envelope attributes.

TEST_F(ServicesTest, EnvelopeAttributesAreReadAndWrittenPerEnvelope) {
    const host::EnvelopeId first = envelopes->create(group, "A", 0);
    const host::EnvelopeId second = envelopes->create(group, "B", 0);
    const host::ChannelGroupId firstKey = KeyAsGroup(envelopes->createKey(first, 0.0, 0.0));
    const host::ChannelGroupId secondKey = KeyAsGroup(envelopes->createKey(second, 0.0, 0.0));
    for (int tag = 0; tag < host::ENVELOPE_ATTRIBUTE_COUNT; ++tag) {
        int value = 10 + tag;
        EXPECT_EQ(envelopes->egSet(first, firstKey, tag, &value), 1) << tag;
    }
    for (int tag = 0; tag < host::ENVELOPE_ATTRIBUTE_COUNT; ++tag) {
        int value = -1;
        EXPECT_EQ(envelopes->egGet(first, firstKey, tag, &value), 1);
        EXPECT_EQ(value, 10 + tag);
        EXPECT_EQ(envelopes->egGet(second, secondKey, tag, &value), 1);
        EXPECT_EQ(value, 0) << "attribute " << tag << " leaked into another envelope";
    }
    EXPECT_EQ(host.Scene().Attribute(first, 1), 11);
}

TEST_F(ServicesTest, EnvelopeAttributesBelongToTheEnvelopeWhicheverOfItsKeysIsPassed) {
    const host::EnvelopeId envelope = envelopes->create(group, "A", 0);
    const host::KeyId key = envelopes->createKey(envelope, 0.0, 0.0);
    const host::KeyId later = envelopes->createKey(envelope, 1.0, 0.0);
    int value = 7;
    envelopes->egSet(envelope, KeyAsGroup(key), 2, &value);
    int read = 0;
    EXPECT_EQ(envelopes->egGet(envelope, KeyAsGroup(later), 2, &read), 1);
    EXPECT_EQ(read, 7);

    // Anything else in the key's place is a breach, still answered.
    tamberlo_test::BreachCapture breaches;
    read = 0;
    EXPECT_EQ(envelopes->egGet(envelope, group, 2, &read), 1);
    EXPECT_EQ(read, 7);
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::AttributeKeyOfTheEnvelope));
}

TEST_F(ServicesTest, EnvelopeAttributeTagsOutsideZeroToTwoWriteNothing) {
    const host::EnvelopeId envelope = envelopes->create(group, "A", 0);
    const host::ChannelGroupId key = KeyAsGroup(envelopes->createKey(envelope, 0.0, 0.0));
    for (int tag : {-1, 3, 100}) {
        int value = 55;
        EXPECT_EQ(envelopes->egGet(envelope, key, tag, &value), 0);
        EXPECT_EQ(value, 55);
        EXPECT_EQ(envelopes->egSet(envelope, key, tag, &value), 0);
    }
    tamberlo_test::BreachCapture breaches;
    int value = 1;
    EXPECT_EQ(envelopes->egSet(nullptr, key, 0, &value), 0);
    EXPECT_EQ(envelopes->egGet(nullptr, key, 0, &value), 0);
    EXPECT_TRUE(breaches.OnlyBroke(standin::Rule::KeyOfTheEnvelope));
    for (int tag = 0; tag < host::ENVELOPE_ATTRIBUTE_COUNT; ++tag)
        EXPECT_EQ(host.Scene().Attribute(envelope, tag), 0);
}

// Every call that changes an envelope counts as an edit of it, and no call
// that only reads it does: scene files trust an unedited envelope to be as
// it was read, without comparing its keys.
TEST_F(ServicesTest, EveryChangeToAnEnvelopeCountsAsAnEditAndNoReadDoes) {
    const host::EnvelopeId envelope = envelopes->create(group, "A", 0);
    const host::EnvelopeId other = envelopes->create(group, "B", 0);
    const host::KeyId key = envelopes->createKey(envelope, 0.0, 0.0);
    const host::KeyId spare = envelopes->createKey(envelope, 2.0, 0.0);
    standin::Scene &scene = host.Scene();
    double number = 1.0, freeTime = 3.0;
    int value = 1;
    const std::pair<const char *, std::function<void()>> calls[] = {
        {"createKey", [&] { envelopes->createKey(envelope, 1.0, 0.0); }},
        {"createKey at a key's time", [&] { envelopes->createKey(envelope, 0.0, 5.0); }},
        {"keySet value", [&] { envelopes->keySet(envelope, key, host::LWKEY_VALUE, &number); }},
        {"keySet time", [&] { envelopes->keySet(envelope, key, host::LWKEY_TIME, &freeTime); }},
        {"keySet shape", [&] { envelopes->keySet(envelope, key, host::LWKEY_SHAPE, &number); }},
        {"keySet parameter",
         [&] { envelopes->keySet(envelope, key, host::LWKEY_PARAM_3, &number); }},
        {"egSet", [&] { envelopes->egSet(envelope, KeyAsGroup(key), 1, &value); }},
        {"destroyKey", [&] { envelopes->destroyKey(envelope, spare); }},
        {"Scene::AddKey", [&] { scene.AddKey(scene.Channels(item)[0].id, 7.0, 1.0); }},
        {"Scene::SetKeyParameter",
         [&] { scene.SetKeyParameter(key, host::LWKEY_BIAS, host::KeySlot{1}); }},
        {"Scene::SetAttribute", [&] { scene.SetAttribute(envelope, 0, 2); }},
    };
    for (const auto &[name, call] : calls) {
        const std::uint64_t before = scene.EnvelopeEdits(envelope);
        const std::uint64_t otherBefore = scene.EnvelopeEdits(other);
        call();
        EXPECT_GT(scene.EnvelopeEdits(envelope), before) << name;
        EXPECT_EQ(scene.EnvelopeEdits(other), otherBefore) << name;
    }
    const std::uint64_t edits = scene.EnvelopeEdits(envelope);
    double slot = 0.0;
    envelopes->keyGet(envelope, key, host::LWKEY_VALUE, &slot);
    envelopes->egGet(envelope, KeyAsGroup(key), 0, &value);
    WalkKeys(envelope);
    scene.Keys(envelope);
    EXPECT_EQ(scene.EnvelopeEdits(envelope), edits);
}

// ---------------------------------------------------------------------------
// Messages.

TEST_F(ServicesTest, ErrorRecordsBothLinesAsBytesAndShowsThemInUtf8) {
    messages->error(ERROR_CP932, ITEM_CP932);
    ASSERT_EQ(host.Errors().size(), 1u);
    EXPECT_EQ(host.Errors()[0].first, ERROR_CP932);
    EXPECT_EQ(host.Errors()[0].second, ITEM_CP932);
    ASSERT_FALSE(host.Transcript().empty());
    const std::string &shown = host.Transcript().back();
    EXPECT_NE(shown.find("エラー"), std::string::npos) << shown;
    EXPECT_NE(shown.find("アイテム"), std::string::npos) << shown;
}

TEST_F(ServicesTest, ErrorTakesANullLineAsEmpty) {
    messages->error("first", nullptr);
    messages->error(nullptr, nullptr);
    ASSERT_EQ(host.Errors().size(), 2u);
    EXPECT_EQ(host.Errors()[0], (std::pair<std::string, std::string>{"first", ""}));
    EXPECT_EQ(host.Errors()[1], (std::pair<std::string, std::string>{"", ""}));
    host.ClearErrors();
    EXPECT_TRUE(host.Errors().empty());
}

// ---------------------------------------------------------------------------
// The trace.

TEST_F(ServicesTest, TraceShowsTheUseOfEveryLookup) {
    host.EnableTrace(true);
    host.Global()(host::ITEM_INFO_NAME, host::GFUSE_ACQUIRE);
    host.Global()("No Such Service", host::GFUSE_TRANSIENT);
    ASSERT_EQ(host.Trace().size(), 2u);
    EXPECT_EQ(host.Trace()[0].operation, host::ITEM_INFO_NAME);
    EXPECT_EQ(host.Trace()[0].arguments, "use=1");
    EXPECT_EQ(host.Trace()[1].operation, "No Such Service");
    EXPECT_EQ(host.Trace()[1].arguments, "use=0");
}

TEST_F(ServicesTest, TraceStaysEmptyUntilEnabledAndCanBeCleared) {
    items->name(item);
    EXPECT_TRUE(host.Trace().empty());
    host.EnableTrace(true);
    items->name(item);
    items->chanGroup(item);
    EXPECT_EQ(Calls(), (std::vector<std::pair<std::string, std::string>>{
                           {"LW Item Info 3", "name"}, {"LW Item Info 3", "chanGroup"}}));
    host.ClearTrace();
    EXPECT_TRUE(host.Trace().empty());
    host.EnableTrace(false);
    items->name(item);
    EXPECT_TRUE(host.Trace().empty());
}

// ---------------------------------------------------------------------------
// Misbehaviour on request.

TEST_F(ServicesTest, RefuseCreateMakesCreateReturnNullAndAddNoChannel) {
    host.Misbehave().refuseCreate = true;
    EXPECT_EQ(envelopes->create(group, "Position.X", 0), nullptr);
    EXPECT_TRUE(host.Scene().Channels(item).empty());
    host.Misbehave().refuseCreate = false;
    EXPECT_NE(envelopes->create(group, "Position.X", 0), nullptr);
}

TEST_F(ServicesTest, RefuseCreateKeyMakesCreateKeyReturnNullAndAddNoKey) {
    const host::EnvelopeId envelope = envelopes->create(group, "Position.X", 0);
    host.Misbehave().refuseCreateKey = true;
    EXPECT_EQ(envelopes->createKey(envelope, 1.0, 1.0), nullptr);
    EXPECT_EQ(host.Scene().KeyCount(envelope), 0u);
}

TEST_F(ServicesTest, PositiveDriftRepeatsTheFirstChannelOnEverySecondWalk) {
    const host::ChannelId a = host.Scene().AddChannel(item, "A");
    const host::ChannelId b = host.Scene().AddChannel(item, "B");
    const host::ChannelId c = host.Scene().AddChannel(item, "C");
    host.Misbehave().secondWalkDrift = 2;
    const std::vector<host::ChannelId> honest{a, b, c};
    EXPECT_EQ(WalkChannels(), honest);
    EXPECT_EQ(WalkChannels(), (std::vector<host::ChannelId>{a, b, c, a, a}));
    EXPECT_EQ(WalkChannels(), honest);
    EXPECT_EQ(WalkChannels(), (std::vector<host::ChannelId>{a, b, c, a, a}));
}

TEST_F(ServicesTest, NegativeDriftEndsEverySecondChannelWalkEarly) {
    const host::ChannelId a = host.Scene().AddChannel(item, "A");
    const host::ChannelId b = host.Scene().AddChannel(item, "B");
    const host::ChannelId c = host.Scene().AddChannel(item, "C");
    host.Misbehave().secondWalkDrift = -1;
    EXPECT_EQ(WalkChannels(), (std::vector<host::ChannelId>{a, b, c}));
    EXPECT_EQ(WalkChannels(), (std::vector<host::ChannelId>{a, b}));
    EXPECT_EQ(WalkChannels(), (std::vector<host::ChannelId>{a, b, c}));
    host.Misbehave().secondWalkDrift = -5;
    EXPECT_TRUE(WalkChannels().empty()) << "a drift longer than the list leaves nothing";
}

TEST_F(ServicesTest, KeyWalkDriftCountsWalksPerEnvelope) {
    const host::EnvelopeId first = envelopes->create(group, "A", 0);
    const host::EnvelopeId second = envelopes->create(group, "B", 0);
    const host::KeyId k1 = envelopes->createKey(first, 1.0, 0.0);
    const host::KeyId k2 = envelopes->createKey(first, 2.0, 0.0);
    const host::KeyId other = envelopes->createKey(second, 1.0, 0.0);
    host.Misbehave().secondWalkDrift = 1;
    EXPECT_EQ(WalkKeys(first), (std::vector<host::KeyId>{k1, k2}));
    // The other envelope's first walk is honest, whatever the first one did.
    EXPECT_EQ(WalkKeys(second), (std::vector<host::KeyId>{other}));
    EXPECT_EQ(WalkKeys(first), (std::vector<host::KeyId>{k1, k2, k1}));
    EXPECT_EQ(WalkKeys(second), (std::vector<host::KeyId>{other, other}));

    host.Misbehave().secondWalkDrift = -1;
    EXPECT_EQ(WalkKeys(first), (std::vector<host::KeyId>{k1, k2}));
    EXPECT_EQ(WalkKeys(first), (std::vector<host::KeyId>{k1}));
}

TEST_F(ServicesTest, WalksAreHonestWithoutDrift) {
    const host::ChannelId a = host.Scene().AddChannel(item, "A");
    for (int walk = 0; walk < 4; ++walk)
        EXPECT_EQ(WalkChannels(), (std::vector<host::ChannelId>{a})) << "walk " << walk;
}

}  // namespace
