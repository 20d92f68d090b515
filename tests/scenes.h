// Small scenes and user scripts shared by the suites that drive copy and paste.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "standin/standin.h"
#include "tests/labels.h"

namespace tamberlo_test {

struct SceneKey {
    double time;
    double value;
};

struct SceneChannel {
    std::string name;
    std::vector<SceneKey> keys;
    int type = 0;
};

// Adds an item with the given channels and keys; returns it.
inline host::ItemId AddItem(standin::Scene &scene, const std::string &name,
                            const std::vector<SceneChannel> &channels) {
    const host::ItemId item = scene.AddItem(name);
    for (const SceneChannel &wanted : channels) {
        const host::ChannelId channel = scene.AddChannel(item, wanted.name, wanted.type);
        for (const SceneKey &key : wanted.keys) scene.AddKey(channel, key.time, key.value);
    }
    return item;
}

// The keys of an item's channel as (time, value) pairs, in time order.
inline std::vector<std::pair<double, double>> KeysOf(const standin::Scene &scene, host::ItemId item,
                                                     const std::string &channel) {
    std::vector<std::pair<double, double>> keys;
    const auto found = scene.FindChannel(item, channel);
    if (!found) return keys;
    for (const standin::ChannelState &state : scene.Channels(item))
        if (state.id == *found && state.envelope != nullptr)
            for (const standin::KeyState &key : scene.Keys(state.envelope))
                keys.emplace_back(key.time, key.value);
    return keys;
}

// Keys compared with times equal to within a few units in the last place,
// since a shifted time is computed as time + shift / fps.
inline void ExpectKeys(const std::vector<std::pair<double, double>> &actual,
                       const std::vector<std::pair<double, double>> &expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_DOUBLE_EQ(actual[i].first, expected[i].first) << "key " << i;
        EXPECT_EQ(actual[i].second, expected[i].second) << "key " << i;
    }
}

// The frame as a time at the given rate.
inline double At(double frame, double fps = 30.0) {
    return frame / fps;
}

// A user who confirms the panel with what it shows.
inline standin::ScriptedUser::Script ConfirmAsShown() {
    return [](standin::PanelSession &) { return standin::PanelOutcome::Confirm; };
}

inline standin::ScriptedUser::Script CancelAsShown() {
    return [](standin::PanelSession &) { return standin::PanelOutcome::Cancel; };
}

// A user who types a frame range into the copy panel and confirms.
inline standin::ScriptedUser::Script CopyFrames(int first, int last) {
    return [first, last](standin::PanelSession &panel) {
        panel.Type(labels::START_FRAME, first);
        panel.Type(labels::END_FRAME, last);
        return standin::PanelOutcome::Confirm;
    };
}

// A user who types a paste start frame and confirms.
inline standin::ScriptedUser::Script PasteAt(int start) {
    return [start](standin::PanelSession &panel) {
        panel.Type(labels::PASTE_START_FRAME, start);
        return standin::PanelOutcome::Confirm;
    };
}

// Every member a module meets walking a host list from the start, where
// `next(previous)` hands out the member after `previous` (after null, the
// first). A walk that never ends is cut once it passes `limit` members.
template <typename Member, typename Next>
std::vector<Member> WalkAll(Next next, std::size_t limit) {
    std::vector<Member> walked;
    for (Member member = next(nullptr); member != nullptr; member = next(member)) {
        walked.push_back(member);
        if (walked.size() > limit) break;
    }
    return walked;
}

}  // namespace tamberlo_test
