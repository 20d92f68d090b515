// The module's one exported symbol: the descriptor the host reads at load.
#include "host/host_api.h"
#include "module/activation.h"

#if defined(_WIN32)
#define TAMBERLO_EXPORT __declspec(dllexport)
#else
#define TAMBERLO_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Called by the host once after loading; the non-null result only says that
// startup succeeded. Nothing needs setting up: all state starts empty.
void *Startup() {
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(4));
}

// Called by the host before unloading, with what Startup returned.
void Shutdown(void *) {}

host::ServerRecord servers[] = {
    {"LayoutGeneric", "Ruxo_Tamberlo copy", tamberlo::ActivateCopy, nullptr},
    {"LayoutGeneric", "Ruxo_Tamberlo paste", tamberlo::ActivatePaste, nullptr},
    {"LayoutGeneric", "Ruxo_Tamberlo save", tamberlo::ActivateSave, nullptr},
    {"LayoutGeneric", "Ruxo_Tamberlo load", tamberlo::ActivateLoad, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" TAMBERLO_EXPORT host::ModuleDescriptor _mod_descrip;

host::ModuleDescriptor _mod_descrip = {
    host::MODULE_SYNC, host::MODULE_SYSTEM_VERSION, host::MODULE_MACHINE, Startup, Shutdown,
    servers,
};
