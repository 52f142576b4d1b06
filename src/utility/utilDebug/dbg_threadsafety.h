// The lock rules as attributes clang's thread-safety analysis checks
// (-Wthread-safety, make thread-safety): which lock guards a variable, which
// lock a function expects held or takes, and in which order the locks are
// taken. A compiler without the attributes (GCC) sees nothing of them.
// On the library's ladder: names, locks, conversion; it includes no unit above (scripts/ladder.sh).
#pragma once

#if defined(__clang__) && defined(__has_attribute)
#if __has_attribute(capability) && __has_attribute(guarded_by)
#define DBG_THREAD_SAFETY_ATTRIBUTE(x) __attribute__((x))
#endif
#endif
#ifndef DBG_THREAD_SAFETY_ATTRIBUTE
#define DBG_THREAD_SAFETY_ATTRIBUTE(x)
#endif

// A class whose objects are locks; name says what kind in the warnings.
#define CAPABILITY(name) DBG_THREAD_SAFETY_ATTRIBUTE(capability(name))
// A class whose objects hold a lock for their scope.
#define SCOPED_CAPABILITY DBG_THREAD_SAFETY_ATTRIBUTE(scoped_lockable)

// A variable read only with the lock held (shared or alone), written only
// with it held alone; for a pointer, the same of what it points to.
#define GUARDED_BY(lock) DBG_THREAD_SAFETY_ATTRIBUTE(guarded_by(lock))
#define PT_GUARDED_BY(lock) DBG_THREAD_SAFETY_ATTRIBUTE(pt_guarded_by(lock))

// The order of the locks: a lock declared ACQUIRED_AFTER another is never
// waited for while that one is held.
#define ACQUIRED_BEFORE(...) DBG_THREAD_SAFETY_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) DBG_THREAD_SAFETY_ATTRIBUTE(acquired_after(__VA_ARGS__))

// The caller holds the lock (alone, or at least shared) when it calls.
#define REQUIRES(...) DBG_THREAD_SAFETY_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) DBG_THREAD_SAFETY_ATTRIBUTE(requires_shared_capability(__VA_ARGS__))
// The caller does not hold the lock: the function takes it.
#define EXCLUDES(...) DBG_THREAD_SAFETY_ATTRIBUTE(locks_excluded(__VA_ARGS__))

// The function takes or lets go of the lock (this object's, without an argument).
#define ACQUIRE(...) DBG_THREAD_SAFETY_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) DBG_THREAD_SAFETY_ATTRIBUTE(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) DBG_THREAD_SAFETY_ATTRIBUTE(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) DBG_THREAD_SAFETY_ATTRIBUTE(release_shared_capability(__VA_ARGS__))
// The function took the lock when it returns the given value.
#define TRY_ACQUIRE(...) DBG_THREAD_SAFETY_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) DBG_THREAD_SAFETY_ATTRIBUTE(try_acquire_shared_capability(__VA_ARGS__))
// The function returns only when the lock is held, so the analysis may
// take it as held after the call.
#define ASSERT_CAPABILITY(lock) DBG_THREAD_SAFETY_ATTRIBUTE(assert_capability(lock))

// The function returns the given lock.
#define RETURN_CAPABILITY(lock) DBG_THREAD_SAFETY_ATTRIBUTE(lock_returned(lock))

// The function is not checked; each use says why the analysis cannot follow it.
#define NO_THREAD_SAFETY_ANALYSIS DBG_THREAD_SAFETY_ATTRIBUTE(no_thread_safety_analysis)
