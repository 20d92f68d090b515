// A freshly loaded Tamberlo module in a fresh stand-in host, for the suites
// that drive the module the way Layout does.
#pragma once

#include <memory>
#include <string>

#include "standin/standin.h"
#include "tests/fixture.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the built module"
#endif

namespace tamberlo_test {

inline std::string ModulePath() {
    return TAMBERLO_MODULE_PATH;
}

class ModuleTest : public CommandTest {
  protected:
    void SetUp() override { module = std::make_unique<standin::LoadedModule>(ModulePath()); }
    void TearDown() override { module.reset(); }

    std::unique_ptr<standin::LoadedModule> module;

  private:
    int Activate(const char *server, int version) override {
        return host.Activate(*module, server, version);
    }
};

}  // namespace tamberlo_test
