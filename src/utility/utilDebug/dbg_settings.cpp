// The settings store: registry access under the product key, the DBG getters
// and setters, and the once-a-minute refresh.
// On the library's ladder: the settings store; it includes no unit above (scripts/ladder.sh).
#include "dbg_settings.h"
#include <cxxabi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "FeatureConfig.h"
#include "Log4cxxAdapter.h"
#include "ProductRegINIReader.h"
#include "dbg_lifecycle.h"
#include "dbg_journal.h"
#include "dbg_locks.h"
#include "dbg_defaults.h"
#include "dbg_logpath.h"
#include "dbg_recorder.h"
#include "dbg_registry.h"
#include "utilDebug.h"

namespace dbg_internal {

std::atomic<DWORD> g_lastRefreshTick{0};

namespace {

// What the refresh last saw and applied.
struct RefreshSnapshot {
    std::wstring moduleList;
    int mode;
    int logCount;
    int criticalInfo;
    int recorder;
};

// The refresh's turn: one thread at a time refreshes, and a thread that
// finds the turn taken goes on without waiting. The snapshot is the turn's.
class CAPABILITY("turn") CRefreshTurn {
  public:
    bool TryTake() TRY_ACQUIRE(true) {
        LONG idle = 0;
        return busy_.compare_exchange_strong(idle, 1);
    }
    void Give() RELEASE() { busy_.exchange(0); }

