// Copying host names into the module's fixed name fields.
#pragma once

#include <cstddef>
#include <span>

namespace tamberlo {

inline constexpr std::size_t ITEM_NAME_FIELD = 100;
inline constexpr std::size_t CHANNEL_NAME_FIELD = 80;

// Copies a NUL-terminated host name into `field`, always terminating it. A
// name too long for the field is cut at the last whole character that fits,
// so a two-byte Shift_JIS character is never split. A null name is empty.
void CopyName(std::span<char> field, const char *name);

}  // namespace tamberlo
