#include "paste/paste_command.h"

#include "module/services.h"

namespace tamberlo {

void PasteCommand(host::GlobalFunc global, void * /*local*/) {
    const HostServices services = LookUpServices(global);
    (void)services;
}

}  // namespace tamberlo
