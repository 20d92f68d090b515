// Frames of keys: a key's frame is its time times the frame rate, truncated
// toward zero to a signed 32-bit frame number.
#pragma once

#include <cstdint>
#include <optional>

namespace tamberlo {

// The frame of a key at `seconds`. A product outside the 32-bit range
// saturates to its nearest end; a product that is not a number has no frame.
std::optional<std::int32_t> FrameOf(double seconds, double framesPerSecond);

// An inclusive range of frames. The bounds are 64-bit so that a range built
// from any two 32-bit frames (a start plus a span) never overflows.
struct FrameRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    bool Contains(std::optional<std::int32_t> frame) const {
        return frame.has_value() && first <= *frame && *frame <= last;
    }
};

}  // namespace tamberlo
