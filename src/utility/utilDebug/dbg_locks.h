// The library's two locks and their scoped holder. The order is fixed: the
// settings lock first, then the adapter lock; no path waits for the settings
// lock while it holds the adapter lock. The compiler checks both rules, and
// what each lock guards (dbg_threadsafety.h, make thread-safety).
// On the library's ladder: names, locks, conversion; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include "dbg_threadsafety.h"

namespace dbg_internal {

// A lock holding one critical section. The library never takes one it
// holds: every function that takes a lock says so (EXCLUDES), and what must
// run under it is a function that needs it held (REQUIRES), which a holder
// calls instead; clang's analysis checks both (make thread-safety). The
// critical section stays recursive, as every Windows one is: the one
// exception, for a path the analysis cannot follow (log4cxx calling back,
// under the adapter lock, into a host's code that logs), which then goes on
// instead of waiting for itself.
class CAPABILITY("mutex") CSLock {
  public:
    CSLock() { InitializeCriticalSection(&section_); }
    virtual ~CSLock() { DeleteCriticalSection(&section_); }
    CSLock(const CSLock&) = delete;
    CSLock& operator=(const CSLock&) = delete;

    void Enter() ACQUIRE() { EnterCriticalSection(&section_); }
    void Leave() RELEASE() { LeaveCriticalSection(&section_); }
    // fork() takes the lock before it copies the process (see
    // NlKeepCriticalSectionAcrossFork).
    void KeepAcrossFork() { NlKeepCriticalSectionAcrossFork(&section_); }

  private:
    CRITICAL_SECTION section_;
};

// A lock that many holders may share while one alone may hold it
// exclusively; Enter and Leave take it exclusively. Not recursive.
class CAPABILITY("mutex") CSharedLock {
  public:
    CSharedLock() { InitializeSRWLock(&lock_); }
    CSharedLock(const CSharedLock&) = delete;
    CSharedLock& operator=(const CSharedLock&) = delete;

    void Enter() ACQUIRE() { AcquireSRWLockExclusive(&lock_); }
    void Leave() RELEASE() { ReleaseSRWLockExclusive(&lock_); }
    void EnterShared() ACQUIRE_SHARED() { AcquireSRWLockShared(&lock_); }
    void LeaveShared() RELEASE_SHARED() { ReleaseSRWLockShared(&lock_); }

  private:
    SRWLOCK lock_;
};

// Shares a lock for its scope.
class SCOPED_CAPABILITY CSharedGuard {
  public:
    explicit CSharedGuard(CSharedLock* lock) ACQUIRE_SHARED(lock) : lock_(lock) { lock_->EnterShared(); }
    ~CSharedGuard() RELEASE() { lock_->LeaveShared(); }
    CSharedGuard(const CSharedGuard&) = delete;
    CSharedGuard& operator=(const CSharedGuard&) = delete;

  private:
    CSharedLock* lock_;
};

// Holds a lock for its scope; Release lets it go early.
template <typename Lock>
class SCOPED_CAPABILITY CGuard {
  public:
    explicit CGuard(Lock* lock) ACQUIRE(lock) : lock_(lock), state_(0) { lock_->Enter(); }
    virtual ~CGuard() RELEASE() {
        if (state_ == 0) lock_->Leave();
    }
    CGuard(const CGuard&) = delete;
    CGuard& operator=(const CGuard&) = delete;

    void Release() RELEASE() {
        if (state_ == 0) {
            lock_->Leave();
            state_ = -1;
        }
    }

  private:
    Lock* lock_;
    int state_;  // 0 while held, -1 once released
};

// The names the analysis knows the two locks by, and their order: declared
// only, never defined, never used but in the attributes.
extern CSLock g_settingsLockName;
extern CSLock g_adapterLockName ACQUIRED_AFTER(g_settingsLockName);

// Guards the settings store and the interface's initialisation.
CSLock& SettingsLock() RETURN_CAPABILITY(g_settingsLockName);
// Guards the back end: its set-up, the log file path, the module logger table
// and the feature state.
CSLock& AdapterLock() RETURN_CAPABILITY(g_adapterLockName);

// Holds off the calling thread's cancellation while the library changes what
// other threads share (the settings, the registry's database, the open file
// and its rolls), so that a cancelled thread never leaves them half changed;
// a request made meanwhile ends the thread at Resume, on the caller's side of
// that work, or at the thread's next cancellation point when the hold just
// goes (its destructor only ends it).
class CCancellationHold {
  public:
    CCancellationHold() : wasEnabled_(NlSetThreadCancellation(FALSE)) {}
    ~CCancellationHold() {
        if (held_) NlSetThreadCancellation(wasEnabled_);
    }
    CCancellationHold(const CCancellationHold&) = delete;
    CCancellationHold& operator=(const CCancellationHold&) = delete;

    void Resume() {
        held_ = false;
        NlSetThreadCancellation(wasEnabled_);
        if (wasEnabled_) NlThreadCancellationPoint();
    }

  private:
    BOOL wasEnabled_;
    bool held_ = true;
};

}  // namespace dbg_internal
