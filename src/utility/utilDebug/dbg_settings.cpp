// The settings store: registry access under the product key, the DBG getters
// and setters, and the once-a-minute refresh.
#include "dbg_settings.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "FeatureConfig.h"
#include "Log4cxxAdapter.h"
#include "ProductRegINIReader.h"
#include "dbg_lifecycle.h"
#include "dbg_locks.h"
#include "utilDebug.h"

const wchar_t kDefaultProductKeyPath[] = L"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion";

std::atomic<DWORD> g_lastRefreshTick{0};

namespace {

// The module list buffers hold 49,151 characters and a terminator; the
// list read into them is at most kModuleListMaxLength characters.
constexpr size_t kModuleListElements = 49152;
static_assert(kModuleListMaxLength < kModuleListElements, "the module list buffers hold the list read");

// What the refresh last saw and applied.
struct RefreshSnapshot {
    wchar_t moduleList[kModuleListElements];
    int mode;
    int logCount;
    int criticalInfo;
};

RefreshSnapshot g_snapshot;
std::atomic<bool> g_snapshotSeeded{false};
// The refresh's own read buffer: one refresh runs at a time, and a logging
// thread's stack may be too small for it.
wchar_t g_refreshModuleList[kModuleListElements];
std::atomic<LONG> g_refreshBusy{0};
std::atomic<LONG> g_criticalInfo{0};
bool g_productRegistryLoaded = false;  // guarded by the settings lock

// The names of the settings; the product registry file may redirect them.
const ProductRegistryNames& Names() { return g_productRegistry; }

class KeyCloser {
  public:
    explicit KeyCloser(HKEY key) : key_(key) {}
    ~KeyCloser() {
        if (key_) RegCloseKey(key_);
    }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

  private:
    HKEY key_;
};

thread_local unsigned t_unansweredReads = 0;

HKEY OpenProductKey(const wchar_t* keyPath, REGSAM access) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access | KEY_WOW64_64KEY, &key);
    NoteSettingsRead(status);
    if (status == ERROR_SUCCESS) return key;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, &key);
    NoteSettingsRead(status);
    return status == ERROR_SUCCESS ? key : nullptr;
}

// Queries a value into a 4-byte integer whatever its type, as Windows does.
// String data arrives as wchar_t, two bytes for each registry byte, so the
// query lands in a buffer with room for that; the integer is its first four
// bytes, which hold the same number as on Windows for a one-character text.
bool QueryDwordValue(HKEY key, const wchar_t* valueName, int* value) {
    union {
        int number;
        wchar_t wide[2];
    } data;
    data.wide[1] = 0;
    data.number = *value;
    DWORD size = sizeof(int);
    LSTATUS status = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    NoteSettingsRead(status);
    if (status != ERROR_SUCCESS) return false;
    *value = data.number;
    return true;
}

bool WriteRegistryDword(int value, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_WRITE);
    if (!key) return false;
    KeyCloser closer(key);
    return RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool WriteRegistryString(const wchar_t* text, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!text || !keyPath || !*keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_WRITE);
    if (!key) return false;
    KeyCloser closer(key);
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          NlRegStringDataSize(text)) == ERROR_SUCCESS;
}

int ReadSettingDword(const wchar_t* valueName, int defaultValue) {
    EnsureProductRegistryLoaded();
    int value = defaultValue;
    Guard<CSLock> guard(&SettingsLock());
    ReadRegistryDword(&value, Names().keyPath, valueName);
    return value;
}

