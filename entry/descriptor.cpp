// The module's one exported symbol: the descriptor the host reads at load.
#include "entry/activation.h"
#include "host/host_api.h"

#if defined(_WIN32)
#define TAMBERLO_EXPORT __declspec(dllexport)
#else
#define TAMBERLO_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Called by the host once after loading; the non-null result only says that
// startup succeeded. Nothing needs setting up: all state starts empty.
void *Startup() {
    return reinterpret_cast<void *>(host::MODULE_STARTUP_RESULT);
}

// Called by the host before unloading, with what Startup returned.
void Shutdown(void *) {}

host::ServerRecord servers[] = {
    {host::LAYOUT_GENERIC_CLASS, "Ruxo_Tamberlo copy", tamberlo::ActivateCopy, nullptr},
    {host::LAYOUT_GENERIC_CLASS, "Ruxo_Tamberlo paste", tamberlo::ActivatePaste, nullptr},
    {host::LAYOUT_GENERIC_CLASS, "Ruxo_Tamberlo save", tamberlo::ActivateSave, nullptr},
    {host::LAYOUT_GENERIC_CLASS, "Ruxo_Tamberlo load", tamberlo::ActivateLoad, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" TAMBERLO_EXPORT host::ModuleDescriptor _mod_descrip;

host::ModuleDescriptor _mod_descrip = {
    host::MODULE_SYNC, host::MODULE_SYSTEM_VERSION, host::MODULE_MACHINE, Startup, Shutdown,
    servers,
};
