// The clock of the log file check, and the look at the file.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_logcheck.h"

#include <windows.h>

#include <atomic>

#include "dbg_diagnostics.h"

namespace dbg_internal {

namespace {

constexpr DWORD kFileCheckIntervalMs = 3000;
std::atomic<DWORD> g_lastFileCheckTick{0};

}  // namespace

bool LogFileCheckIsDue() {
    DWORD now = GetTickCount();
    DWORD last = g_lastFileCheckTick.load(std::memory_order_relaxed);
    if (last == 0 || now < last) {
        g_lastFileCheckTick.store(now, std::memory_order_relaxed);
        return false;
    }
    if (now - last < kFileCheckIntervalMs) return false;
    g_lastFileCheckTick.store(now, std::memory_order_relaxed);
    return true;
}

bool LogFileExists(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (!IsMissingFileError(error)) SayFileRefused("the log file", path, "is opened anew", error);
        return false;
    }
    CloseHandle(file);
    return true;
}

}  // namespace dbg_internal
