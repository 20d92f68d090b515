// The module's texts as a user reads them, for the suites: the programs' own
// list (transfer/labels.h).
#pragma once

#include "transfer/labels.h"

namespace tamberlo_test {
namespace labels = apps::labels;
}  // namespace tamberlo_test
