// DBG::NL_GetThreadId: the thread id behind a handle, through kernel32's
// GetThreadId found at run time, so that a system without it gives 0.
// On the library's ladder: entry points; it includes no unit above (scripts/ladder.sh).
#include <utilDebug.h>
#include <windows.h>

namespace dbg_internal {
namespace {

using GetThreadIdFunction = DWORD (*)(HANDLE);

// kernel32 and its GetThreadId, looked up once per process; a failed lookup
// is not retried.
class CThreadIdLookup {
  public:
    CThreadIdLookup() : kernel32_(LoadLibraryW(L"kernel32.dll")) {
        if (kernel32_)
            getThreadId_ = reinterpret_cast<GetThreadIdFunction>(
                reinterpret_cast<void*>(GetProcAddress(kernel32_, "GetThreadId")));
    }
    ~CThreadIdLookup() {
        if (kernel32_) FreeLibrary(kernel32_);
    }
    CThreadIdLookup(const CThreadIdLookup&) = delete;
    CThreadIdLookup& operator=(const CThreadIdLookup&) = delete;

    DWORD ThreadId(HANDLE thread) const { return getThreadId_ ? getThreadId_(thread) : 0; }

  private:
    HMODULE kernel32_;
    GetThreadIdFunction getThreadId_ = nullptr;
};

}  // namespace
}  // namespace dbg_internal

using namespace dbg_internal;

namespace DBG {

unsigned long NL_GetThreadId(void* thread) {
    static const CThreadIdLookup lookup;
    return lookup.ThreadId(thread);
}

}  // namespace DBG
