#include "copy/copy_command.h"

#include "module/services.h"

namespace tamberlo {

void CopyCommand(host::GlobalFunc global, void * /*local*/) {
    const HostServices services = LookUpServices(global);
    (void)services;
}

}  // namespace tamberlo
