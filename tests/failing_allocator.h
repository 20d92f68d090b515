// A global allocator for tests that can make the module's allocations fail:
// the Nth allocation made from the module's own code, or every one from the
// Nth on. Allocations by the host or the test never fail, so the host stays
// sound while the module meets the failure.
#pragma once

#include <cstddef>
#include <string>

namespace failing_allocator {

enum class Mode { Off, Once, FromThenOn };

// Finds the loaded library whose path ends with `suffix`; only calls made
// from its code are counted. Call again after every load. A Windows DLL that
// the PE32 loader runs allocates through the loader's runtime, which asks
// here for each allocation of the DLL's own code.
bool WatchLibrary(const std::string &suffix);

// Starts counting the watched library's allocations from zero.
void Arm(Mode mode, long failAt);
void Disarm();

long AllocationsSeen();   // since Arm
long FailuresInjected();  // since Arm

}  // namespace failing_allocator
