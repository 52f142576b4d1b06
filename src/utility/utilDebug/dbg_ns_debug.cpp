// The logging interface: the exported entry points, the settings store with
// its once-a-minute refresh, the log file location and message formatting.
#include "dbg_ns_debug.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "Log4cxxAdapter.h"
#include "ProductRegINIReader.h"
#include "utilDebug.h"

const wchar_t kDefaultProductKeyPath[] = L"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion";

namespace {

constexpr DWORD kRefreshIntervalMs = 60000;
// The module list buffers hold 49,151 characters and a terminator; the
// registry reads into them are given 49,152 bytes.
constexpr size_t kModuleListElements = 49152;
constexpr DWORD kModuleListReadBytes = 49152;

// What the refresh last saw and applied.
struct RefreshSnapshot {
    wchar_t moduleList[kModuleListElements];
    int mode;
    int logCount;
    int criticalInfo;
    std::atomic<DWORD> lastRefreshTick;
};

RefreshSnapshot g_snapshot;
// The refresh's own read buffer: one refresh runs at a time, and a logging
// thread's stack may be too small for it.
wchar_t g_refreshModuleList[kModuleListElements];
std::atomic<LONG> g_refreshBusy{0};
std::atomic<LONG> g_criticalInfo{0};
std::atomic<LONG> g_interfaceInitialised{0};
bool g_productRegistryLoaded = false;  // guarded by the settings lock

// The names of the settings; the product registry file may redirect them.
const ProductRegistryNames& Names() { return g_productRegistry; }

// Settles the key path and value names once, before anything reads them.
void EnsureProductRegistryLoaded() {
    Guard<CSLock> guard(&SettingsLock());
    if (g_productRegistryLoaded) return;
    LoadProductRegistry();
    g_productRegistryLoaded = true;
}

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

HKEY OpenProductKey(const wchar_t* keyPath, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS)
        return key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, &key) == ERROR_SUCCESS) return key;
    return nullptr;
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
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
        ERROR_SUCCESS)
        return false;
    *value = data.number;
    return true;
}

// The registry counts string data in UTF-16 bytes: a character beyond the
// Basic Multilingual Plane takes two units.
DWORD Utf16DataSize(const wchar_t* text, DWORD length) {
    DWORD units = 1;  // the terminator
    for (DWORD i = 0; i < length; ++i) units += (static_cast<uint32_t>(text[i]) > 0xFFFF) ? 2 : 1;
    return units * 2;
}

int ReadSettingDword(const wchar_t* valueName, int defaultValue) {
    EnsureProductRegistryLoaded();
    int value = defaultValue;
    SettingsLock().Enter();
    ReadRegistryDword(&value, Names().keyPath, valueName);
    SettingsLock().Leave();
    return value;
}

// A setter: writes the value when the process may, and hands it on in any case.
void WriteSettingDword(wchar_t (ProductRegistryNames::*valueName)[MAX_PATH], int value, void (*apply)(int)) {
    EnsureProductRegistryLoaded();
    try {
        Guard<CSLock> guard(&SettingsLock());
        WriteRegistryDword(value, Names().keyPath, Names().*valueName);
        apply(value);
    } catch (...) {
    }
}

// ---- The refresh's steps --------------------------------------------------------

bool RefreshIsDue(DWORD now) {
    return now - g_snapshot.lastRefreshTick.load(std::memory_order_relaxed) > kRefreshIntervalMs;
}

void RefreshModuleList(HKEY key) {
    std::fill(std::begin(g_refreshModuleList), std::end(g_refreshModuleList), L'\0');
    DWORD size = kModuleListReadBytes;
    if (RegQueryValueExW(key, Names().debugModule, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(g_refreshModuleList), &size) != ERROR_SUCCESS)
        return;
    // A change of letter case only is no change.
    if (_wcsicmp(g_refreshModuleList, g_snapshot.moduleList) == 0) return;
    wcsncpy(g_snapshot.moduleList, g_refreshModuleList, kModuleListElements - 1);
    Guard<CSLock> guard(&SettingsLock());
    ApplyModuleList(g_refreshModuleList);
}

// Reads one integer setting and hands it on when it differs from what was
// last seen.
void RefreshDword(HKEY key, const wchar_t* valueName, int* lastSeen, void (*apply)(int)) {
    int value = 0;
    if (!QueryDwordValue(key, valueName, &value) || value == *lastSeen) return;
    *lastSeen = value;
    Guard<CSLock> guard(&SettingsLock());
    apply(value);
}

