// The settings store: the registry reads and writes behind the DBG getters and
// setters, and the refresh that re-reads the settings at most once a minute
// and hands what changed to the back end.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "dbg_registry.h"

// How long the registry may keep one logging call waiting, in total, while
// another process holds it locked; and how soon settings that could not be
// read are read again.
constexpr DWORD kLoggingCallRegistryWaitMs = 100;
constexpr DWORD kUnreadSettingsRetryMs = 2000;

// The registry reads of the calling thread share one wait budget while this
// lives (a nested one changes nothing); with inUse false it does nothing.
class CRegistryWaitBudget {
  public:
    explicit CRegistryWaitBudget(bool inUse = true) : inUse_(inUse) {
        if (inUse_) NlBeginRegistryWaitBudget(kLoggingCallRegistryWaitMs);
    }
    ~CRegistryWaitBudget() {
        if (inUse_) NlEndRegistryWaitBudget();
    }
    CRegistryWaitBudget(const CRegistryWaitBudget&) = delete;
    CRegistryWaitBudget& operator=(const CRegistryWaitBudget&) = delete;

  private:
    bool inUse_;
};

// Settles the key path and value names from the product registry file, once.
void EnsureProductRegistryLoaded();

// The LogCriticalInfo setting as stored (0 when missing).
int GetLogCriticalInfo();
// The critical-info value that DBG::IsCriticalLogEnabled reports.
int CriticalInfoValue();

// What the interface's initialisation read: the refresh applies only values
// that differ from these. Until this runs the refresh reads nothing.
void SeedRefreshSnapshot(int mode, int logCount, int criticalInfo, const wchar_t* moduleList);

// ---- The refresh ---------------------------------------------------------------
extern std::atomic<DWORD> g_lastRefreshTick;
constexpr DWORD kRefreshIntervalMs = 60000;
void RefreshWhenIdle();

inline bool RefreshIsDue() {
    return GetTickCount() - g_lastRefreshTick.load(std::memory_order_relaxed) > kRefreshIntervalMs;
}

// Runs on every record, so when it is not due it costs one clock read and a
// comparison; the refresh proper stays out of line.
inline void RefreshDebugSettings() {
    if (RefreshIsDue()) RefreshWhenIdle();
}
