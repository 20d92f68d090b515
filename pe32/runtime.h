// The small Win32 runtime that loaded DLLs are bound to: the KERNEL32 and
// msvcrt functions and data a MinGW-built DLL imports, written over this
// process's own C library. Where a function has a sound meaning in a process
// of one thread that creates no others, it does what Windows does; the rest
// stop the run with a message that names them, so a DLL that reaches one is
// seen at once rather than misled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pe32 {

// The address an import binds to: a function, or the data of a data import;
// null when the runtime does not have it.
void *RuntimeImport(std::string_view library, std::string_view name);

// Whether the runtime provides an import (false: it stops the run if called).
bool RuntimeProvides(std::string_view library, std::string_view name);

// The code of each loaded image, so that the runtime can tell an allocation a
// DLL asks for from one of this process, and answer GetModuleHandle and
// GetProcAddress for loaded DLLs.
class Image;
void RegisterImage(const Image &image);
void UnregisterImage(const Image &image);

// Whether a DLL of that name (its file's or the one it exports) is loaded.
bool IsLoaded(std::string_view name);

// The runtime's allocation functions, every one of which asks the gate below.
enum class Allocation { Malloc, Calloc, Realloc };
struct AllocationFunction {
    Allocation function;
    std::string_view name;  // as the DLL imports it
};
inline constexpr AllocationFunction ALLOCATION_FUNCTIONS[] = {{Allocation::Malloc, "malloc"},
                                                              {Allocation::Calloc, "calloc"},
                                                              {Allocation::Realloc, "realloc"}};

// Decides for each allocation that a loaded DLL's own code asks of the
// runtime whether it fails, told which function was asked: a gate that
// returns true makes it return null, as an exhausted heap would. No gate: none
// fails. Allocations of this process are never asked about.
using AllocationGate = bool (*)(Allocation asked);
void SetAllocationGate(AllocationGate gate);

// What the loaded DLLs hold of the heap through the runtime, in bytes the
// allocator handed out: now, and the most at any one time since the first
// DLL was loaded. It shows a DLL's own memory apart from the process's.
struct HeapUse {
    std::size_t now = 0;
    std::size_t peak = 0;
};
HeapUse DllHeapUse();

}  // namespace pe32