void ReadAndApplyChangedSettings() {
    HKEY key = OpenProductKey(Names().keyPath, KEY_READ);
    if (!key) return;
    KeyCloser closer(key);
    RefreshModuleList(key);
    RefreshDword(key, Names().debugLevel, &g_snapshot.mode, AdapterSetDebugMode);
    RefreshDword(key, Names().debugLogCount, &g_snapshot.logCount, AdapterSetDebugLogCount);
    RefreshDword(key, Names().logCriticalInfo, &g_snapshot.criticalInfo, ApplyCriticalInfo);
    ApplyDisabledLists(key);
}

// The refresh proper: one thread at a time; the others go on without it.
__attribute__((noinline)) void RefreshWhenIdle() {
    LONG idle = 0;
    if (!g_refreshBusy.compare_exchange_strong(idle, 1)) return;
    try {
        // Another thread may have refreshed between the test and the flag.
        if (RefreshIsDue(GetTickCount())) {
            g_snapshot.lastRefreshTick.store(GetTickCount(), std::memory_order_relaxed);
            // Until the interface is initialised the key and value names are
            // not settled, so there is nothing to read yet.
            if (g_interfaceInitialised.load(std::memory_order_acquire)) ReadAndApplyChangedSettings();
        }
    } catch (...) {
        // A failed refresh leaves the settings as they were.
    }
    g_refreshBusy.exchange(0);
}

// ---- Log file location -------------------------------------------------------------

const wchar_t* const kInstallerProcesses[] = {
    L"setup", L"QpRemoteInstallAgent", L"instDeployHelper", L"DeployLauncher", L"MsiExec", L"QpMFCApp"};

bool IsPathSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Bounded append; false when the text did not fit whole.
bool Append(wchar_t* buffer, size_t size, const wchar_t* text) {
    size_t used = wcslen(buffer);
    size_t length = wcslen(text);
    if (used + length >= size) return false;
    wmemcpy(buffer + used, text, length + 1);
    return true;
}

void GetTemporaryDirectory(wchar_t* buffer, size_t size) {
    DWORD length = GetTempPathW(static_cast<DWORD>(size), buffer);
    if (length == 0 || length >= size) buffer[0] = L'\0';
}

// The executable's path with its extension replaced by the run identifier and
// ".log". Only the file name is cut at its last '.', never a directory.
bool ComposeLogNamePath(wchar_t* namePath, size_t size) {
    wchar_t* fileName = namePath;
    for (wchar_t* p = namePath; *p; ++p)
        if (IsPathSeparator(*p)) fileName = p + 1;
    if (wchar_t* dot = wcsrchr(fileName, L'.')) *dot = L'\0';
    wchar_t runId[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"NL_DEBUG_LOG_OUTPUT_ID", runId, MAX_PATH) != 0 && runId[0] != L'\0') {
        if (!Append(namePath, size, L"-") || !Append(namePath, size, runId)) return false;
    }
    return Append(namePath, size, L".log");
}

// The home directory's "Debug" folder (created when missing), or the
// temporary directory for installers and when HomeDir is not set.
void ChooseLogDirectory(const wchar_t* processBaseName, wchar_t* directory, size_t size) {
    if (!IsInstallerProcess(processBaseName)) {
        wchar_t homeDir[MAX_PATH] = {};
        if (ReadRegistryString(homeDir, MAX_PATH, Names().keyPath, Names().homeDir) && homeDir[0] != L'\0') {
            wcsncpy(directory, homeDir, size - 1);
            directory[size - 1] = L'\0';
            if (AppendDebugFolder(directory, size)) {
                CreateDirectoryW(directory, nullptr);
                return;
            }
        }
    }
    GetTemporaryDirectory(directory, size);
}

// ---- Message formatting --------------------------------------------------------------

constexpr size_t kInitialMessageCapacity = 512;
// A buffer grown for a long message is given back after use.
constexpr size_t kRetainedMessageCapacity = 8192;

int CountedFormat(char* buffer, size_t count, const char* format, va_list args) {
    return _vsnprintf(buffer, count, format, args);
}
int CountedFormat(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    return _vsnwprintf(buffer, count, format, args);
}

template <typename Char>
struct MessageBuffer {
    std::basic_string<Char> text;
    bool inUse = false;
};

// One buffer per thread and width; a nested record on the same thread gets
// a buffer of its own.
template <typename Char>
MessageBuffer<Char>& ThreadMessageBuffer() {
    thread_local MessageBuffer<Char> buffer;
    return buffer;
}

