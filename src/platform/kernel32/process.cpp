// Process and thread identifiers.
#include <windows.h>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Both ids are cached for speed; a forked child has new ones, so the child
// side of fork refreshes them.
DWORD g_processId = 0;
thread_local DWORD t_threadId = 0;

void RefreshProcessId() { __atomic_store_n(&g_processId, static_cast<DWORD>(getpid()), __ATOMIC_RELAXED); }

void RefreshAfterFork() {
    RefreshProcessId();
    t_threadId = 0;
}

struct IdCache {
    IdCache() {
        RefreshProcessId();
        pthread_atfork(nullptr, nullptr, RefreshAfterFork);
    }
};
IdCache g_idCache;

}  // namespace

extern "C" {

DWORD GetCurrentProcessId(void) {
    DWORD id = __atomic_load_n(&g_processId, __ATOMIC_RELAXED);
    return id ? id : static_cast<DWORD>(getpid());
}

// The kernel's thread id, the one tools such as ps and top show.
DWORD GetCurrentThreadId(void) {
    if (t_threadId == 0) t_threadId = static_cast<DWORD>(syscall(SYS_gettid));
    return t_threadId;
}

}  // extern "C"