  private:
    std::atomic<LONG> busy_{0};
};

CRefreshTurn g_refreshTurn;
RefreshSnapshot g_snapshot GUARDED_BY(g_refreshTurn);
std::atomic<bool> g_snapshotSeeded{false};
std::atomic<LONG> g_criticalInfo{0};
bool g_productRegistryLoaded GUARDED_BY(SettingsLock()) = false;

// The names of the settings; the product registry file may redirect them.
const ProductRegistryNames& Names() { return g_productRegistry; }

int ReadSettingDwordLocked(const wchar_t* valueName, int defaultValue) REQUIRES(SettingsLock()) {
    EnsureProductRegistryLoadedLocked();
    int value = defaultValue;
    ReadRegistryDword(&value, Names().keyPath, valueName);
    return value;
}

int ReadSettingDword(const wchar_t* valueName, int defaultValue) EXCLUDES(SettingsLock()) {
    CGuard<CSLock> guard(&SettingsLock());
    return ReadSettingDwordLocked(valueName, defaultValue);
}

// A setter: writes the value when the process may, and hands it on in any case.
void WriteSettingDword(wchar_t (ProductRegistryNames::*valueName)[MAX_PATH], int value, void (*apply)(int))
    EXCLUDES(SettingsLock()) {
    CLibraryCall call;
    if (!call.Admitted()) return;
    EnsureProductRegistryLoaded();
    try {
        CGuard<CSLock> guard(&SettingsLock());
        WriteRegistryDword(value, Names().keyPath, Names().*valueName);
        apply(value);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

void ApplyCriticalInfo(int value) {
    g_criticalInfo.exchange(value);
    g_adapterCriticalInfo.store(value != 0, std::memory_order_relaxed);
}

// ---- The refresh's steps --------------------------------------------------------

bool RefreshIsDue(DWORD now) {
    return now - g_lastRefreshTick.load(std::memory_order_relaxed) > kRefreshIntervalMs;
}

// The registry reads of the calling thread see one moment of the registry,
// and take its lock once, while this lives.
class CRegistrySnapshot {
  public:
    CRegistrySnapshot() { NlBeginRegistrySnapshot(); }
    ~CRegistrySnapshot() { NlEndRegistrySnapshot(); }
    CRegistrySnapshot(const CRegistrySnapshot&) = delete;
    CRegistrySnapshot& operator=(const CRegistrySnapshot&) = delete;
};

// One integer setting as the refresh read it.
struct DwordReading {
    bool read = false;
    int value = 0;
};

// Everything one refresh reads.
struct RefreshReading {
    bool moduleListRead = false;
    std::wstring moduleList;
    DwordReading mode;
    DwordReading logCount;
    DwordReading criticalInfo;
    DwordReading recorder;
    DisabledListValues disabledLists;
    bool destinationRead = false;
    unsigned destination = kDestinationFile;
};

// A longer list is cut to its first kModuleListMaxLength characters.
bool ReadModuleList(HKEY key, std::wstring* list) {
    TextSetting setting = ReadTextSetting(key, Names().debugModule, kModuleListRule);
    *list = setting.text;
    return setting.outcome == TextSettingOutcome::kRead || setting.outcome == TextSettingOutcome::kCut;
}

// A change of letter case only is no change.
bool ModuleListChanged(const RefreshReading& reading) REQUIRES(g_refreshTurn) {
    return reading.moduleListRead && _wcsicmp(reading.moduleList.c_str(), g_snapshot.moduleList.c_str()) != 0;
}

DwordReading ReadDword(HKEY key, const wchar_t* valueName) {
    DwordReading reading;
    reading.read = QueryDwordValue(key, valueName, &reading.value);
    return reading;
}

// Opens the key and reads every setting the refresh follows in one snapshot
// of the registry, which takes its lock once; false when the key does not
// open. Nothing here takes a lock of the library: others may hold one while
// they wait for the registry.
bool ReadRefreshedSettings(RefreshReading* reading) REQUIRES(g_refreshTurn) {
    CRegistrySnapshot snapshot;
    HKEY key = OpenProductKey(Names().keyPath, KEY_READ);
    if (!key) return false;
    CKeyCloser closer(key);
    reading->moduleListRead = ReadModuleList(key, &reading->moduleList);
    reading->mode = ReadDword(key, Names().debugLevel);
    reading->logCount = ReadDword(key, Names().debugLogCount);
    reading->criticalInfo = ReadDword(key, Names().logCriticalInfo);
    reading->recorder = ReadDword(key, kValueDebugLogRecorder);
    // A removed value switches the recorder off.
    if (!reading->recorder.read) reading->recorder = DwordReading{true, kDefaultRecorderRecords};
    reading->destinationRead = ReadLogDestination(key, &reading->destination);
    // The disabled lists apply only while the process logs, which the module
    // list, applied first, may switch on.
    if (g_debugEnabled.load(std::memory_order_relaxed) || ModuleListChanged(*reading))
        reading->disabledLists = ReadDisabledLists(key);
    return true;
}

void ApplyModuleListIfChanged(const RefreshReading& reading) REQUIRES(g_refreshTurn)
    EXCLUDES(SettingsLock()) {
    if (!ModuleListChanged(reading)) return;
    g_snapshot.moduleList = reading.moduleList.c_str();
    CGuard<CSLock> guard(&SettingsLock());
    ApplyModuleList(reading.moduleList.c_str());
}

// Hands an integer setting on when it differs from what was last seen (in
// the snapshot).
void ApplyDwordIfChanged(const DwordReading& reading, int* lastSeen, void (*apply)(int))
    REQUIRES(g_refreshTurn) EXCLUDES(SettingsLock()) {
    if (!reading.read || reading.value == *lastSeen) return;
    *lastSeen = reading.value;
    CGuard<CSLock> guard(&SettingsLock());
    apply(reading.value);
}

// The module list goes first: the disabled lists apply only while the
// process logs.
void ReadAndApplyChangedSettings() REQUIRES(g_refreshTurn) {
    RefreshReading reading;
    if (!ReadRefreshedSettings(&reading)) return;
    ApplyModuleListIfChanged(reading);
    ApplyDwordIfChanged(reading.mode, &g_snapshot.mode, AdapterSetDebugMode);
    ApplyDwordIfChanged(reading.logCount, &g_snapshot.logCount, AdapterSetDebugLogCount);
    ApplyDwordIfChanged(reading.criticalInfo, &g_snapshot.criticalInfo, ApplyCriticalInfo);
    ApplyDwordIfChanged(reading.recorder, &g_snapshot.recorder, ApplyRecorderSetting);
    ApplyDisabledLists(reading.disabledLists);
    // Applied every time: it also looks again whether the journal is there.
    if (reading.destinationRead) ApplyLogDestination(reading.destination);
}

// Settings that could not be read are read again within a few seconds, not a
// minute later: the next refresh falls due then.
void RetryRefreshSoon(DWORD now) {
    g_lastRefreshTick.store(now - kRefreshIntervalMs + kUnreadSettingsRetryMs, std::memory_order_relaxed);
}

}  // namespace

bool ReadInitialSettings(InitialSettings* settings) {
    CSettingsReadCheck check;
    wchar_t logFilePath[MAX_PATH] = {};
    BuildLogFilePath(logFilePath, MAX_PATH);
    settings->logFilePath = logFilePath;
    if (!ReadModuleListSettingLocked(kModuleListMaxLength, &settings->moduleList))
        settings->moduleList.clear();
    ReadRegistryDword(&settings->mode, Names().keyPath, Names().debugLevel);
    settings->logCount = ReadSettingDwordLocked(Names().debugLogCount, kDefaultLogCount);
    settings->criticalInfo = ReadSettingDwordLocked(Names().logCriticalInfo, kDefaultLogCriticalInfo);
    settings->destination = ReadLogDestinationAt(Names().keyPath);
    ReadRegistryDword(&settings->recorder, Names().keyPath, kValueDebugLogRecorder);
    return !check.Unanswered();
}

void EnsureProductRegistryLoaded() {
    CGuard<CSLock> guard(&SettingsLock());
    EnsureProductRegistryLoadedLocked();
}

void EnsureProductRegistryLoadedLocked() {
    if (g_productRegistryLoaded) return;
    LoadProductRegistry();
    g_productRegistryLoaded = true;
}

bool ReadModuleListSetting(size_t maxLength, std::wstring* list) {
    CGuard<CSLock> guard(&SettingsLock());
    return ReadModuleListSettingLocked(maxLength, list);
}

bool ReadModuleListSettingLocked(size_t maxLength, std::wstring* list) {
    EnsureProductRegistryLoadedLocked();
    HKEY key = OpenProductKey(Names().keyPath, KEY_READ);
    if (!key) return false;
    CKeyCloser closer(key);
    return QueryTextValue(key, Names().debugModule, maxLength, list);
}

int GetLogCriticalInfo() { return ReadSettingDword(Names().logCriticalInfo, kDefaultLogCriticalInfo); }

int CriticalInfoValue() { return g_criticalInfo.load(std::memory_order_relaxed); }

// Without the turn: it runs once, before g_snapshotSeeded lets the refresh read the snapshot.
void SeedRefreshSnapshot(int mode, int logCount, int criticalInfo, const wchar_t* moduleList,
                         int recorder) NO_THREAD_SAFETY_ANALYSIS {
    g_snapshot.mode = mode;
    g_snapshot.recorder = recorder;
    g_snapshot.logCount = logCount;
    g_snapshot.criticalInfo = criticalInfo;
    g_lastRefreshTick.store(GetTickCount(), std::memory_order_relaxed);
    g_criticalInfo.exchange(criticalInfo);
    g_snapshot.moduleList = moduleList;
    g_snapshotSeeded.store(true, std::memory_order_release);
}

// The refresh proper: one thread at a time; the others go on without it.
__attribute__((noinline)) void RefreshWhenIdle() {
    if (!g_refreshTurn.TryTake()) return;
    try {
        // Another thread may have refreshed between the test and the flag.
        if (RefreshIsDue(GetTickCount())) {
            DWORD now = GetTickCount();
            g_lastRefreshTick.store(now, std::memory_order_relaxed);
            // Until the interface is initialised the key and value names are
            // not settled, so there is nothing to read yet.
            if (g_snapshotSeeded.load(std::memory_order_acquire)) {
                CRegistryWaitBudget budget;
                CSettingsReadCheck check;
                ReadAndApplyChangedSettings();
                if (check.Unanswered()) RetryRefreshSoon(now);
            }
        }
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // A failed refresh leaves the settings as they were.
    }
    g_refreshTurn.Give();
}

}  // namespace dbg_internal

using namespace dbg_internal;

// ---- Exported getters and setters ---------------------------------------------------

namespace DBG {

int GetDebugMode() { return ReadSettingDword(Names().debugLevel, kGetDebugModeDefault); }

void SetDebugMode(int mode) {
    WriteSettingDword(&ProductRegistryNames::debugLevel, mode, AdapterSetDebugMode);
}

int GetDebugLogCount() { return ReadSettingDword(Names().debugLogCount, kDefaultLogCount); }

void SetDebugLogCount(int count) {
    WriteSettingDword(&ProductRegistryNames::debugLogCount, count, AdapterSetDebugLogCount);
}

// size is the caller's buffer in bytes, as sizeof gives it for a wchar_t
// array (code ported from Windows passes sizeof buf); the registry is asked
// for no more than that buffer holds.
// A longer list is cut to what the buffer holds, and to kModuleListMaxLength
// characters.
void GetDebugModules(wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return;
    const size_t elements = static_cast<size_t>(size) / sizeof(wchar_t);
    if (elements == 0) return;
    std::wstring list;
    if (!ReadModuleListSetting(std::min(elements - 1, kModuleListMaxLength), &list)) return;
    std::copy(list.begin(), list.end(), buffer);
    buffer[list.size()] = L'\0';
}

void SetDebugModules(const wchar_t* moduleList) {
    CLibraryCall call;
    if (!moduleList || !call.Admitted()) return;
    EnsureProductRegistryLoaded();
    try {
        CGuard<CSLock> guard(&SettingsLock());
        WriteRegistryString(moduleList, Names().keyPath, Names().debugModule);
        ApplyModuleList(moduleList);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

}  // namespace DBG
