// Differential fuzzing of copy and paste (libFuzzer): every input is a story
// of copy and paste through the loaded module, checked against the reference
// model after every command (fuzz/driver.h).
//
// The module is the build made for the fuzzer, with coverage counters, so
// that libFuzzer is guided by the module's own branches; TAMBERLO_FUZZ_MODULE
// names another module file to fuzz instead, such as the tree's own
// Tamberlo.p, which is still compared without counters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/driver.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the module to fuzz"
#endif

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *path = std::getenv("TAMBERLO_FUZZ_MODULE");
    fuzz::Initialize(path != nullptr && *path != '\0' ? path : TAMBERLO_MODULE_PATH);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::RunOne(data, size);
    return 0;
}
