#include "model/names.h"

#include <cstring>

namespace tamberlo {

namespace {

// Whether a byte opens a two-byte character in code page 932.
bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace

void CopyName(std::span<char> field, const char *name) {
    if (field.empty()) return;
    const std::size_t room = field.size() - 1;
    std::size_t length = 0;
    if (name != nullptr) {
        // Walk whole characters until the next one would not fit.
        while (name[length] != '\0') {
            const bool pair =
                IsLeadByte(static_cast<unsigned char>(name[length])) && name[length + 1] != '\0';
            const std::size_t width = pair ? 2 : 1;
            if (length + width > room) break;
            length += width;
        }
        std::memcpy(field.data(), name, length);
    }
    field[length] = '\0';
}

}  // namespace tamberlo
