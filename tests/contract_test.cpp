// The contract checker catches misuse: a module that breaks each rule once is
// reported for that rule and no other; the loader refuses a module built for
// another host; and the scripted user cannot act on a greyed-out control.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "standin/standin.h"
#include "tests/breach_capture.h"

namespace tamberlo_test {
namespace {

// Each server of the misuse module, and the one rule it breaks.
struct Misuse {
    const char *server;
    standin::Rule rule;
};

constexpr Misuse MISUSES[] = {
    {"attribute call with a null key", standin::Rule::AttributeKeyOfTheEnvelope},
    {"control added before globalFun", standin::Rule::GlobalFunSetBeforeControls},
    {"panel created without its data", standin::Rule::PanelDataIsTheServiceTable},
    {"control drawn after its panel is destroyed", standin::Rule::NoCallOnADestroyedPanel},
    {"panel destroyed twice", standin::Rule::PanelDestroyedOnce},
    {"panel left alive", standin::Rule::PanelDestroyedBeforeReturn},
    {"control read with a boolean record", standin::Rule::ValueRecordIsInteger},
    {"key read through another envelope", standin::Rule::KeyOfTheEnvelope},
    {"destroyed key used again", standin::Rule::NoDestroyedKey},
    {"name of an item never handed out", standin::Rule::KnownIdentifier},
};

TEST(ContractTest, TheMisusesCoverEveryRule) {
    for (const standin::Rule rule : standin::ALL_RULES) {
        EXPECT_TRUE(std::any_of(std::begin(MISUSES), std::end(MISUSES),
                                [&](const Misuse &misuse) { return misuse.rule == rule; }))
            << "no misuse breaks: " << standin::RuleText(rule);
    }
}

TEST(ContractTest, EachMisuseIsReportedOnceAsTheRuleItBreaks) {
    const standin::LoadedModule module(MISUSE_MODULE_PATH);
    EXPECT_EQ(module.Servers().size(), std::size(MISUSES));
    for (const Misuse &misuse : MISUSES) {
        SCOPED_TRACE(misuse.server);
        // One selected item with two channels of two keys each.
        standin::Host host;
        const host::ItemId item = host.Scene().AddItem("A");
        for (const char *name : {"Position.X", "Position.Y"}) {
            const host::ChannelId channel = host.Scene().AddChannel(item, name);
            host.Scene().AddKey(channel, 0.0, 1.0);
            host.Scene().AddKey(channel, 1.0, 2.0);
        }
        host.Scene().Select({item});

        const BreachCapture capture;
        EXPECT_EQ(host.Activate(module, misuse.server), host::AFUNC_OK);
        EXPECT_TRUE(capture.Caught().size() == 1 && capture.OnlyBroke(misuse.rule))
            << "expected only: " << standin::RuleText(misuse.rule) << "\ncaught "
            << ::testing::PrintToString(capture.Caught());
        EXPECT_EQ(host.Violations().size(), capture.Caught().size());
    }
}

// Each fixture is a module whose header carries one word off by one.
struct WrongHeader {
    const char *path;
    const char *word;
};

TEST(ModuleLoaderTest, RefusesAWrongHeaderWordNamingIt) {
    const WrongHeader fixtures[] = {{BAD_SYNC_MODULE_PATH, "sync word"},
                                    {BAD_VERSION_MODULE_PATH, "system version"},
                                    {BAD_MACHINE_MODULE_PATH, "machine word"}};
    for (const WrongHeader &fixture : fixtures) {
        SCOPED_TRACE(fixture.word);
        try {
            const standin::LoadedModule module(fixture.path);
            ADD_FAILURE() << "loaded a module with a wrong " << fixture.word;
        } catch (const standin::LoadError &error) {
            EXPECT_NE(std::string(error.what()).find(std::string("wrong ") + fixture.word),
                      std::string::npos)
                << error.what();
        }
    }
}

TEST(ScriptedUserTest, CannotActOnAGreyedOutControl) {
    standin::Host host;
    auto *panels = static_cast<host::PanelFuncs *>(
        host.Global()(host::PANEL_SERVICES_NAME, host::GFUSE_TRANSIENT));
    const host::PanelId panel = panels->create("Greyed", panels);
    panels->globalFun = host.Global();
    host::ControlDescriptor descriptor{};
    descriptor.type = host::LWT_BOOLEAN;
    host::Control *toggle = panels->addControl(panel, host::BOOL_CONTROL, &descriptor, "Switch");
    toggle->draw(toggle, host::DR_GHOST);
    host.User().Then([](standin::PanelSession &session) {
        session.Flip("Switch");
        return standin::PanelOutcome::Confirm;
    });
    // The action fails the script, which leaves the panel cancelled rather
    // than confirmed, and the switch as it was.
    EXPECT_EQ(panels->open(panel, host::PANF_BLOCKING), 0);
    host::ValueRecord value{host::LWT_INTEGER, 0};
    toggle->get(toggle, host::CTL_VALUE, &value);
    EXPECT_EQ(value.value, standin::UNSET_CONTROL_VALUE);
    panels->destroy(panel);
}

}  // namespace
}  // namespace tamberlo_test