// A setter: writes the value when the process may, and hands it on in any case.
void WriteSettingDword(wchar_t (ProductRegistryNames::*valueName)[MAX_PATH], int value, void (*apply)(int)) {
    CLibraryCall call;
    if (!call.Admitted()) return;
    EnsureProductRegistryLoaded();
    try {
        Guard<CSLock> guard(&SettingsLock());
        WriteRegistryDword(value, Names().keyPath, Names().*valueName);
        apply(value);
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

// Everything one refresh reads; the module list lands in g_refreshModuleList.
struct RefreshReading {
    bool moduleListRead = false;
    DwordReading mode;
    DwordReading logCount;
    DwordReading criticalInfo;
    DisabledListValues disabledLists;
};

// A longer list is cut to its first kModuleListMaxLength characters.
bool ReadModuleList(HKEY key) {
    std::wstring list;
    if (!QueryTextValue(key, Names().debugModule, kModuleListMaxLength, &list)) return false;
    std::copy(list.begin(), list.end(), g_refreshModuleList);
    g_refreshModuleList[list.size()] = L'\0';
    return true;
}

// A change of letter case only is no change.
bool ModuleListChanged(const RefreshReading& reading) {
    return reading.moduleListRead && _wcsicmp(g_refreshModuleList, g_snapshot.moduleList) != 0;
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
bool ReadRefreshedSettings(RefreshReading* reading) {
    CRegistrySnapshot snapshot;
    HKEY key = OpenProductKey(Names().keyPath, KEY_READ);
    if (!key) return false;
    KeyCloser closer(key);
    reading->moduleListRead = ReadModuleList(key);
    reading->mode = ReadDword(key, Names().debugLevel);
    reading->logCount = ReadDword(key, Names().debugLogCount);
    reading->criticalInfo = ReadDword(key, Names().logCriticalInfo);
    // The disabled lists apply only while the process logs, which the module
    // list, applied first, may switch on.
    if (g_debugEnabled.load(std::memory_order_relaxed) || ModuleListChanged(*reading))
        reading->disabledLists = ReadDisabledLists(key);
    return true;
}

void ApplyModuleListIfChanged(const RefreshReading& reading) {
    if (!ModuleListChanged(reading)) return;
    wcsncpy(g_snapshot.moduleList, g_refreshModuleList, kModuleListElements - 1);
    Guard<CSLock> guard(&SettingsLock());
    ApplyModuleList(g_refreshModuleList);
}

// Hands an integer setting on when it differs from what was last seen.
void ApplyDwordIfChanged(const DwordReading& reading, int* lastSeen, void (*apply)(int)) {
    if (!reading.read || reading.value == *lastSeen) return;
    *lastSeen = reading.value;
    Guard<CSLock> guard(&SettingsLock());
    apply(reading.value);
}

// The module list goes first: the disabled lists apply only while the
// process logs.
void ReadAndApplyChangedSettings() {
    RefreshReading reading;
    if (!ReadRefreshedSettings(&reading)) return;
    ApplyModuleListIfChanged(reading);
    ApplyDwordIfChanged(reading.mode, &g_snapshot.mode, AdapterSetDebugMode);
    ApplyDwordIfChanged(reading.logCount, &g_snapshot.logCount, AdapterSetDebugLogCount);
    ApplyDwordIfChanged(reading.criticalInfo, &g_snapshot.criticalInfo, ApplyCriticalInfo);
    ApplyDisabledLists(reading.disabledLists);
}

// Settings that could not be read are read again within a few seconds, not a
// minute later: the next refresh falls due then.
void RetryRefreshSoon(DWORD now) {
    g_lastRefreshTick.store(now - kRefreshIntervalMs + kUnreadSettingsRetryMs, std::memory_order_relaxed);
}

}  // namespace

// A read is answered when the store said what it holds: the value, or that
// the key or value is missing, deleted, out of reach or too long for the
// buffer.
void NoteSettingsRead(LSTATUS status) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_MORE_DATA &&
        status != ERROR_KEY_DELETED && status != ERROR_ACCESS_DENIED)
        ++t_unansweredReads;
}

CSettingsReadCheck::CSettingsReadCheck() : start_(t_unansweredReads) {}

bool CSettingsReadCheck::Unanswered() const { return t_unansweredReads != start_; }

void EnsureProductRegistryLoaded() {
    Guard<CSLock> guard(&SettingsLock());
    if (g_productRegistryLoaded) return;
    LoadProductRegistry();
    g_productRegistryLoaded = true;
}

