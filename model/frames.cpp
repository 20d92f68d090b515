#include "model/frames.h"

#include <cmath>
#include <limits>

namespace tamberlo {

std::optional<std::int32_t> FrameOf(double seconds, double framesPerSecond) {
    const double product = seconds * framesPerSecond;
    if (std::isnan(product)) return std::nullopt;
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    // Converting a double outside the target range is undefined, so clamp
    // first; inside it, the conversion truncates toward zero.
    if (product <= lowest) return std::numeric_limits<std::int32_t>::min();
    if (product >= highest) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(product);
}

}  // namespace tamberlo
