// The library's two locks and their scoped holder. The order is fixed: the
// settings lock first, then the adapter lock; no path waits for the settings
// lock while it holds the adapter lock.
// On the library's ladder: product-key access; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

namespace dbg_internal {

// A lock holding one critical section: recursive, like every Windows critical
// section, so a thread that holds it may take it again.
class CSLock {
  public:
    CSLock() { InitializeCriticalSection(&section_); }
    virtual ~CSLock() { DeleteCriticalSection(&section_); }
    CSLock(const CSLock&) = delete;
    CSLock& operator=(const CSLock&) = delete;

    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }
    // fork() takes the lock before it copies the process (see
    // NlKeepCriticalSectionAcrossFork).
    void KeepAcrossFork() { NlKeepCriticalSectionAcrossFork(&section_); }

  private:
    CRITICAL_SECTION section_;
};

// A lock that many holders may share while one alone may hold it
// exclusively; Enter and Leave take it exclusively.
class CSharedLock {
  public:
    CSharedLock() { InitializeSRWLock(&lock_); }
    CSharedLock(const CSharedLock&) = delete;
    CSharedLock& operator=(const CSharedLock&) = delete;

    void Enter() { AcquireSRWLockExclusive(&lock_); }
    void Leave() { ReleaseSRWLockExclusive(&lock_); }
    void EnterShared() { AcquireSRWLockShared(&lock_); }
    void LeaveShared() { ReleaseSRWLockShared(&lock_); }

  private:
    SRWLOCK lock_;
};

// Shares a lock for its scope.
class SharedGuard {
  public:
    explicit SharedGuard(CSharedLock* lock) : lock_(lock) { lock_->EnterShared(); }
    ~SharedGuard() { lock_->LeaveShared(); }
    SharedGuard(const SharedGuard&) = delete;
    SharedGuard& operator=(const SharedGuard&) = delete;

  private:
    CSharedLock* lock_;
};

// Holds a lock for its scope; Release lets it go early.
template <typename Lock>
class Guard {
  public:
    explicit Guard(Lock* lock) : lock_(lock), state_(0) { lock_->Enter(); }
    virtual ~Guard() {
        if (state_ == 0) lock_->Leave();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    void Release() {
        if (state_ == 0) {
            lock_->Leave();
            state_ = -1;
        }
    }

  private:
    Lock* lock_;
    int state_;  // 0 while held, -1 once released
};

// Guards the settings store and the interface's initialisation.
CSLock& SettingsLock();
// Guards the back end: its set-up, the log file path, the module logger table
// and the feature state.
CSLock& AdapterLock();

}  // namespace dbg_internal
