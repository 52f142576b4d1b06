// GetLastError / SetLastError: a per-thread value, as on Windows.
#include <windows.h>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

extern "C" {

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

}  // extern "C"
