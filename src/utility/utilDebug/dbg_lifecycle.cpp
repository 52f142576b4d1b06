// The gate of the library's calls, and the one object whose life spans the
// library's: built when the library is loaded, after every other static
// object of the library (this unit is linked last) and after log4cxx's own,
// and destroyed before them.
#include "dbg_lifecycle.h"

#include <windows.h>

#include <atomic>

#include "dbg_appender.h"
#include "dbg_locks.h"

namespace {

// Shared by the calls, taken exclusively by fork() and by the teardown.
SRWLOCK g_gate;
std::atomic<bool> g_tornDown{false};
// A call made from inside a call (the record that reports a re-created log
// file) passes without taking the gate again: a waiting fork() would hold it
// off.
thread_local int t_callDepth = 0;

class CLibraryLifetime {
  public:
    CLibraryLifetime() {
        InitializeSRWLock(&g_gate);
        // fork() takes these in the order every call takes them.
        NlKeepSRWLockAcrossFork(&g_gate);
        SettingsLock().KeepAcrossFork();
        AdapterLock().KeepAcrossFork();
        // log4cxx's objects are built now, so that exit destroys them after
        // this object: records keep reaching the file until the teardown.
        WarmUpLog4cxx();
    }

    // Turns calls away from now on, and waits for those already inside.
    ~CLibraryLifetime() {
        g_tornDown.store(true, std::memory_order_seq_cst);
        AcquireSRWLockExclusive(&g_gate);
        ReleaseSRWLockExclusive(&g_gate);
    }
};

CLibraryLifetime g_lifetime;

}  // namespace

CLibraryCall::CLibraryCall() {
    if (t_callDepth > 0) {
        admitted_ = true;
    } else {
        if (g_tornDown.load(std::memory_order_seq_cst)) return;
        AcquireSRWLockShared(&g_gate);
        entered_ = true;
        admitted_ = !g_tornDown.load(std::memory_order_seq_cst);
    }
    ++t_callDepth;
}

CLibraryCall::~CLibraryCall() {
    if (!admitted_ && !entered_) return;
    --t_callDepth;
    if (entered_) ReleaseSRWLockShared(&g_gate);
}
