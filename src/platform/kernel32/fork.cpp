// Locks that fork() takes before it copies the process, so that the child
// finds each one free and the state it guards whole. One handler serves the
// whole layer, so that the order is the one the code takes the locks in:
// the registered critical sections and SRW locks first, in the order of
// registration, then the layer's outer mutexes, then its leaf mutexes.
#include <windows.h>

#include <mutex>
#include <vector>

#include "common/fork_guard.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// ThreadSanitizer saw fork()'s thread take the lock, which the child then
// builds afresh: it must hear of that as a release.
void TellSanitizerReleased([[maybe_unused]] void* lock) {
#if defined(__SANITIZE_THREAD__)
    __tsan_mutex_pre_unlock(lock, 0);
    __tsan_mutex_post_unlock(lock, 0);
#endif
}

// One of a critical section, an SRW lock, a pair of steps or an outer mutex.
struct OrderedLock {
    LPCRITICAL_SECTION section;
    PSRWLOCK srw;
    NL_FORK_STEP close;
    NL_FORK_STEP open;
    std::mutex* outer;
};

void Take(const OrderedLock& lock) {
    if (lock.section)
        EnterCriticalSection(lock.section);
    else if (lock.srw)
        AcquireSRWLockExclusive(lock.srw);
    else if (lock.outer)
        lock.outer->lock();
    else
        lock.close();
}

struct ForkLocks {
    std::mutex registration;
    std::vector<OrderedLock> ordered;
    std::vector<OrderedLock> outer;
    std::vector<std::mutex*> leaves;
};

ForkLocks& Locks() {
    // Never destroyed: fork() may run while the process exits.
    static ForkLocks* const locks = new ForkLocks;
    return *locks;
}

// The ordered locks fork() took: registration may go on meanwhile, and the
// handlers after fork() free exactly these.
std::vector<OrderedLock>& TakenForFork() {
    static std::vector<OrderedLock>* const taken = new std::vector<OrderedLock>;
    return *taken;
}

// The registration mutex is a leaf like the others: a thread may register a
// lock while it holds an ordered or an outer one, so it is taken after them.
void LockForFork() {
    ForkLocks& locks = Locks();
    std::vector<OrderedLock>& taken = TakenForFork();
    {
        std::lock_guard<std::mutex> guard(locks.registration);
        taken = locks.ordered;
        taken.insert(taken.end(), locks.outer.begin(), locks.outer.end());
    }
    for (const OrderedLock& lock : taken) Take(lock);
    locks.registration.lock();
    for (std::mutex* mutex : locks.leaves) mutex->lock();
}

void UnlockInParent() {
    ForkLocks& locks = Locks();
    for (auto mutex = locks.leaves.rbegin(); mutex != locks.leaves.rend(); ++mutex) (*mutex)->unlock();
    locks.registration.unlock();
    std::vector<OrderedLock>& taken = TakenForFork();
    for (auto lock = taken.rbegin(); lock != taken.rend(); ++lock) {
        if (lock->section)
            LeaveCriticalSection(lock->section);
        else if (lock->srw)
            ReleaseSRWLockExclusive(lock->srw);
        else if (lock->outer)
            lock->outer->unlock();
        else
            lock->open();
    }
}

// The child's only thread has a new thread id, and a recursive mutex checks
// its owner's id on release: the child builds its locks afresh instead.
void ResetInChild() {
    ForkLocks& locks = Locks();
    for (std::mutex* mutex : locks.leaves) mutex->unlock();
    locks.registration.unlock();
    std::vector<OrderedLock>& taken = TakenForFork();
    for (auto lock = taken.rbegin(); lock != taken.rend(); ++lock) {
        if (lock->section) {
            TellSanitizerReleased(&lock->section->mutex);
            InitializeCriticalSection(lock->section);
        } else if (lock->srw) {
            TellSanitizerReleased(&lock->srw->lock);
            InitializeSRWLock(lock->srw);
        } else if (lock->outer) {
            lock->outer->unlock();
        } else {
            lock->open();
        }
    }
}

void Register(const OrderedLock* ordered, std::mutex* leaf) {
    static const bool installed = pthread_atfork(LockForFork, UnlockInParent, ResetInChild) == 0;
    (void)installed;
    ForkLocks& locks = Locks();
    std::lock_guard<std::mutex> guard(locks.registration);
    if (ordered) (ordered->outer ? locks.outer : locks.ordered).push_back(*ordered);
    if (leaf) locks.leaves.push_back(leaf);
}

}  // namespace

namespace nlplatform {

void KeepMutexAcrossFork(std::mutex& mutex) { Register(nullptr, &mutex); }

void KeepOuterMutexAcrossFork(std::mutex& mutex) {
    OrderedLock lock{nullptr, nullptr, nullptr, nullptr, &mutex};
    Register(&lock, nullptr);
}

}  // namespace nlplatform

extern "C" {

void NlKeepCriticalSectionAcrossFork(LPCRITICAL_SECTION cs) {
    OrderedLock lock{cs, nullptr, nullptr, nullptr, nullptr};
    Register(&lock, nullptr);
}

void NlKeepSRWLockAcrossFork(PSRWLOCK srw) {
    OrderedLock lock{nullptr, srw, nullptr, nullptr, nullptr};
    Register(&lock, nullptr);
}

void NlKeepStateAcrossFork(NL_FORK_STEP close, NL_FORK_STEP open) {
    if (!close || !open) return;
    OrderedLock lock{nullptr, nullptr, close, open, nullptr};
    Register(&lock, nullptr);
}

}  // extern "C"
