// The settings store: the registry reads and writes behind the DBG getters and
// setters, and the refresh that re-reads the settings at most once a minute
// and hands what changed to the back end. The functions that take the
// settings lock are never called with the adapter lock held, which comes after
// it.
// On the library's ladder: the settings store; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "dbg_defaults.h"
#include "dbg_destination.h"
#include "dbg_locks.h"
#include "dbg_registry.h"

namespace dbg_internal {

// The functions that take the settings lock say so (EXCLUDES); what they do
// under it is a function of its own that needs it held (REQUIRES), which the
// interface's initialisation, holding the lock, calls instead.

// Settles the key path and value names from the product registry file, once.
void EnsureProductRegistryLoaded() EXCLUDES(SettingsLock(), AdapterLock());
void EnsureProductRegistryLoadedLocked() REQUIRES(SettingsLock()) EXCLUDES(AdapterLock());

// The module list as stored, cut to maxLength characters; false when it
// could not be read.
bool ReadModuleListSetting(size_t maxLength, std::wstring* list) EXCLUDES(SettingsLock(), AdapterLock());
bool ReadModuleListSettingLocked(size_t maxLength, std::wstring* list) REQUIRES(SettingsLock())
    EXCLUDES(AdapterLock());

// The LogCriticalInfo setting as stored (0 when missing).
int GetLogCriticalInfo() EXCLUDES(SettingsLock(), AdapterLock());
// The critical-info value that DBG::IsCriticalLogEnabled reports.
int CriticalInfoValue();

// Every setting the interface's first call starts the process with.
struct InitialSettings {
    std::wstring logFilePath;  // empty when it did not fit: the back end composes its own
    std::wstring moduleList;   // as stored, cut to kModuleListMaxLength
    int mode = kDefaultDebugMode;
    int logCount = kDefaultLogCount;
    int criticalInfo = kDefaultLogCriticalInfo;
    unsigned destination = kDestinationFile;
    int recorder = kDefaultRecorderRecords;
};
// Reads them (a setting that is not there keeps its default); false when a
// read went unanswered: the registry stayed locked, and nothing may be
// applied from what was read.
bool ReadInitialSettings(InitialSettings* settings) REQUIRES(SettingsLock()) EXCLUDES(AdapterLock());

// What the interface's initialisation read: the refresh applies only values
// that differ from these. Until this runs the refresh reads nothing.
void SeedRefreshSnapshot(int mode, int logCount, int criticalInfo, const wchar_t* moduleList, int recorder);

// ---- The refresh ---------------------------------------------------------------
extern std::atomic<DWORD> g_lastRefreshTick;
constexpr DWORD kRefreshIntervalMs = 60000;
void RefreshWhenIdle() EXCLUDES(AdapterLock());

inline bool RefreshIsDue() {
    return GetTickCount() - g_lastRefreshTick.load(std::memory_order_relaxed) > kRefreshIntervalMs;
}

// Runs on every record, so when it is not due it costs one clock read and a
// comparison; the refresh proper stays out of line.
inline void RefreshDebugSettings() EXCLUDES(AdapterLock()) {
    if (RefreshIsDue()) RefreshWhenIdle();
}

}  // namespace dbg_internal
