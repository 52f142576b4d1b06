// Locks that fork() takes before it copies the process, so that the child
// finds each one free and the state it guards whole. One handler serves the
// whole layer, so that the order is the one the code takes the locks in:
// the registered critical sections and SRW locks first, in the order of
// registration, then the layer's leaf mutexes.
#include <windows.h>

#include <mutex>
#include <vector>

#include "common/fork_guard.h"

namespace {

struct OrderedLock {
    LPCRITICAL_SECTION section;
    PSRWLOCK srw;
};

struct ForkLocks {
    std::mutex registration;
    std::vector<OrderedLock> ordered;
    std::vector<std::mutex*> leaves;
};

ForkLocks& Locks() {
    // Never destroyed: fork() may run while the process exits.
    static ForkLocks* const locks = new ForkLocks;
    return *locks;
}

void LockForFork() {
    ForkLocks& locks = Locks();
    locks.registration.lock();
    for (const OrderedLock& lock : locks.ordered) {
        if (lock.section)
            EnterCriticalSection(lock.section);
        else
            AcquireSRWLockExclusive(lock.srw);
    }
    for (std::mutex* mutex : locks.leaves) mutex->lock();
}

void UnlockInParent() {
    ForkLocks& locks = Locks();
    for (auto mutex = locks.leaves.rbegin(); mutex != locks.leaves.rend(); ++mutex) (*mutex)->unlock();
    for (auto lock = locks.ordered.rbegin(); lock != locks.ordered.rend(); ++lock) {
        if (lock->section)
            LeaveCriticalSection(lock->section);
        else
            ReleaseSRWLockExclusive(lock->srw);
    }
    locks.registration.unlock();
}

// The child's only thread has a new thread id, and a recursive mutex checks
// its owner's id on release: the child builds its locks afresh instead.
void ResetInChild() {
    ForkLocks& locks = Locks();
    for (std::mutex* mutex : locks.leaves) mutex->unlock();
    for (const OrderedLock& lock : locks.ordered) {
        if (lock.section)
            InitializeCriticalSection(lock.section);
        else
            InitializeSRWLock(lock.srw);
    }
    locks.registration.unlock();
}

void Register(const OrderedLock* ordered, std::mutex* leaf) {
    static const bool installed = pthread_atfork(LockForFork, UnlockInParent, ResetInChild) == 0;
    (void)installed;
    ForkLocks& locks = Locks();
    std::lock_guard<std::mutex> guard(locks.registration);
    if (ordered) locks.ordered.push_back(*ordered);
    if (leaf) locks.leaves.push_back(leaf);
}

}  // namespace

namespace nlplatform {

void KeepMutexAcrossFork(std::mutex& mutex) { Register(nullptr, &mutex); }

}  // namespace nlplatform

extern "C" {

void NlKeepCriticalSectionAcrossFork(LPCRITICAL_SECTION cs) {
    OrderedLock lock{cs, nullptr};
    Register(&lock, nullptr);
}

void NlKeepSRWLockAcrossFork(PSRWLOCK srw) {
    OrderedLock lock{nullptr, srw};
    Register(&lock, nullptr);
}

}  // extern "C"
