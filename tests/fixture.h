// tests/: the suites, one file per group, and the fixtures they share.
//
// A fresh stand-in host and the copy and paste a user runs in it, for the
// suites that drive the module's commands. How a server is reached is the
// suite's own: through the loaded module, or straight into the module's
// static library.
#pragma once

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "standin/standin.h"
#include "tests/scenes.h"

namespace tamberlo_test {

inline constexpr const char *COPY = "Ruxo_Tamberlo copy";
inline constexpr const char *PASTE = "Ruxo_Tamberlo paste";
inline constexpr const char *SAVE = "Ruxo_Tamberlo save";
inline constexpr const char *LOAD = "Ruxo_Tamberlo load";

class CommandTest : public ::testing::Test {
  protected:
    // Activates a server as the host does; what the activation returned.
    int Run(const char *server, int version = host::LAYOUT_GENERIC_VERSION) {
        return Activate(server, version);
    }

    // Selects `selection` (in selection order), leaves `script` to the user
    // for the panel, and runs copy, which always reports success.
    void Copy(std::vector<host::ItemId> selection, standin::ScriptedUser::Script script) {
        scene.Select(std::move(selection));
        host.User().Then(std::move(script));
        ASSERT_EQ(Run(COPY), 0);
    }
    // A copy of the frames from `first` to `last`, confirmed.
    void Copy(std::vector<host::ItemId> selection, int first, int last) {
        Copy(std::move(selection), CopyFrames(first, last));
    }
    // The same for paste.
    void Paste(std::vector<host::ItemId> selection, standin::ScriptedUser::Script script) {
        scene.Select(std::move(selection));
        host.User().Then(std::move(script));
        ASSERT_EQ(Run(PASTE), 0);
    }

    standin::Host host;
    standin::Scene &scene = host.Scene();

  private:
    virtual int Activate(const char *server, int version) = 0;
};

}  // namespace tamberlo_test
