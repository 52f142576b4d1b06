// The settings store: the registry reads and writes behind the DBG getters and
// setters, and the refresh that re-reads the settings at most once a minute
// and hands what changed to the back end.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

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

// Tells whether a registry read of the calling thread went unanswered since
// this was built: the store was busy or failed. A missing key or value is an
// answer; an unanswered read must not count as one.
class CSettingsReadCheck {
  public:
    CSettingsReadCheck();
    bool Unanswered() const;

  private:
    unsigned start_;
};
// Notes the outcome of one registry read for CSettingsReadCheck.
void NoteSettingsRead(LSTATUS status);

// The product key that the back end's own reads use, whatever the product
// registry file says.
extern const wchar_t kDefaultProductKeyPath[];

// Settles the key path and value names from the product registry file, once.
void EnsureProductRegistryLoaded();

// Opens keyPath below HKEY_LOCAL_MACHINE for reading, 64-bit view first; null
// when neither view opens.
HKEY OpenProductKeyForReading(const wchar_t* keyPath);
// Registry reads below HKEY_LOCAL_MACHINE. A null key path or value name fails.
bool ReadRegistryDword(int* value, const wchar_t* keyPath, const wchar_t* valueName);
// size is the capacity handed to the registry, in its bytes; an empty text
// counts as a failed read.
bool ReadRegistryString(wchar_t* buffer, DWORD size, const wchar_t* keyPath, const wchar_t* valueName);
// Reads a text value of any length and keeps its first maxLength characters:
// a long value is cut, not ignored. False when the value is missing or
// unreadable; its type is not checked.
bool QueryTextValue(HKEY key, const wchar_t* valueName, size_t maxLength, std::wstring* text);

// The most of DebugModule that is read: the rest is ignored.
constexpr size_t kModuleListMaxLength = 24575;

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
