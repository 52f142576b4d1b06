// Thread handles: GetCurrentThread, OpenThread, GetThreadId; and thread
// cancellation, which Windows threads do not have.
#include <windows.h>

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "kernel32/handle.h"

namespace {

// The value Windows gives the current thread's pseudo-handle.
const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

class ThreadObject final : public nlplatform::KernelObject {
  public:
    ThreadObject(DWORD threadId, DWORD access) : threadId_(threadId), access_(access) {}
    bool Close() override { return true; }

    DWORD threadId() const { return threadId_; }
    bool MayQuery() const {
        return (access_ & (THREAD_QUERY_INFORMATION | THREAD_QUERY_LIMITED_INFORMATION)) != 0;
    }

  private:
    DWORD threadId_;
    DWORD access_;
};

// Whether threadId is a live thread of this process: signal 0 is checked,
// never sent.
bool IsThreadOfThisProcess(DWORD threadId) {
    if (threadId == 0 || threadId > 0x7FFFFFFFu) return false;
    if (syscall(SYS_tgkill, getpid(), static_cast<pid_t>(threadId), 0) == 0) return true;
    return errno == EPERM;
}

}  // namespace

extern "C" {

HANDLE GetCurrentThread(void) { return kCurrentThreadPseudoHandle; }

// Inheritance has no meaning here: the handle is not a file descriptor.
HANDLE OpenThread(DWORD desiredAccess, BOOL, DWORD threadId) {
    if (!IsThreadOfThisProcess(threadId)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return nlplatform::AddHandle(std::make_unique<ThreadObject>(threadId, desiredAccess));
}

DWORD GetThreadId(HANDLE thread) {
    if (thread == kCurrentThreadPseudoHandle) return GetCurrentThreadId();
    std::shared_ptr<ThreadObject> object = nlplatform::FindHandleOf<ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!object->MayQuery()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return object->threadId();
}

BOOL NlSetThreadCancellation(BOOL enabled) {
    int previous = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(enabled ? PTHREAD_CANCEL_ENABLE : PTHREAD_CANCEL_DISABLE, &previous);
    return previous == PTHREAD_CANCEL_ENABLE;
}

void NlThreadCancellationPoint(void) { pthread_testcancel(); }

}  // extern "C"
