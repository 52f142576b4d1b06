// FlushProcessWriteBuffers: once it returns, every processor that runs a
// thread of the process has passed a full memory barrier, so a thread that
// publishes with plain stores and a thread that calls this can order their
// accesses as if both had fenced. The kernel's membarrier does exactly that;
// where it is missing, changing the protection of a page the process touched
// makes the kernel interrupt those processors to flush their address
// translations, which drains their store buffers too.
#include <windows.h>

#include <linux/membarrier.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "common/fork_guard.h"

namespace {

bool MembarrierExpedited() { return syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0; }

// Registration belongs to the address space: a forked child registers anew.
bool RegisterAndCallMembarrier() {
    return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0 &&
           MembarrierExpedited();
}

void FlushByProtectionChange() {
    static std::mutex* const mutex = [] {
        auto* made = new std::mutex;
        nlplatform::KeepMutexAcrossFork(*made);
        return made;
    }();
    static void* const page = [] {
        long size = sysconf(_SC_PAGESIZE);
        void* mapped = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) return static_cast<void*>(nullptr);
        mlock(mapped, static_cast<size_t>(size));
        return mapped;
    }();
    if (!page) {
        std::atomic_thread_fence(std::memory_order_seq_cst);
        return;
    }
    size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::lock_guard<std::mutex> guard(*mutex);
    mprotect(page, size, PROT_READ | PROT_WRITE);
    // Touched, so that every processor that may cache its translation holds it.
    __atomic_add_fetch(static_cast<long*>(page), 1, __ATOMIC_SEQ_CST);
    mprotect(page, size, PROT_NONE);
}

}  // namespace

extern "C" void FlushProcessWriteBuffers(void) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (MembarrierExpedited() || RegisterAndCallMembarrier()) return;
    FlushByProtectionChange();
}
