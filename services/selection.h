// The selected items as the host lists them, read into the item table that
// one copy or paste activation works on.
#pragma once

#include <cstdint>

#include "model/item_table.h"
#include "services/services.h"

namespace tamberlo {

// The number of entries before the null that ends the host's selection list.
std::int32_t CountSelectedItems(const HostServices &services);

// Builds the table for the first `count` entries of the selection list, each
// item with all its channels enabled. Throws std::bad_alloc when memory runs
// out; nothing of the host is changed by a build, so the caller can just end.
ItemTable BuildItemTable(const HostServices &services, std::int32_t count);

}  // namespace tamberlo
