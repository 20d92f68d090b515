#include "tests/failing_allocator.h"

#include <link.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#if TAMBERLO_LOADS_PE32
#include "pe32/runtime.h"
#endif

namespace failing_allocator {

namespace {

struct State {
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
    Mode mode = Mode::Off;
    long failAt = 0;
    long seen = 0;
    long failures = 0;
};

// Plain data, so that it is ready before any allocation of static
// constructors runs.
State state;

struct Search {
    const char *suffix;
    std::uintptr_t low;
    std::uintptr_t high;
};

int FindLibrary(dl_phdr_info *info, std::size_t, void *data) {
    auto *search = static_cast<Search *>(data);
    const std::size_t nameLength = std::strlen(info->dlpi_name);
    const std::size_t suffixLength = std::strlen(search->suffix);
    if (nameLength < suffixLength ||
        std::strcmp(info->dlpi_name + nameLength - suffixLength, search->suffix) != 0)
        return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) continue;
        const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (search->low == 0 || start < search->low) search->low = start;
        if (start + segment.p_memsz > search->high) search->high = start + segment.p_memsz;
    }
    return 1;
}

// Counts one allocation of the watched code and says whether it fails.
bool FailsNow() {
    if (state.mode == Mode::Off) return false;
    ++state.seen;
    const bool fail =
        state.mode == Mode::Once ? state.seen == state.failAt : state.seen >= state.failAt;
    if (fail) ++state.failures;
    return fail;
}

#if TAMBERLO_LOADS_PE32
// The runtime asks of every function the DLL allocates with, malloc, calloc
// and realloc alike; each counts as an allocation of the module.
bool FailsInTheDll(pe32::Allocation) {
    return FailsNow();
}
#endif

bool ShouldFail(const void *caller) {
    const auto address = reinterpret_cast<std::uintptr_t>(caller);
    return address >= state.low && address < state.high && FailsNow();
}

void *Allocate(std::size_t size, const void *caller) {
    if (ShouldFail(caller)) throw std::bad_alloc();
    void *memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void *AllocateNoThrow(std::size_t size, const void *caller) noexcept {
    if (ShouldFail(caller)) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

bool WatchLibrary(const std::string &suffix) {
    Search search{suffix.c_str(), 0, 0};
    dl_iterate_phdr(FindLibrary, &search);
    state.low = search.low;
    state.high = search.high;
#if TAMBERLO_LOADS_PE32
    // A Windows DLL allocates through the PE32 loader's runtime, which asks
    // only about the DLL's own allocations.
    if (search.high == 0 && pe32::IsLoaded(suffix)) {
        pe32::SetAllocationGate(FailsInTheDll);
        return true;
    }
#endif
    return search.high != 0;
}

void Arm(Mode mode, long failAt) {
    state.mode = mode;
    state.failAt = failAt;
    state.seen = 0;
    state.failures = 0;
}

void Disarm() {
    state.mode = Mode::Off;
}
long AllocationsSeen() {
    return state.seen;
}
long FailuresInjected() {
    return state.failures;
}

}  // namespace failing_allocator

// The replaced global allocation functions. The caller's address tells
// whether the module asked.
void *operator new(std::size_t size) {
    return failing_allocator::Allocate(size, __builtin_return_address(0));
}
void *operator new[](std::size_t size) {
    return failing_allocator::Allocate(size, __builtin_return_address(0));
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return failing_allocator::AllocateNoThrow(size, __builtin_return_address(0));
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return failing_allocator::AllocateNoThrow(size, __builtin_return_address(0));
}
void operator delete(void *memory) noexcept {
    std::free(memory);
}
void operator delete[](void *memory) noexcept {
    std::free(memory);
}
void operator delete(void *memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void *memory, std::size_t) noexcept {
    std::free(memory);
}
