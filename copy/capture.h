// Capture: on a confirmed copy, the keys in the chosen range on every enabled
// channel of the table's items replace the clipboard's content.
#pragma once

#include "model/frames.h"
#include "model/item_table.h"
#include "model/motion_clipboard.h"
#include "services/services.h"

namespace tamberlo {

// Fills `clipboard` with the keys of the enabled channels whose frames, at
// `framesPerSecond`, lie in `range`. If memory runs out the clipboard is left
// empty, never half-built, and std::bad_alloc propagates to the caller.
void CaptureMotion(const HostServices &services, const ItemTable &table, std::int32_t firstFrame,
                   std::int32_t lastFrame, double framesPerSecond, MotionClipboard &clipboard);

}  // namespace tamberlo