// Formats into a buffer that grows up to the message limit; output longer
// than the limit is cut there.
template <typename Char>
size_t FormatMessageText(std::basic_string<Char>& out, const Char* format, va_list args) {
    if (!format) {
        out.assign(1, Char(0));
        return 0;
    }
    if (out.size() < kInitialMessageCapacity) out.resize(kInitialMessageCapacity);
    for (;;) {
        size_t limit = std::min(out.size() - 1, kMaxMessageLength);
        va_list attempt;
        va_copy(attempt, args);
        int written = CountedFormat(&out[0], limit, format, attempt);
        va_end(attempt);
        if (written >= 0) {
            out[static_cast<size_t>(written)] = Char(0);
            return static_cast<size_t>(written);
        }
        if (limit == kMaxMessageLength) {
            out[limit] = Char(0);
            return limit;
        }
        out.resize(std::min(out.size() * 4, kMaxMessageLength + 1));
    }
}

// ---- Entry points --------------------------------------------------------------------

__attribute__((noinline)) void InitialiseOnce() {
    Guard<CSLock> guard(&SettingsLock());
    if (!g_interfaceInitialised.load(std::memory_order_relaxed)) InitDebugInterface();
}

inline void EnsureInterfaceInitialised() {
    if (!g_interfaceInitialised.load(std::memory_order_acquire)) InitialiseOnce();
}

// Runs on every record, so when it is not due it costs one clock read and a
// comparison; the refresh proper stays out of line.
inline void RefreshDebugSettings() {
    if (RefreshIsDue(GetTickCount())) RefreshWhenIdle();
}

template <typename FileChar, typename Char>
void LogRecord(HINSTANCE module, int level, const FileChar* file, int line, const Char* format,
               va_list* args) {
    try {
        RefreshDebugSettings();
        EnsureInterfaceInitialised();
        if (!g_debugEnabled.load(std::memory_order_relaxed)) return;
        PendingMessage<Char> message(format, args);
        AdapterWriteRecord(module, file, line, level, message);
    } catch (...) {
        // The caller never sees a failure of its debug log.
    }
}

}  // namespace

CSLock& SettingsLock() {
    static CSLock lock;
    return lock;
}

// ---- Settings store -----------------------------------------------------------------

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
    return RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &dataSize) ==
               ERROR_SUCCESS &&
           buffer[0] != L'\0';
}

bool WriteRegistryDword(int value, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_WRITE);
    if (!key) return false;
    KeyCloser closer(key);
    return RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool WriteRegistryString(const wchar_t* text, DWORD length, const wchar_t* keyPath,
                         const wchar_t* valueName) {
    if (!text || !keyPath || !*keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_WRITE);
    if (!key) return false;
    KeyCloser closer(key);
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          Utf16DataSize(text, length)) == ERROR_SUCCESS;
}

int GetLogCriticalInfo() { return ReadSettingDword(Names().logCriticalInfo, 0); }

void ApplyCriticalInfo(int value) {
    g_criticalInfo.exchange(value);
    g_adapterCriticalInfo.store(value != 0, std::memory_order_relaxed);
}

void InitDebugInterface() {
    EnsureProductRegistryLoaded();

    wchar_t logFilePath[MAX_PATH] = {};
    BuildLogFilePath(logFilePath, MAX_PATH);

    auto moduleList = std::make_unique<wchar_t[]>(kModuleListElements);
    DBG::GetDebugModules(moduleList.get(), kModuleListReadBytes);

    // Without a DebugLevel value the process logs everything.
    int mode = 3;
    ReadRegistryDword(&mode, Names().keyPath, Names().debugLevel);
    int logCount = DBG::GetDebugLogCount();
    int criticalInfo = GetLogCriticalInfo();

    AdapterHandOverSettings(mode, logCount, criticalInfo > 0, logFilePath);
    ApplyModuleList(moduleList.get());

    g_snapshot.mode = mode;
    g_snapshot.logCount = logCount;
    g_snapshot.criticalInfo = criticalInfo;
    g_snapshot.lastRefreshTick.store(GetTickCount(), std::memory_order_relaxed);
    g_criticalInfo.exchange(criticalInfo);
    std::fill(std::begin(g_snapshot.moduleList), std::end(g_snapshot.moduleList), L'\0');
    wcsncpy(g_snapshot.moduleList, moduleList.get(), kModuleListElements - 1);

    g_interfaceInitialised.store(1, std::memory_order_release);
}

// ---- Log file location ----------------------------------------------------------------

bool IsInstallerProcess(const wchar_t* processBaseName) {
    for (const wchar_t* installer : kInstallerProcesses)
        if (_wcsicmp(processBaseName, installer) == 0) return true;
    return false;
}

void GetProcessBaseName(wchar_t* buffer, size_t size) {
    wchar_t executable[MAX_PATH] = {};
    wchar_t name[_MAX_FNAME] = {};
    GetModuleFileNameW(nullptr, executable, MAX_PATH);
    _wsplitpath(executable, nullptr, nullptr, name, nullptr);
    wcsncpy(buffer, name, size - 1);
    buffer[size - 1] = L'\0';
}

