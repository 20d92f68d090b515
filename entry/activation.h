// entry/: what Layout calls: the descriptor, its servers and their activations.
//
// The four servers' activation functions, as the host calls them.
#pragma once

#include "host/host_api.h"

namespace tamberlo {

int ActivateCopy(int version, host::GlobalFunc global, void *local, void *serverData);
int ActivatePaste(int version, host::GlobalFunc global, void *local, void *serverData);
int ActivateSave(int version, host::GlobalFunc global, void *local, void *serverData);
int ActivateLoad(int version, host::GlobalFunc global, void *local, void *serverData);

}  // namespace tamberlo
