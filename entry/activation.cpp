#include "entry/activation.h"

#include "copy/copy_command.h"
#include "paste/paste_command.h"

namespace tamberlo {

namespace {

// Runs a command body so that nothing it throws reaches the host: each body
// already leaves the scene and the clipboard in a sound state when it fails,
// and the activation reports success whatever the body's own outcome was.
template <typename Body>
void RunShielded(Body &&body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace

// Called by the host when the user runs the copy command.
int ActivateCopy(int version, host::GlobalFunc global, void *local, void * /*serverData*/) {
    if (version != host::LAYOUT_GENERIC_VERSION) return host::AFUNC_BADVERSION;
    RunShielded([&] { CopyCommand(global, local); });
    return host::AFUNC_OK;
}

// Called by the host when the user runs the paste command.
int ActivatePaste(int version, host::GlobalFunc global, void *local, void * /*serverData*/) {
    if (version != host::LAYOUT_GENERIC_VERSION) return host::AFUNC_BADVERSION;
    RunShielded([&] { PasteCommand(global, local); });
    return host::AFUNC_OK;
}

// Called by the host for the save command, which has nothing to save.
int ActivateSave(int version, host::GlobalFunc, void *, void *) {
    return version == host::LAYOUT_GENERIC_VERSION ? host::AFUNC_OK : host::AFUNC_BADVERSION;
}

// Called by the host for the load command, which has nothing to load.
int ActivateLoad(int version, host::GlobalFunc, void *, void *) {
    return version == host::LAYOUT_GENERIC_VERSION ? host::AFUNC_OK : host::AFUNC_BADVERSION;
}

}  // namespace tamberlo
