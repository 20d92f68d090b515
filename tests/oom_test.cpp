// Running out of memory at every allocation the module makes, during a copy
// and during a paste: the module must neither crash nor let an exception
// reach the host, and must leave the clipboard and the scene whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "standin/standin.h"
#include "tests/failing_allocator.h"
#include "tests/labels.h"
#include "tests/scenes.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the built module"
#endif

namespace tamberlo_test {
namespace {

using failing_allocator::Mode;
using Dump = std::map<std::string, std::string>;

// One freshly loaded module in a fresh host, with items A and B to copy from
// and C and D to paste onto.
struct Sandbox {
    standin::Host host;
    std::unique_ptr<standin::LoadedModule> module;
    host::ItemId a{}, b{}, c{}, d{};

    Sandbox() {
        module = std::make_unique<standin::LoadedModule>(TAMBERLO_MODULE_PATH);
        EXPECT_TRUE(failing_allocator::WatchLibrary("Tamberlo.p"));
        standin::Scene &scene = host.Scene();
        a = AddItem(scene, "A",
                    {{"Position.X", {{At(9), 1}, {At(10), 2}, {At(15), 3}, {At(20), 4}}},
                     {"Position.Y", {{At(12), 5}}},
                     {"Rotation.H", {{At(14), 6}}, 3}});
        b = AddItem(scene, "B", {{"Position.X", {{At(11), 7}, {At(19), 8}}}, {"Dissolve", {}}});
        c = AddItem(scene, "C",
                    {{"Position.X", {{At(29), 10}, {At(30), 11}, {At(35), 12}}},
                     {"Rotation.H", {{At(33), 13}}}});
        d = AddItem(scene, "D", {{"Position.X", {{At(31), 14}, {At(41), 15}}}});
    }

    int Copy(int first, int last) {
        host.Scene().Select({a, b});
        host.User().Then([first, last](standin::PanelSession &panel) {
            panel.Type(labels::START_FRAME, first);
            panel.Type(labels::END_FRAME, last);
            panel.Pick(labels::ITEM, 0);  // B: its Dissolve channel off
            panel.Pick(labels::CHANNEL, 1);
            panel.SetBool(labels::ENABLED, false);
            return standin::PanelOutcome::Confirm;
        });
        return Activate("Ruxo_Tamberlo copy");
    }

    // Activates a server; a script left unused (the panel never opened) is
    // dropped so that it cannot answer the next panel.
    int Activate(const char *server) {
        const int result = host.Activate(*module, server);
        while (host.User().HasScript()) host.User().Next();
        return result;
    }

    int Paste(int start) {
        host.Scene().Select({c, d});
        host.User().Then(PasteAt(start));
        return Activate("Ruxo_Tamberlo paste");
    }

    // Every channel of the paste targets, keyed by item and channel position.
    Dump Targets() const {
        Dump dump;
        const standin::Scene &scene = host.Scene();
        for (host::ItemId item : {c, d}) {
            int position = 0;
            for (const standin::ChannelState &channel : scene.Channels(item)) {
                std::string text = channel.name + " type " + std::to_string(channel.type) + ":";
                for (const standin::KeyState &key : scene.Keys(channel.envelope)) {
                    char line[64];
                    std::snprintf(line, sizeof line, " %.17g=%.17g", key.time, key.value);
                    text += line;
                }
                dump[scene.ItemName(item) + "/" + std::to_string(position++)] = text;
            }
        }
        return dump;
    }

