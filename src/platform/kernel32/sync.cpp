// Critical sections: recursive mutexes, as a Windows critical section may be
// entered again by the thread that owns it.
#include <windows.h>

extern "C" {

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(&cs->mutex); }

void EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(&cs->mutex); }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(&cs->mutex); }

}  // extern "C"

// SRW locks: read-write locks that prefer a waiting writer, as Windows does,
// so that a steady flow of shared owners cannot keep an exclusive one out.
extern "C" {

void InitializeSRWLock(PSRWLOCK srw) {
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&srw->lock, &attributes);
    pthread_rwlockattr_destroy(&attributes);
}

void AcquireSRWLockShared(PSRWLOCK srw) { pthread_rwlock_rdlock(&srw->lock); }

void ReleaseSRWLockShared(PSRWLOCK srw) { pthread_rwlock_unlock(&srw->lock); }

void AcquireSRWLockExclusive(PSRWLOCK srw) { pthread_rwlock_wrlock(&srw->lock); }

void ReleaseSRWLockExclusive(PSRWLOCK srw) { pthread_rwlock_unlock(&srw->lock); }

}  // extern "C"
