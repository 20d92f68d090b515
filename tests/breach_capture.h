// For tests that break the host contract on purpose: the breaches made while
// a capture lives are collected here instead of failing the test.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "standin/contract.h"

namespace tamberlo_test {

class BreachCapture {
  public:
    BreachCapture()
        : previous_(standin::SetViolationHandler(
              [this](const standin::Violation &violation) { caught_.push_back(violation); })) {}
    ~BreachCapture() { standin::SetViolationHandler(std::move(previous_)); }
    BreachCapture(const BreachCapture &) = delete;
    BreachCapture &operator=(const BreachCapture &) = delete;

    const std::vector<standin::Violation> &Caught() const { return caught_; }
    // Whether every breach caught broke `rule`, and there was at least one.
    bool OnlyBroke(standin::Rule rule) const {
        return !caught_.empty() && std::all_of(caught_.begin(), caught_.end(),
                                               [&](const auto &v) { return v.rule == rule; });
    }
    bool Broke(standin::Rule rule) const {
        return std::any_of(caught_.begin(), caught_.end(),
                           [&](const auto &violation) { return violation.rule == rule; });
    }

  private:
    standin::ViolationHandler previous_;
    std::vector<standin::Violation> caught_;
};

}  // namespace tamberlo_test