    bool SaidNothingCopied() const {
        return !host.Errors().empty() &&
               host.Errors().back().first == standin::Cp932FromUtf8(labels::NOTHING_COPIED);
    }
};

// What the targets look like after a paste at 30 of a copy of `first`..`last`
// made with no failure.
Dump PastedWithoutFailure(int first, int last) {
    Sandbox sandbox;
    EXPECT_EQ(sandbox.Copy(first, last), 0);
    EXPECT_EQ(sandbox.Paste(30), 0);
    return sandbox.Targets();
}

const char *ModeName(Mode mode) {
    return mode == Mode::Once ? "once" : "from then on";
}

class OutOfMemoryTest : public ::testing::TestWithParam<Mode> {};

// The table of the copy (one block, one channel array for each of A and B)
// comes before capture; a failure there leaves the earlier copy in place.
constexpr long TABLE_ALLOCATIONS = 3;

TEST_P(OutOfMemoryTest, ACopyLeavesTheClipboardAsItWasEmptyOrComplete) {
    const Dump before = Sandbox().Targets();
    const Dump withOldCopy = PastedWithoutFailure(0, 60);
    const Dump withNewCopy = PastedWithoutFailure(10, 20);
    ASSERT_NE(withOldCopy, withNewCopy);

    long failAt = 1;
    for (;; ++failAt) {
        SCOPED_TRACE(std::string(ModeName(GetParam())) + ", failing allocation " +
                     std::to_string(failAt));
        Sandbox sandbox;
        ASSERT_EQ(sandbox.Copy(0, 60), 0);
        failing_allocator::Arm(GetParam(), failAt);
        int result = -1;
        EXPECT_NO_THROW(result = sandbox.Copy(10, 20));
        failing_allocator::Disarm();
        EXPECT_EQ(result, 0);
        const bool failed = failing_allocator::FailuresInjected() > 0;
        EXPECT_EQ(sandbox.host.LivePanelCount(), 0u);
        EXPECT_EQ(sandbox.Targets(), before) << "a copy changed the scene";

        EXPECT_EQ(sandbox.Paste(30), 0);
        if (!failed) {
            EXPECT_EQ(sandbox.Targets(), withNewCopy);
            break;
        }
        if (failAt <= TABLE_ALLOCATIONS) {
            EXPECT_EQ(sandbox.Targets(), withOldCopy) << "the earlier copy was lost";
        } else {
            EXPECT_TRUE(sandbox.SaidNothingCopied()) << "the clipboard was left half-built";
            EXPECT_EQ(sandbox.Targets(), before);
        }
    }
    std::printf("copy, %s: %ld allocation points swept\n", ModeName(GetParam()), failAt - 1);
    RecordProperty("allocation_points", static_cast<int>(failAt - 1));
    EXPECT_GT(failAt, TABLE_ALLOCATIONS + 3);
}

// The table of the paste (one block and two channel arrays) comes first; a
// failure there leaves the scene untouched.
TEST_P(OutOfMemoryTest, APasteLeavesEveryChannelAsItWasOrFullyPasted) {
    const Dump before = Sandbox().Targets();
    const Dump pasted = PastedWithoutFailure(10, 20);

    long failAt = 1;
    for (;; ++failAt) {
        SCOPED_TRACE(std::string(ModeName(GetParam())) + ", failing allocation " +
                     std::to_string(failAt));
        Sandbox sandbox;
        ASSERT_EQ(sandbox.Copy(10, 20), 0);
        failing_allocator::Arm(GetParam(), failAt);
        int result = -1;
        EXPECT_NO_THROW(result = sandbox.Paste(30));
        failing_allocator::Disarm();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(sandbox.host.LivePanelCount(), 0u);
        const Dump after = sandbox.Targets();
        if (failing_allocator::FailuresInjected() == 0) {
            EXPECT_EQ(after, pasted);
            break;
        }
        if (failAt <= TABLE_ALLOCATIONS) {
            EXPECT_EQ(after, before);
        }
        for (const auto &[channel, keys] : after) {
            const bool untouched = before.count(channel) != 0 && before.at(channel) == keys;
            const bool complete = pasted.count(channel) != 0 && pasted.at(channel) == keys;
            EXPECT_TRUE(untouched || complete) << channel << " is half-pasted: " << keys;
        }
        // The clipboard is never changed: a paste with memory again is whole.
        EXPECT_EQ(sandbox.Paste(30), 0);
        EXPECT_EQ(sandbox.Targets(), pasted);
    }
    std::printf("paste, %s: %ld allocation points swept\n", ModeName(GetParam()), failAt - 1);
    RecordProperty("allocation_points", static_cast<int>(failAt - 1));
    EXPECT_GT(failAt, TABLE_ALLOCATIONS + 1);
}

INSTANTIATE_TEST_SUITE_P(EveryAllocation, OutOfMemoryTest,
                         ::testing::Values(Mode::Once, Mode::FromThenOn), [](const auto &info) {
                             return info.param == Mode::Once ? std::string("OneFailure")
                                                             : std::string("AllLaterFail");
                         });

}  // namespace
}  // namespace tamberlo_test
