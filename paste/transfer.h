// The transfer of clipboard keys onto the paste targets.
#pragma once

#include <cstdint>

#include "model/item_table.h"
#include "model/motion_clipboard.h"
#include "services/services.h"

namespace tamberlo {

// Writes the clipboard's motion onto the table's items, item i receiving
// clipboard item i, placing the copied first frame at `startFrame`.
void TransferMotion(const HostServices &services, const ItemTable &targets,
                    const ClipContent &content, std::int32_t startFrame, double framesPerSecond);

}  // namespace tamberlo
