// A progress line on standard error for the steps of a long run.
//
// Reading, copying, pasting, writing and drawing a motion-capture scene each
// take seconds. Where standard error is a terminal, a step that has run for
// half a second gets one line saying what it is doing and how far it has
// come, redrawn in place a few times a second and cleared when the step
// ends, so that what the program prints stays as it is. Anywhere else (a
// log, a pipe, CI) nothing of it is written.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace apps {

class ProgressLine {
  public:
    // A line on `terminal` when `shown`; with `shown` false every call does
    // nothing.
    ProgressLine(std::ostream &terminal, bool shown);
    ~ProgressLine();
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // Begins a step, ending the one before; `what` reads like "reading
    // walk.lws".
    void Start(std::string what);
    // How far the step has come: `done` of `total` (0 when unknown) of
    // `unit` ("bytes" are shown in MB). Cheap enough to call often; never
    // throws.
    void Update(std::uint64_t done, std::uint64_t total, const char *unit) noexcept;
    // Clears the line, if it was drawn.
    void End() noexcept;

  private:
    using Clock = std::chrono::steady_clock;

    std::ostream &terminal_;
    bool shown_;
    std::string what_;
    Clock::time_point started_{};
    Clock::time_point drawn_{};
    bool visible_ = false;
};

// How wide the terminal behind standard error is, in columns (80 when it
// cannot be told).
int TerminalColumns();

}  // namespace apps
