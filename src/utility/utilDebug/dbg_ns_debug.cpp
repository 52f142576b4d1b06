// The logging interface's entry points: DBG::DebugLogEx and the C exports,
// the one-time initialisation of the interface, and the library's entry point.
// On the library's ladder: entry points; it includes no unit above (scripts/ladder.sh).
#include <windows.h>

#include <cxxabi.h>

#include <atomic>
#include <cstdarg>
#include <memory>

#include "Log4cxxAdapter.h"
#include "ProductRegINIReader.h"
#include "dbg_format.h"
#include "dbg_journal.h"
#include "dbg_lifecycle.h"
#include "dbg_locks.h"
#include "dbg_logpath.h"
#include "dbg_defaults.h"
#include "dbg_recorder.h"
#include "dbg_registry.h"
#include "dbg_settings.h"
#include "utilDebug.h"

namespace dbg_internal {
namespace {

std::atomic<LONG> g_interfaceInitialised{0};
// When the last initialisation found the registry unreadable (0: never).
std::atomic<DWORD> g_initialisationFailedTick{0};

// Hands the settings the store read to the back end and evaluates the
// module list; runs once, under the settings lock. A setting that could not be read
// (the registry stayed locked) is not taken as missing: nothing is applied,
// records are dropped, and the initialisation runs again a few seconds later.
void InitDebugInterface() REQUIRES(SettingsLock()) {
    EnsureProductRegistryLoadedLocked();
    CRegistryWaitBudget budget;
    InitialSettings settings;
    if (!ReadInitialSettings(&settings)) {
        g_initialisationFailedTick.store(GetTickCount() | 1, std::memory_order_relaxed);
        return;
    }

    AdapterHandOverSettings(settings.mode, settings.logCount, settings.criticalInfo > 0,
                            settings.logFilePath.c_str());
    ApplyModuleList(settings.moduleList.c_str());
    ApplyLogDestination(settings.destination);
    ApplyRecorderSetting(settings.recorder);
    SeedRefreshSnapshot(settings.mode, settings.logCount, settings.criticalInfo, settings.moduleList.c_str(),
                        settings.recorder);

    g_interfaceInitialised.store(1, std::memory_order_release);
}

__attribute__((noinline)) void InitialiseOnce() EXCLUDES(SettingsLock()) {
    CGuard<CSLock> guard(&SettingsLock());
    if (!g_interfaceInitialised.load(std::memory_order_relaxed)) InitDebugInterface();
}

inline bool InterfaceInitialised() { return g_interfaceInitialised.load(std::memory_order_acquire) != 0; }

// False while the settings could not be read yet.
bool EnsureInterfaceInitialised() {
    if (InterfaceInitialised()) return true;
    DWORD failed = g_initialisationFailedTick.load(std::memory_order_relaxed);
    if (failed != 0 && GetTickCount() - failed < kUnreadSettingsRetryMs) return false;
    InitialiseOnce();
    return InterfaceInitialised();
}

// A thread cancelled in a record ends here, its unwinding caught and thrown
// on; the undefined-behaviour sanitizer takes the handler's reference to the
// unwinding, which has no object, for a null one.
template <typename FileChar, typename Char>
__attribute__((no_sanitize("null"))) void LogRecord(HINSTANCE module, int level, const FileChar* file,
                                                    int line, CPendingMessage<Char>& message) {
    try {
        // A process that does not log returns here at once, unless its
        // settings are due to be read.
        bool settingsDue = RefreshIsDue() || !InterfaceInitialised();
        if (!settingsDue && !g_debugEnabled.load(std::memory_order_relaxed)) return;
        CLibraryCall call;
        if (!call.Admitted()) return;
        // However long another process keeps the registry locked, reading
        // the settings holds the caller up for a bounded time.
        CRegistryWaitBudget budget(settingsDue || !AdapterIsSetUp());
        if (settingsDue || !InterfaceInitialised()) {
            CCancellationHold hold;
            if (settingsDue) RefreshDebugSettings();
            EnsureInterfaceInitialised();
            hold.Resume();
        }
        if (!InterfaceInitialised() || !g_debugEnabled.load(std::memory_order_relaxed)) return;
        AdapterWriteRecord(module, file, line, level, message);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // The caller never sees a failure of its debug log.
    }
}

}  // namespace
}  // namespace dbg_internal

using namespace dbg_internal;

namespace DBG {

void DebugLogEx(HINSTANCE module, int level, const char* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    {
        CPendingMessage message(format, &args);
        LogRecord(module, level, file, line, message);
    }
    va_end(args);
}

void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    {
        CPendingMessage message(format, &args);
        LogRecord(module, level, file, line, message);
    }
    va_end(args);
}

void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    {
        CPendingMessage message(format, &args);
        LogRecord(module, level, file, line, message);
    }
    va_end(args);
}

bool IsDebugEnabled() { return g_debugEnabled.load(std::memory_order_relaxed); }

bool IsCriticalLogEnabled() { return CriticalInfoValue() > 0; }

// Passes the library's gate like every call that reaches the back end, so
// that a fork() or the library's unloading never meets it half done.
void ReloadFeatureConfiguration() {
    CLibraryCall call;
    if (!call.Admitted()) return;
    try {
        if (AdapterIsSetUp()) ReloadFeatures();
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // A reload that failed leaves the filtering as it was.
    }
}

}  // namespace DBG

extern "C" {

// The one argument serves the first conversion that takes one; any later
// conversion reads zero, never the caller's stack.
void DebugLogEx(int level, const wchar_t* file, int line, const wchar_t* format, const void* arg) {
    const uintptr_t slots[] = {reinterpret_cast<uintptr_t>(arg)};
    CPendingMessage message(format, slots, 1);
    LogRecord(nullptr, level, file, line, message);
}

bool IsDebugEnabled(void) { return DBG::IsDebugEnabled(); }

// The library's entry point: Linux sends no thread notifications to switch off.
BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}

}  // extern "C"

namespace {
__attribute__((constructor)) void OnLibraryLoad() { DllMain(DBG_THIS_MODULE, DLL_PROCESS_ATTACH, nullptr); }
}  // namespace