bool AppendDebugFolder(wchar_t* directory, size_t size) {
    size_t length = wcslen(directory);
    bool endsInSeparator = length > 0 && IsPathSeparator(directory[length - 1]);
    return Append(directory, size, endsInSeparator ? L"Debug" : L"/Debug");
}

// <HomeDir>/Debug/<executable>[-<run id>].log, or the same name in the
// temporary directory. A path that does not fit leaves the buffer empty, and
// the back end then composes its own.
bool BuildLogFilePath(wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return false;
    buffer[0] = L'\0';

    wchar_t namePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, namePath, MAX_PATH);
    wchar_t processBaseName[_MAX_FNAME] = {};
    _wsplitpath(namePath, nullptr, nullptr, processBaseName, nullptr);
    if (!ComposeLogNamePath(namePath, MAX_PATH)) return true;

    wchar_t directory[MAX_PATH] = {};
    ChooseLogDirectory(processBaseName, directory, MAX_PATH);

    wchar_t name[_MAX_FNAME] = {};
    wchar_t extension[_MAX_EXT] = {};
    _wsplitpath(namePath, nullptr, nullptr, name, extension);
    // The installer's front end logs under the installer's name.
    if (_wcsicmp(name, L"QpMFCApp") == 0) wcscpy(name, L"Setup");

    std::wstring path = directory;
    if (!path.empty() && !IsPathSeparator(path.back())) path += L'/';
    path += name;
    path += extension;
    if (path.size() < static_cast<size_t>(size)) wmemcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

// ---- Message formatting ------------------------------------------------------------------

template <typename Char>
const Char* PendingMessage<Char>::Format(size_t* length) {
    MessageBuffer<Char>* buffer = &ThreadMessageBuffer<Char>();
    if (buffer->inUse) buffer = new MessageBuffer<Char>;
    buffer->inUse = true;
    lease_ = buffer;
    *length = FormatMessageText(buffer->text, format_, *args_);
    return buffer->text.c_str();
}

template <typename Char>
PendingMessage<Char>::~PendingMessage() {
    auto* buffer = static_cast<MessageBuffer<Char>*>(lease_);
    if (!buffer) return;
    if (buffer != &ThreadMessageBuffer<Char>()) {
        delete buffer;
        return;
    }
    buffer->inUse = false;
    if (buffer->text.capacity() > kRetainedMessageCapacity) std::basic_string<Char>().swap(buffer->text);
}

template class PendingMessage<char>;
template class PendingMessage<wchar_t>;

// ---- Exported interface --------------------------------------------------------------------

namespace DBG {

void DebugLogEx(HINSTANCE module, int level, const char* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogRecord(module, level, file, line, format, &args);
    va_end(args);
}

void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogRecord(module, level, file, line, format, &args);
    va_end(args);
}

void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogRecord(module, level, file, line, format, &args);
    va_end(args);
}

bool IsDebugEnabled() { return g_debugEnabled.load(std::memory_order_relaxed); }

bool IsCriticalLogEnabled() { return g_criticalInfo.load(std::memory_order_relaxed) > 0; }

int GetDebugMode() { return ReadSettingDword(Names().debugLevel, 0); }

void SetDebugMode(int mode) {
    WriteSettingDword(&ProductRegistryNames::debugLevel, mode, AdapterSetDebugMode);
}

int GetDebugLogCount() { return ReadSettingDword(Names().debugLogCount, 1); }

void SetDebugLogCount(int count) {
    WriteSettingDword(&ProductRegistryNames::debugLogCount, count, AdapterSetDebugLogCount);
}

void GetDebugModules(wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return;
    EnsureProductRegistryLoaded();
    SettingsLock().Enter();
    ReadRegistryString(buffer, static_cast<DWORD>(size), Names().keyPath, Names().debugModule);
    SettingsLock().Leave();
}

void SetDebugModules(const wchar_t* moduleList) {
    if (!moduleList) return;
    EnsureProductRegistryLoaded();
    try {
        Guard<CSLock> guard(&SettingsLock());
        WriteRegistryString(moduleList, static_cast<DWORD>(wcslen(moduleList)), Names().keyPath,
                            Names().debugModule);
        ApplyModuleList(moduleList);
    } catch (...) {
    }
}

}  // namespace DBG

extern "C" {

void DebugLogEx(int level, const wchar_t* file, int line, const wchar_t* format, const void* arg) {
    DBG::DebugLogEx(nullptr, level, file, line, format, arg);
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