HKEY OpenProductKeyForReading(const wchar_t* keyPath) {
    if (!keyPath) return nullptr;
    return OpenProductKey(keyPath, KEY_READ);
}

bool ReadRegistryDword(int* value, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!value || !keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_READ);
    if (!key) return false;
    KeyCloser closer(key);
    return QueryDwordValue(key, valueName, value);
}

bool ReadRegistryString(wchar_t* buffer, DWORD size, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!buffer || !keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_READ);
    if (!key) return false;
    KeyCloser closer(key);
    DWORD dataSize = size;
    LSTATUS status = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &dataSize);
    NoteSettingsRead(status);
    return status == ERROR_SUCCESS && buffer[0] != L'\0';
}

bool QueryTextValue(HKEY key, const wchar_t* valueName, size_t maxLength, std::wstring* text) {
    // Most values fit a first buffer; a longer one is read again whole, in
    // the size the registry reported, and cut.
    std::vector<wchar_t> buffer(std::min<size_t>(maxLength, 4096) + 2, L'\0');
    DWORD size = NlRegStringBufferSize(buffer.size() - 1);
    LSTATUS status =
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status == ERROR_MORE_DATA) {
        buffer.assign(size / 2 + 2, L'\0');
        size = NlRegStringBufferSize(buffer.size() - 1);
        status = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
    }
    NoteSettingsRead(status);
    if (status != ERROR_SUCCESS) return false;
    text->assign(buffer.data(), wcsnlen(buffer.data(), maxLength));
    return true;
}

int GetLogCriticalInfo() { return ReadSettingDword(Names().logCriticalInfo, 0); }

int CriticalInfoValue() { return g_criticalInfo.load(std::memory_order_relaxed); }

void SeedRefreshSnapshot(int mode, int logCount, int criticalInfo, const wchar_t* moduleList) {
    g_snapshot.mode = mode;
    g_snapshot.logCount = logCount;
    g_snapshot.criticalInfo = criticalInfo;
    g_lastRefreshTick.store(GetTickCount(), std::memory_order_relaxed);
    g_criticalInfo.exchange(criticalInfo);
    std::fill(std::begin(g_snapshot.moduleList), std::end(g_snapshot.moduleList), L'\0');
    wcsncpy(g_snapshot.moduleList, moduleList, kModuleListElements - 1);
    g_snapshotSeeded.store(true, std::memory_order_release);
}

// The refresh proper: one thread at a time; the others go on without it.
__attribute__((noinline)) void RefreshWhenIdle() {
    LONG idle = 0;
    if (!g_refreshBusy.compare_exchange_strong(idle, 1)) return;
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
    } catch (...) {
        // A failed refresh leaves the settings as they were.
    }
    g_refreshBusy.exchange(0);
}

// ---- Exported getters and setters ---------------------------------------------------

namespace DBG {

int GetDebugMode() { return ReadSettingDword(Names().debugLevel, 0); }

void SetDebugMode(int mode) {
    WriteSettingDword(&ProductRegistryNames::debugLevel, mode, AdapterSetDebugMode);
}

int GetDebugLogCount() { return ReadSettingDword(Names().debugLogCount, 1); }

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
    EnsureProductRegistryLoaded();
    Guard<CSLock> guard(&SettingsLock());
    HKEY key = OpenProductKey(Names().keyPath, KEY_READ);
    if (!key) return;
    KeyCloser closer(key);
    std::wstring list;
    if (!QueryTextValue(key, Names().debugModule, std::min(elements - 1, kModuleListMaxLength), &list)) return;
    std::copy(list.begin(), list.end(), buffer);
    buffer[list.size()] = L'\0';
}

void SetDebugModules(const wchar_t* moduleList) {
    CLibraryCall call;
    if (!moduleList || !call.Admitted()) return;
    EnsureProductRegistryLoaded();
    try {
        Guard<CSLock> guard(&SettingsLock());
        WriteRegistryString(moduleList, Names().keyPath, Names().debugModule);
        ApplyModuleList(moduleList);
    } catch (...) {
    }
}

}  // namespace DBG
