#include "model/motion_clipboard.h"

#include <utility>

namespace tamberlo {

namespace {

// Constant-initialised: loading the module runs no code for it.
constinit MotionClipboard moduleClipboard;

}  // namespace

void MotionClipboard::Release() noexcept {
    content_ = ClipContent{};
    hasContent_ = false;
}

void MotionClipboard::Install(ClipContent &&content) noexcept {
    content_ = std::move(content);
    hasContent_ = true;
}

MotionClipboard &Clipboard() {
    return moduleClipboard;
}

}  // namespace tamberlo
