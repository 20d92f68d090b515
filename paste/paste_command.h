// paste/: the paste command: its checks, its panel and the transfer of keys.
//
// The paste command: its checks, its panel and the transfer of keys.
#pragma once

#include "host/host_api.h"

namespace tamberlo {

// Runs one paste activation to its end.
void PasteCommand(host::GlobalFunc global, void *local);

}  // namespace tamberlo
