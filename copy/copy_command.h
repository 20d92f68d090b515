// copy/: the copy command: its panel, its callbacks and the capture of keys.
//
// The copy command: its panel, the panel's callbacks and the capture of keys.
#pragma once

#include "host/host_api.h"

namespace tamberlo {

// Runs one copy activation to its end.
void CopyCommand(host::GlobalFunc global, void *local);

}  // namespace tamberlo
