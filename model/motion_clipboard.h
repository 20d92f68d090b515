// The copied motion, kept from a confirmed copy until the next one replaces
// it; paste only reads it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "host/host_api.h"
#include "model/fixed_array.h"
#include "model/names.h"

namespace tamberlo {

// The doubles come first and the 32-bit fields last, so that no padding
// sits between them: a motion-capture copy holds millions of these.
struct ClipKey {
    double value = 0.0;
    double time = 0.0;
    host::KeyRawSlots parameters{};  // from the shape on, as the host wrote them
    std::int32_t frame = 0;
    std::array<std::int32_t, host::ENVELOPE_ATTRIBUTE_COUNT> attributes{};
};
static_assert(sizeof(ClipKey) == 2 * sizeof(double) + sizeof(host::KeyRawSlots) +
                                     (1 + host::ENVELOPE_ATTRIBUTE_COUNT) * sizeof(std::int32_t),
              "a copied key holds its fields and no padding");

struct ClipChannel {
    std::array<char, CHANNEL_NAME_FIELD> name{};
    // Sized by the counting walk; `keyCount` says how many were captured.
    FixedArray<ClipKey> keyArray;
    std::int32_t keyCount = 0;
    std::int32_t channelType = 0;

    std::span<const ClipKey> Keys() const { return keyArray.view().first(keyCount); }
};

struct ClipItem {
    FixedArray<ClipChannel> channelArray;
    std::int32_t channelCount = 0;

    std::span<const ClipChannel> Channels() const {
        return channelArray.view().first(channelCount);
    }
};

// Everything one confirmed copy produced.
struct ClipContent {
    FixedArray<ClipItem> items;
    std::int32_t firstFrame = 0;
    std::int32_t lastFrame = 0;
    // last - first over the whole 32-bit range needs 33 bits.
    std::int64_t frameSpan = 0;
};

class MotionClipboard {
  public:
    // Empty until the first confirmed copy; paste tests only this.
    bool IsEmpty() const { return !hasContent_; }
    const ClipContent &Content() const { return content_; }
    std::int32_t ItemCount() const { return static_cast<std::int32_t>(content_.items.size()); }

    // Releases every key, channel and item array; the clipboard is then empty.
    void Release() noexcept;
    // Takes over complete new content.
    void Install(ClipContent &&content) noexcept;

  private:
    ClipContent content_;
    bool hasContent_ = false;
};

// The module's one clipboard, living as long as the module is loaded.
MotionClipboard &Clipboard();

}  // namespace tamberlo
