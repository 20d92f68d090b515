// The main of every suite: each test runs under the stand-in host's contract
// checker, and a call that breaks the host contract fails the running test
// where it happens, with the call, its arguments and the rule.
#include <gtest/gtest.h>

#include "standin/contract.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    standin::SetViolationHandler([](const standin::Violation &violation) {
        ADD_FAILURE() << "host contract broken: " << violation;
    });
    return RUN_ALL_TESTS();
}
