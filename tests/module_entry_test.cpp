// The module as the host first meets it: descriptor, servers, startup and the
// version check of every activation.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/module_fixture.h"

namespace tamberlo_test {
namespace {

const char *const ALL_SERVERS[] = {COPY, PASTE, SAVE, LOAD};

TEST_F(ModuleTest, DescriptorCarriesSyncVersionAndMachineWords) {
    const host::ModuleDescriptor &descriptor = module->Descriptor();
    EXPECT_EQ(descriptor.sync, 0x04121994u);
    EXPECT_EQ(descriptor.systemVersion, 3u);
    EXPECT_EQ(descriptor.machine, 0x300u);
    ASSERT_NE(descriptor.startup, nullptr);
    ASSERT_NE(descriptor.shutdown, nullptr);
    ASSERT_NE(descriptor.servers, nullptr);
}

TEST_F(ModuleTest, StartupReturnsFour) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(module->StartupResult()),
              host::MODULE_STARTUP_RESULT);
}

TEST_F(ModuleTest, ServerListHasFourGenericServersInOrderThenAZeroRecord) {
    const host::ServerRecord *records = module->Descriptor().servers;
    const char *const names[] = {COPY, PASTE, SAVE, LOAD};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_STREQ(records[i].className, host::LAYOUT_GENERIC_CLASS);
        EXPECT_STREQ(records[i].name, names[i]);
        EXPECT_NE(records[i].activate, nullptr);
        EXPECT_EQ(records[i].tagInfo, nullptr);
    }
    EXPECT_EQ(records[4].className, nullptr);
    EXPECT_EQ(records[4].name, nullptr);
    EXPECT_EQ(records[4].activate, nullptr);
    EXPECT_EQ(records[4].tagInfo, nullptr);
    ASSERT_EQ(module->Servers().size(), 4u);
}

TEST_F(ModuleTest, WrongVersionIsRefusedByEveryServerWithoutTouchingTheHost) {
    host.EnableTrace(true);
    host.Scene().Select({host.Scene().AddItem("A")});
    for (const char *server : ALL_SERVERS) {
        for (int version : {1, 3}) {
            SCOPED_TRACE(std::string(server) + " version " + std::to_string(version));
            EXPECT_EQ(Run(server, version), 1);
        }
    }
    // Only the host's own activation entries: no lookup, no panel, no message.
    for (const standin::TraceEntry &entry : host.Trace()) EXPECT_EQ(entry.service, "host");
    EXPECT_TRUE(host.Panels().empty());
    EXPECT_TRUE(host.Errors().empty());
}

TEST_F(ModuleTest, SaveAndLoadAcceptVersionTwoAndDoNothing) {
    host.EnableTrace(true);
    const host::ItemId item = host.Scene().AddItem("A");
    const host::ChannelId channel = host.Scene().AddChannel(item, "Position.X");
    host.Scene().AddKey(channel, 0.5, 2.0);
    host.Scene().Select({item});
    EXPECT_EQ(Run(SAVE), 0);
    EXPECT_EQ(Run(LOAD), 0);
    for (const standin::TraceEntry &entry : host.Trace()) EXPECT_EQ(entry.service, "host");
    EXPECT_TRUE(host.Panels().empty());
    EXPECT_TRUE(host.Errors().empty());
    EXPECT_EQ(host.Scene().TotalKeyCount(), 1u);
}

TEST(ModuleLoaderTest, RefusesAMissingFile) {
    EXPECT_THROW(standin::LoadedModule("/nonexistent/Tamberlo.p"), standin::LoadError);
}

TEST(ModuleLoaderTest, RefusesAFileThatIsNotALibrary) {
    const std::string path = ::testing::TempDir() + "not_a_module.p";
    std::ofstream(path) << "plain text\n";
    EXPECT_THROW(standin::LoadedModule{path}, standin::LoadError);
    std::remove(path.c_str());
}

TEST(ModuleLoaderTest, RefusesALibraryWithoutDescriptor) {
    try {
        standin::LoadedModule module(NO_DESCRIPTOR_MODULE_PATH);
        FAIL() << "loaded a library without descriptor";
    } catch (const standin::LoadError &error) {
        EXPECT_NE(std::string(error.what()).find("_mod_descrip"), std::string::npos);
    }
}

TEST(ModuleLoaderTest, LoadsActivatesAndUnloadsTheSameFileRepeatedly) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        standin::Host host;
        standin::LoadedModule module(ModulePath());
        EXPECT_EQ(host.Activate(module, SAVE), 0);
        EXPECT_EQ(host.Activate(module, COPY, 1), 1);
    }
}

TEST(ModuleLoaderTest, ActivatingAnUnknownServerIsAnError) {
    standin::Host host;
    standin::LoadedModule module(ModulePath());
    EXPECT_THROW(host.Activate(module, "Ruxo_Tamberlo cut"), standin::LoadError);
}

}  // namespace
}  // namespace tamberlo_test
