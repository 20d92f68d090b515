// A freshly loaded Tamberlo module in a fresh stand-in host, for the suites
// that drive the module the way Layout does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "standin/standin.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the built module"
#endif

namespace tamberlo_test {

inline std::string ModulePath() {
    return TAMBERLO_MODULE_PATH;
}

inline constexpr const char *COPY = "Ruxo_Tamberlo copy";
inline constexpr const char *PASTE = "Ruxo_Tamberlo paste";
inline constexpr const char *SAVE = "Ruxo_Tamberlo save";
inline constexpr const char *LOAD = "Ruxo_Tamberlo load";

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override { module = std::make_unique<standin::LoadedModule>(ModulePath()); }
    void TearDown() override { module.reset(); }

    int Run(const char *server, int version = host::LAYOUT_GENERIC_VERSION) {
        return host.Activate(*module, server, version);
    }

    standin::Host host;
    std::unique_ptr<standin::LoadedModule> module;
};

}  // namespace tamberlo_test
