// The thread environment block that 32-bit Windows code finds behind the fs
// segment register: the code reads its own address at fs:0x18, its stack
// bounds, its last error and its thread-local storage there, as it would on
// Windows. Each thread that runs DLL code gets one, made at its first use and
// kept until the thread ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pe32 {

// TlsAlloc's slots, and the slots of DLLs with implicit thread-local data.
// As on Windows, TlsAlloc hands out the block's own slots first and then its
// expansion slots: a DLL whose C++ runtime never frees its index takes one
// at every load, and the process may load it that many times.
inline constexpr std::size_t TLS_SLOT_COUNT = 64;
inline constexpr std::size_t TLS_EXPANSION_COUNT = 1024;
inline constexpr std::size_t TLS_INDEX_COUNT = TLS_SLOT_COUNT + TLS_EXPANSION_COUNT;
inline constexpr std::size_t IMPLICIT_TLS_COUNT = 64;

// The fields Windows code reads, at the offsets it reads them from; the rest
// of the page stays zero.
struct ThreadBlock {
    std::uint32_t exceptionList;  // 0x00: the end of the SEH chain, 0xffffffff
    std::uint32_t stackBase;      // 0x04
    std::uint32_t stackLimit;     // 0x08
    std::uint32_t unused0[3];
    std::uint32_t self;  // 0x18: the block's own address
    std::uint32_t unused1;
    std::uint32_t processId;                  // 0x20
    std::uint32_t threadId;                   // 0x24
    std::uint32_t unused2;                    // 0x28
    std::uint32_t threadLocalStoragePointer;  // 0x2c: implicitTls below
    std::uint32_t processEnvironmentBlock;    // 0x30
    std::uint32_t lastError;                  // 0x34
    std::byte unused3[0xe10 - 0x38];
    std::uint32_t tlsSlots[TLS_SLOT_COUNT];  // 0xe10
    std::byte unused4[0xf94 - 0xf10];
    std::uint32_t tlsExpansionSlots;  // 0xf94: tlsExpansion below
    std::byte unused5[0x1000 - 0xf98];
    // Beyond the page Windows code addresses: one pointer per DLL index, to
    // that DLL's block of implicit thread-local data for this thread; then
    // the TLS slots beyond the block's own.
    void *implicitTls[IMPLICIT_TLS_COUNT];
    std::uint32_t tlsExpansion[TLS_EXPANSION_COUNT];
};

static_assert(offsetof(ThreadBlock, self) == 0x18);
static_assert(offsetof(ThreadBlock, processId) == 0x20);
static_assert(offsetof(ThreadBlock, threadLocalStoragePointer) == 0x2c);
static_assert(offsetof(ThreadBlock, lastError) == 0x34);
static_assert(offsetof(ThreadBlock, tlsSlots) == 0xe10);
static_assert(offsetof(ThreadBlock, tlsExpansionSlots) == 0xf94);
static_assert(offsetof(ThreadBlock, implicitTls) == 0x1000);

// The calling thread's block, made and put behind fs at the first call.
// Throws std::runtime_error when the system gives no segment for it.
ThreadBlock &CurrentThreadBlock();

}  // namespace pe32
