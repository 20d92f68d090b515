#include "pe32/runtime.h"

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pe32/image.h"
#include "pe32/thread_block.h"

// Every function a DLL calls may find the stack aligned to 4 bytes only, as
// Windows code keeps it; these realign it before this process's code runs.
#define RUNTIME_ENTRY __attribute__((force_align_arg_pointer))
#define WINAPI __attribute__((stdcall, force_align_arg_pointer))

namespace pe32 {

namespace {

using BOOL = int;
using DWORD = std::uint32_t;
using HANDLE = void *;
using LONG = std::int32_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD INFINITE = 0xffffffff;
constexpr DWORD TLS_OUT_OF_INDEXES = 0xffffffff;

[[noreturn]] void Stop(const std::string &what) {
    std::fprintf(stderr, "pe32: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// --- What the runtime knows of the process -------------------------------

// State that no static destructor of the process ends. A program may keep a
// DLL in a static object, which unloads it only while the process exits,
// maybe after this file's own statics are gone; the DLL's static
// destructors then still close their locks and free their memory here. What
// it holds is given back with the process.
template <typename T>
union KeptUntilExit {
    KeptUntilExit() : value() {}
    ~KeptUntilExit() {}
    T value;
};

std::vector<const Image *> &Images() {
    static KeptUntilExit<std::vector<const Image *>> images;
    return images.value;
}

AllocationGate allocationGate = nullptr;

const Image *ImageHolding(const void *address) {
    for (const Image *image : Images())
        if (image->Contains(address)) return image;
    return nullptr;
}

// Whether the allocation asked of `function` from `caller` is to fail.
bool RefusedFor(Allocation function, const void *caller) {
    return allocationGate != nullptr && ImageHolding(caller) != nullptr && allocationGate(function);
}

// The heap the DLLs hold: every block they get or give back through the
// runtime, counted by the size the allocator gave it.
HeapUse dllHeap;

void *Taken(void *memory) {
    if (memory != nullptr) {
        dllHeap.now += malloc_usable_size(memory);
        dllHeap.peak = std::max(dllHeap.peak, dllHeap.now);
    }
    return memory;
}

void GivenBack(void *memory) {
    if (memory != nullptr) dllHeap.now -= malloc_usable_size(memory);
}

// The semaphores behind the C runtime's locks: what is left to take.
struct Semaphore {
    LONG count = 0;
    LONG maximum = 0;
};
std::map<std::uintptr_t, Semaphore> &Semaphores() {
    static KeptUntilExit<std::map<std::uintptr_t, Semaphore>> semaphores;
    return semaphores.value;
}
std::uintptr_t lastHandle = 0x100;

Semaphore *SemaphoreOf(HANDLE handle) {
    const auto found = Semaphores().find(reinterpret_cast<std::uintptr_t>(handle));
    return found == Semaphores().end() ? nullptr : &found->second;
}

bool tlsSlotUsed[TLS_INDEX_COUNT] = {};

// This thread's value of a TLS index, in the block's own slots or beyond.
std::uint32_t &TlsValue(DWORD slot) {
    ThreadBlock &thread = CurrentThreadBlock();
    return slot < TLS_SLOT_COUNT ? thread.tlsSlots[slot]
                                 : thread.tlsExpansion[slot - TLS_SLOT_COUNT];
}

// Windows compares module names without regard to case.
bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string HandleText(HANDLE handle) {
    return std::to_string(reinterpret_cast<std::uintptr_t>(handle));
}

}  // namespace

// --- KERNEL32 --------------------------------------------------------------

namespace kernel32 {

DWORD WINAPI GetLastError() {
    return CurrentThreadBlock().lastError;
}
void WINAPI SetLastError(DWORD error) {
    CurrentThreadBlock().lastError = error;
}

DWORD WINAPI GetCurrentThreadId() {
    return CurrentThreadBlock().threadId;
}
// The runtime's one thread holds every critical section it enters; another
// thread could only have entered one if there were another thread.
struct CriticalSection {
    void *debugInfo;
    LONG lockCount;
    LONG recursionCount;
    HANDLE owningThread;
    HANDLE lockSemaphore;
    DWORD spinCount;
};
static_assert(sizeof(CriticalSection) == 24);

void WINAPI InitializeCriticalSection(CriticalSection *section) {
    *section = CriticalSection{nullptr, -1, 0, nullptr, nullptr, 0};
}
void WINAPI DeleteCriticalSection(CriticalSection *section) {
    *section = CriticalSection{};
}
void WINAPI EnterCriticalSection(CriticalSection *section) {
    const HANDLE self = reinterpret_cast<HANDLE>(std::uintptr_t{GetCurrentThreadId()});
    if (section->owningThread != nullptr && section->owningThread != self)
        Stop("EnterCriticalSection would wait forever for a section no other thread can leave");
    section->owningThread = self;
    ++section->recursionCount;
    ++section->lockCount;
}
void WINAPI LeaveCriticalSection(CriticalSection *section) {
    --section->lockCount;
    if (--section->recursionCount <= 0) {
        section->recursionCount = 0;
        section->owningThread = nullptr;
    }
}

DWORD WINAPI TlsAlloc() {
    for (DWORD slot = 0; slot < TLS_INDEX_COUNT; ++slot) {
        if (tlsSlotUsed[slot]) continue;
        tlsSlotUsed[slot] = true;
        TlsValue(slot) = 0;
        return slot;
    }
    return TLS_OUT_OF_INDEXES;
}
BOOL WINAPI TlsFree(DWORD slot) {
    if (slot >= TLS_INDEX_COUNT || !tlsSlotUsed[slot]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    tlsSlotUsed[slot] = false;
    return TRUE;
}
void *WINAPI TlsGetValue(DWORD slot) {
    if (slot >= TLS_INDEX_COUNT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(0);
    return reinterpret_cast<void *>(std::uintptr_t{TlsValue(slot)});
}
BOOL WINAPI TlsSetValue(DWORD slot, void *value) {
    if (slot >= TLS_INDEX_COUNT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TlsValue(slot) = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(value));
    return TRUE;
}

HANDLE WINAPI CreateSemaphoreW(void *, LONG initialCount, LONG maximumCount, const char16_t *) {
    if (initialCount < 0 || maximumCount <= 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    lastHandle += 4;
    Semaphores()[lastHandle] = Semaphore{initialCount, maximumCount};
    return reinterpret_cast<HANDLE>(lastHandle);
}
BOOL WINAPI ReleaseSemaphore(HANDLE handle, LONG release, LONG *previous) {
    Semaphore *semaphore = SemaphoreOf(handle);
    if (semaphore == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (release <= 0 || release > semaphore->maximum - semaphore->count) {
        SetLastError(release <= 0 ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (previous != nullptr) *previous = semaphore->count;
    semaphore->count += release;
    return TRUE;
}
BOOL WINAPI CloseHandle(HANDLE handle) {
    if (Semaphores().erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
void WINAPI Sleep(DWORD milliseconds) {
    const timespec pause{static_cast<time_t>(milliseconds / 1000),
                         static_cast<long>(milliseconds % 1000) * 1000000};
    nanosleep(&pause, nullptr);
}
// A wait that nothing can end stops the run: the one thread would wait forever.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Semaphore *semaphore = SemaphoreOf(handle);
    if (semaphore == nullptr)
        Stop("WaitForSingleObject on handle " + HandleText(handle) + ", which is not open");
    if (semaphore->count > 0) {
        --semaphore->count;
        return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE)
        Stop("WaitForSingleObject would wait forever: no other thread can release handle " +
             HandleText(handle));
    Sleep(milliseconds);
    return WAIT_TIMEOUT;
}

// Loaded DLLs answer to their exported name or their file name; no other
// module is loaded, and the program is not a Windows module at all.
const Image *ImageNamed(std::string_view name) {
    for (const Image *image : Images()) {
        const std::string &path = image->Path();
        const std::string_view file = std::string_view(path).substr(path.find_last_of('/') + 1);
        if (SameIgnoringCase(name, image->ExportedName()) || SameIgnoringCase(name, file))
            return image;
    }
    return nullptr;
}
HANDLE WINAPI GetModuleHandleA(const char *name) {
    if (name == nullptr) Stop("GetModuleHandleA(NULL): the program is not a Windows module");
    if (const Image *image = ImageNamed(name)) return reinterpret_cast<HANDLE>(image->Base());
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
HANDLE WINAPI GetModuleHandleW(const char16_t *name) {
    if (name == nullptr) Stop("GetModuleHandleW(NULL): the program is not a Windows module");
    std::string narrow;
    for (; *name != 0; ++name) narrow += *name < 0x80 ? static_cast<char>(*name) : '?';
    return GetModuleHandleA(narrow.c_str());
}
void *WINAPI GetProcAddress(HANDLE module, const char *name) {
    for (const Image *image : Images()) {
        if (reinterpret_cast<HANDLE>(image->Base()) != module) continue;
        // Names only: a "name" below 64 KB is an ordinal.
        if (reinterpret_cast<std::uintptr_t>(name) >= 0x10000)
            if (void *address = image->Export(name)) return address;
        break;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

}  // namespace kernel32

// --- msvcrt ----------------------------------------------------------------

namespace msvcrt {

int errnoValue = 0;
int mbCurMax = 1;

// msvcrt's FILE record; _iob holds standard input, output and error.
struct File {
    char *ptr;
    int cnt;
    char *base;
    int flag;
    int file;
    int charbuf;
    int bufsiz;
    char *tmpfname;
};
static_assert(sizeof(File) == 32);
File iob[3] = {{nullptr, 0, nullptr, 0, 0, 0, 0, nullptr},
               {nullptr, 0, nullptr, 0, 1, 0, 0, nullptr},
               {nullptr, 0, nullptr, 0, 2, 0, 0, nullptr}};

int DescriptorOf(const File *file) {
    if (file < std::begin(iob) || file >= std::end(iob))
        Stop("a stream other than standard input, output or error was written to");
    return file->file;
}

RUNTIME_ENTRY int *_errno() {
    return &errnoValue;
}
RUNTIME_ENTRY void _initterm(void (**begin)(), void (**end)()) {
    for (; begin < end; ++begin)
        if (*begin != nullptr) (*begin)();
}
// The one thread needs no locks between itself.
RUNTIME_ENTRY void _lock(int) {}
RUNTIME_ENTRY void _unlock(int) {}

RUNTIME_ENTRY void *malloc(std::size_t size) {
    if (RefusedFor(Allocation::Malloc, __builtin_return_address(0))) {
        errnoValue = ENOMEM;
        return nullptr;
    }
    return Taken(std::malloc(size));
}
RUNTIME_ENTRY void *calloc(std::size_t count, std::size_t size) {
    if (RefusedFor(Allocation::Calloc, __builtin_return_address(0))) {
        errnoValue = ENOMEM;
        return nullptr;
    }
    return Taken(std::calloc(count, size));
}
RUNTIME_ENTRY void *realloc(void *memory, std::size_t size) {
    if (RefusedFor(Allocation::Realloc, __builtin_return_address(0))) {
        errnoValue = ENOMEM;
        return nullptr;
    }
    // The old block is counted out only once it is given back: a failed
    // realloc leaves it with the DLL.
    const std::size_t before = memory == nullptr ? 0 : malloc_usable_size(memory);
    void *moved = std::realloc(memory, size);
    if (moved == nullptr && size != 0) return nullptr;
    dllHeap.now -= before;
    return Taken(moved);
}
RUNTIME_ENTRY void free(void *memory) {
    GivenBack(memory);
    std::free(memory);
}
RUNTIME_ENTRY void *memcpy(void *to, const void *from, std::size_t size) {
    return std::memcpy(to, from, size);
}
RUNTIME_ENTRY void *memmove(void *to, const void *from, std::size_t size) {
    return std::memmove(to, from, size);
}
RUNTIME_ENTRY void *memset(void *to, int byte, std::size_t size) {
    return std::memset(to, byte, size);
}
RUNTIME_ENTRY int memcmp(const void *a, const void *b, std::size_t size) {
    return std::memcmp(a, b, size);
}
RUNTIME_ENTRY const void *memchr(const void *memory, int byte, std::size_t size) {
    return std::memchr(memory, byte, size);
}
RUNTIME_ENTRY std::size_t strlen(const char *text) {
    return std::strlen(text);
}
RUNTIME_ENTRY int strcmp(const char *a, const char *b) {
    return std::strcmp(a, b);
}
RUNTIME_ENTRY int strncmp(const char *a, const char *b, std::size_t size) {
    return std::strncmp(a, b, size);
}
RUNTIME_ENTRY const char *strchr(const char *text, int byte) {
    return std::strchr(text, byte);
}
RUNTIME_ENTRY char *strerror(int error) {
    return std::strerror(error);
}
RUNTIME_ENTRY int atoi(const char *text) {
    return std::atoi(text);
}
// Windows' wide characters are 16 bits, not this system's 32.
RUNTIME_ENTRY std::size_t wcslen(const char16_t *text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}
RUNTIME_ENTRY int fputc(int byte, File *file) {
    const char one = static_cast<char>(byte);
    return write(DescriptorOf(file), &one, 1) == 1 ? byte & 0xff : EOF;
}
RUNTIME_ENTRY int fputs(const char *text, File *file) {
    const std::size_t size = std::strlen(text);
    return write(DescriptorOf(file), text, size) == static_cast<ssize_t>(size) ? 0 : EOF;
}
RUNTIME_ENTRY std::size_t fwrite(const void *data, std::size_t size, std::size_t count,
                                 File *file) {
    if (size == 0 || count == 0) return 0;
    const ssize_t written = write(DescriptorOf(file), data, size * count);
    return written < 0 ? 0 : static_cast<std::size_t>(written) / size;
}
RUNTIME_ENTRY int vfprintf(File *file, const char *format, va_list arguments) {
    return vdprintf(DescriptorOf(file), format, arguments);
}
[[noreturn]] RUNTIME_ENTRY void abort() {
    Stop("the DLL called abort()");
}
[[noreturn]] RUNTIME_ENTRY void _amsg_exit(int message) {
    Stop("the DLL's C runtime gave up with message " + std::to_string(message));
}

}  // namespace msvcrt

// --- The table of imports --------------------------------------------------

namespace {

// A string as a template argument, so that each stub below knows its name.
template <std::size_t N>
struct Literal {
    constexpr Literal(const char (&text)[N]) { std::copy_n(text, N, this->text); }
    char text[N];
};

// What a DLL reaches when it calls an import the runtime does not provide.
template <Literal library, Literal name>
[[noreturn]] RUNTIME_ENTRY void Unprovided() {
    Stop(std::string(library.text) + "!" + name.text +
         ": the DLL called an import this runtime does not provide");
}

struct Import {
    std::string_view library;
    std::string_view name;
    void *address;
    bool provided;
};

template <Literal name>
Import Kernel32Stops() {
    return {"KERNEL32.dll", name.text, reinterpret_cast<void *>(&Unprovided<"KERNEL32.dll", name>),
            false};
}
template <Literal name>
Import MsvcrtStops() {
    return {"msvcrt.dll", name.text, reinterpret_cast<void *>(&Unprovided<"msvcrt.dll", name>),
            false};
}
#define KERNEL32(function)                                                             \
    Import {                                                                           \
        "KERNEL32.dll", #function, reinterpret_cast<void *>(&kernel32::function), true \
    }
#define MSVCRT(function)                                                           \
    Import {                                                                       \
        "msvcrt.dll", #function, reinterpret_cast<void *>(&msvcrt::function), true \
    }

const Import IMPORTS[] = {
    KERNEL32(CloseHandle),
    KERNEL32(CreateSemaphoreW),
    KERNEL32(DeleteCriticalSection),
    KERNEL32(EnterCriticalSection),
    Kernel32Stops<"FreeLibrary">(),
    KERNEL32(GetCurrentThreadId),
    KERNEL32(GetLastError),
    KERNEL32(GetModuleHandleA),
    KERNEL32(GetModuleHandleW),
    KERNEL32(GetProcAddress),
    KERNEL32(InitializeCriticalSection),
    Kernel32Stops<"IsDBCSLeadByteEx">(),
    KERNEL32(LeaveCriticalSection),
    Kernel32Stops<"LoadLibraryA">(),
    Kernel32Stops<"LoadLibraryW">(),
    Kernel32Stops<"MultiByteToWideChar">(),
    KERNEL32(ReleaseSemaphore),
    KERNEL32(SetLastError),
    KERNEL32(Sleep),
    KERNEL32(TlsAlloc),
    KERNEL32(TlsFree),
    KERNEL32(TlsGetValue),
    KERNEL32(TlsSetValue),
    Kernel32Stops<"VirtualProtect">(),
    Kernel32Stops<"VirtualQuery">(),
    KERNEL32(WaitForSingleObject),
    Kernel32Stops<"WideCharToMultiByte">(),

    // Data imports bind to the data itself.
    Import{"msvcrt.dll", "__mb_cur_max", &msvcrt::mbCurMax, true},
    Import{"msvcrt.dll", "_iob", &msvcrt::iob, true},
    MSVCRT(_amsg_exit),
    MsvcrtStops<"_close">(),
    MSVCRT(_errno),
    MSVCRT(_initterm),
    MSVCRT(_lock),
    MsvcrtStops<"_read">(),
    MSVCRT(_unlock),
    MSVCRT(abort),
    MSVCRT(atoi),
    MSVCRT(calloc),
    MSVCRT(fputc),
    MSVCRT(fputs),
    MSVCRT(free),
    MSVCRT(fwrite),
    MsvcrtStops<"localeconv">(),
    MSVCRT(malloc),
    MSVCRT(memchr),
    MSVCRT(memcmp),
    MSVCRT(memcpy),
    MSVCRT(memmove),
    MSVCRT(memset),
    MSVCRT(realloc),
    MsvcrtStops<"setlocale">(),
    MSVCRT(strchr),
    MSVCRT(strcmp),
    MSVCRT(strerror),
    MSVCRT(strlen),
    MSVCRT(strncmp),
    MSVCRT(vfprintf),
    MSVCRT(wcslen),
};

const Import *Find(std::string_view library, std::string_view name) {
    for (const Import &import : IMPORTS)
        if (import.name == name && SameIgnoringCase(import.library, library)) return &import;
    return nullptr;
}

}  // namespace

void *RuntimeImport(std::string_view library, std::string_view name) {
    const Import *import = Find(library, name);
    return import != nullptr ? import->address : nullptr;
}

bool RuntimeProvides(std::string_view library, std::string_view name) {
    const Import *import = Find(library, name);
    return import != nullptr && import->provided;
}

void RegisterImage(const Image &image) {
    Images().push_back(&image);
}

void UnregisterImage(const Image &image) {
    std::vector<const Image *> &loaded = Images();
    loaded.erase(std::remove(loaded.begin(), loaded.end(), &image), loaded.end());
}

bool IsLoaded(std::string_view name) {
    return kernel32::ImageNamed(name) != nullptr;
}

void SetAllocationGate(AllocationGate gate) {
    allocationGate = gate;
}

HeapUse DllHeapUse() {
    return dllHeap;
}

}  // namespace pe32
