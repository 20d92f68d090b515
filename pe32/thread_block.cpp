#include "pe32/thread_block.h"

#include <asm/ldt.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace pe32 {

namespace {

static_assert(sizeof(void *) == 4, "the thread block serves 32-bit x86 code");

// The process environment block the thread block points to: code that looks
// there (whether a debugger is attached, the process heap) finds zeros.
struct alignas(16) ProcessBlock {
    std::byte fields[0x1000];
} processBlock{};

// Trivially destructible and in the thread's own storage, so it lives exactly
// as long as the thread: fs may be read up to the thread's very end.
thread_local ThreadBlock block{};
thread_local bool blockReady = false;

std::uint32_t Address(const void *pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// Gives fs a data segment whose base is the block: a thread-local entry of
// the descriptor table where the system has one free, else one of the
// process's local table.
void PointFsAt(ThreadBlock &target) {
    user_desc segment{};
    segment.entry_number = static_cast<unsigned>(-1);
    segment.base_addr = Address(&target);
    segment.limit = sizeof(ThreadBlock) - 1;
    segment.seg_32bit = 1;
    segment.useable = 1;
    unsigned selector = 0;
    if (syscall(SYS_set_thread_area, &segment) == 0) {
        selector = segment.entry_number << 3 | 3;
    } else {
        const int globalError = errno;
        // The local table is shared by the process's threads: each takes the
        // entry of its thread id modulo the table's size.
        segment.entry_number = static_cast<unsigned>(gettid()) % 8192;
        if (syscall(SYS_modify_ldt, 1, &segment, sizeof segment) != 0)
            throw std::runtime_error(std::string("no segment for the thread environment block: ") +
                                     std::strerror(globalError) + ", then " + std::strerror(errno));
        selector = segment.entry_number << 3 | 7;
    }
    asm volatile("movw %w0, %%fs" : : "q"(selector));
    std::uint32_t seen = 0;
    asm volatile("movl %%fs:0x18, %0" : "=r"(seen));
    if (seen != Address(&target))
        throw std::runtime_error("fs does not reach the thread environment block");
}

}  // namespace

ThreadBlock &CurrentThreadBlock() {
    if (blockReady) return block;
    block.exceptionList = 0xffffffff;
    block.self = Address(&block);
    block.processId = static_cast<std::uint32_t>(getpid());
    block.threadId = static_cast<std::uint32_t>(gettid());
    block.threadLocalStoragePointer = Address(block.implicitTls);
    block.tlsExpansionSlots = Address(block.tlsExpansion);
    block.processEnvironmentBlock = Address(&processBlock);
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void *lowest = nullptr;
        std::size_t size = 0;
        if (pthread_attr_getstack(&attributes, &lowest, &size) == 0) {
            block.stackLimit = Address(lowest);
            block.stackBase = Address(static_cast<std::byte *>(lowest) + size);
        }
        pthread_attr_destroy(&attributes);
    }
    PointFsAt(block);
    blockReady = true;
    return block;
}

}  // namespace pe32
