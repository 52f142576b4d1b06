// The library's own diagnostic lines on standard error.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#include "dbg_diagnostics.h"
#include <cxxabi.h>

#include <atomic>
#include <cstdio>

#include "dbg_convert.h"
#include "dbg_defaults.h"
#include "dbg_registry.h"

namespace dbg_internal {

namespace {

enum : int { kUnknown = -1, kOff = 0, kOn = 1 };
std::atomic<int> g_diagnostics{kUnknown};

bool DiagnosticsOn() {
    int state = g_diagnostics.load(std::memory_order_relaxed);
    if (state == kUnknown) {
        int value = 0;
        ReadRegistryDword(&value, kDefaultProductKeyPath, kValueDebugLogDiagnostics);
        state = value != 0 ? kOn : kOff;
        g_diagnostics.store(state, std::memory_order_relaxed);
    }
    return state == kOn;
}

}  // namespace

void SetDiagnostics(bool on) { g_diagnostics.store(on ? kOn : kOff, std::memory_order_relaxed); }

void SayDiagnostic(const std::string& text) {
    try {
        if (!DiagnosticsOn()) return;
        std::string line = "utilDebug: " + text + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // Out of memory: nothing is said.
    }
}

const char* FileRefusalReason(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return "access denied, or a folder stands there";
        case ERROR_CANT_ACCESS_FILE:
            return "a link, a pipe, a device, a socket or another user's file stands there";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "its folder cannot be created";
        default:
            return "the file cannot be opened";
    }
}

void SayFileRefused(const char* what, const std::wstring& path, const char* outcome, DWORD error) {
    try {
        SayDiagnostic(std::string(what) + " " + ToUtf8(path.data(), path.size()) + " " + outcome + " (" +
                      FileRefusalReason(error) + ")");
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

}  // namespace dbg_internal
