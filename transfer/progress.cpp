#include "transfer/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

namespace apps {

namespace {

// A step this short never shows a line; a line is redrawn at most this often.
constexpr std::chrono::milliseconds SHOWN_AFTER{500};
constexpr std::chrono::milliseconds REDRAWN_EVERY{100};

std::string Amount(std::uint64_t count, const char *unit) {
    char text[64];
    if (std::string_view(unit) == "bytes")
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(count) / 1e6);
    else if (count >= 1'000'000)
        std::snprintf(text, sizeof text, "%.1f million %s", static_cast<double>(count) / 1e6, unit);
    else
        std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(count), unit);
    return text;
}

}  // namespace

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

ProgressLine::ProgressLine(std::ostream &terminal, bool shown)
    : terminal_(terminal), shown_(shown) {}

ProgressLine::~ProgressLine() {
    End();
}

void ProgressLine::Start(std::string what) {
    End();
    if (!shown_) return;
    what_ = std::move(what);
    started_ = Clock::now();
}

void ProgressLine::Update(std::uint64_t done, std::uint64_t total, const char *unit) noexcept {
    if (!shown_ || what_.empty()) return;
    try {
        const Clock::time_point now = Clock::now();
        if (now - started_ < SHOWN_AFTER || (visible_ && now - drawn_ < REDRAWN_EVERY)) return;
        std::string line = what_ + ": " + Amount(done, unit);
        if (total > 0) {
            const auto percent =
                static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total));
            line += " of " + Amount(total, unit) + " (" + std::to_string(percent) + "%)";
        }
        // One line, never wrapped, so that a carriage return goes back over all of it.
        const auto width = static_cast<std::size_t>(TerminalColumns() - 1);
        if (line.size() > width) {
            // Cut before a character, not inside one.
            std::size_t cut = width;
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
            line.resize(cut);
        }
        terminal_ << '\r' << line << "\x1b[K" << std::flush;
        visible_ = true;
        drawn_ = now;
    } catch (...) {
        // A progress line is not worth failing the work for.
    }
}

void ProgressLine::End() noexcept {
    try {
        if (visible_) terminal_ << "\r\x1b[K" << std::flush;
    } catch (...) {
        // As above.
    }
    visible_ = false;
    what_.clear();
}

}  // namespace apps
