// The back end over log4cxx: one size-rolled file per process, one logger per
// calling module, the level code table, and live changes of level, backups
// and the module list.
#include "Log4cxxAdapter.h"

#include <log4cxx/basicconfigurator.h>
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/helpers/transcoder.h>
#include <log4cxx/pattern/loggingeventpatternconverter.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <log4cxx/spi/location/locationinfo.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <vector>

#include "ModuleName.h"
#include "dbg_appender.h"
#include "dbg_locks.h"
#include "dbg_logpath.h"
#include "dbg_settings.h"
#include "utilDebug.h"

using log4cxx::LevelPtr;
using log4cxx::Logger;
using log4cxx::LoggerPtr;
using log4cxx::LogString;
using log4cxx::rolling::RollingFileAppender;

std::atomic<bool> g_debugEnabled{true};
std::atomic<bool> g_adapterCriticalInfo{false};

namespace {

const wchar_t kDefaultLogFormat[] = L"%d{yyyy/MM/dd HH:mm:ss Z}  [%-5s:%5t]  [%28c][%32F(%4L)]  [%-5p]  %m%n";
const LogString kRootAppenderName = LOG4CXX_STR("rootAppender");
constexpr DWORD kFileCheckIntervalMs = 3000;
// DebugLogFormat is read with 1,023 registry bytes: 510 characters and the terminator.
constexpr DWORD kLogFormatReadBytes = 1023;
constexpr size_t kLogFormatElements = 1024;

// The set-up and write-path steps, in the order they run.
void AdapterSetUp();
void ConfigureRootAppender();
LevelPtr ModeToLevel(int mode);
LoggerPtr GetModuleLogger(HINSTANCE module, bool* stored);
const LevelPtr& LevelCodeToLevel(int levelCode);
void SetLoggerEnabled(const LoggerPtr& logger, bool enabled);
void CheckLogFileRecreated();
std::string WideToNarrow(const wchar_t* text);

struct ModuleLogger {
    std::wstring name;
    LoggerPtr logger;
};

// ---- Adapter state ----------------------------------------------------------------
std::atomic<bool> g_setUp{false};
// When the last set-up found the registry unreadable (0: never).
std::atomic<DWORD> g_setUpFailedTick{0};
// log4cxx's own diagnostics reach standard error only when asked for.
bool g_log4cxxDiagnostics = false;
int g_storedMode = 0;
int g_storedBackupCount = 10;
std::wstring g_processBaseName;  // guarded by the adapter lock
std::wstring g_logFilePath;      // written under the adapter lock before the set-up
std::wstring g_logFormat;
std::map<uintptr_t, ModuleLogger> g_moduleLoggers;  // guarded by the adapter lock
CFeatureConfig g_featureConfig;                     // guarded by the adapter lock
LoggerPtr g_unknownLogger;                          // set once by the set-up
std::atomic<DWORD> g_lastFileCheckTick{0};

// The last module each thread wrote for: a record of the same module finds
// its logger without the lock. Loggers live as long as log4cxx does.
struct CachedModuleLogger {
    HINSTANCE module = nullptr;
    Logger* logger = nullptr;
};
thread_local CachedModuleLogger t_cachedLogger;

struct Levels {
    LevelPtr debug = log4cxx::Level::getDebug();
    LevelPtr info = log4cxx::Level::getInfo();
    LevelPtr warn = log4cxx::Level::getWarn();
    LevelPtr error = log4cxx::Level::getError();
    LevelPtr fatal = log4cxx::Level::getFatal();
    LevelPtr all = log4cxx::Level::getAll();
    LevelPtr off = log4cxx::Level::getOff();
};
const Levels& GetLevels() {
    static const Levels levels;
    return levels;
}

// ---- Layout -------------------------------------------------------------------------
// A pattern converter that appends one field of the record. Records are
// formatted on the thread that logs them, so the ids are the logging thread's.
class FieldConverter : public log4cxx::pattern::LoggingEventPatternConverter {
  public:
    using Field = void (*)(const log4cxx::spi::LoggingEventPtr&, LogString&);
    FieldConverter(const LogString& name, Field field)
        : LoggingEventPatternConverter(name, name), field_(field) {}
    using LoggingEventPatternConverter::format;
    void format(const log4cxx::spi::LoggingEventPtr& event, LogString& out,
                log4cxx::helpers::Pool&) const override {
        field_(event, out);
    }

  private:
    Field field_;
};

// "%s" prints the process id and "%t" the numeric kernel thread id, so that
// records read as they do on Windows.
void AppendProcessId(const log4cxx::spi::LoggingEventPtr&, LogString& out) {
    out += std::to_string(GetCurrentProcessId());
}
void AppendThreadId(const log4cxx::spi::LoggingEventPtr&, LogString& out) {
    out += std::to_string(GetCurrentThreadId());
}
// The source file as given: UTF-8, like log4cxx's own strings, so that a
// non-ASCII name is written unchanged whatever the process's locale.
void AppendSourceFile(const log4cxx::spi::LoggingEventPtr& event, LogString& out) {
    out += event->getLocationInformation().getFileName();
}

log4cxx::pattern::PatternConstructor ConverterOf(const LogString& name, FieldConverter::Field field) {
    return [name, field](const std::vector<LogString>&) -> log4cxx::pattern::PatternConverterPtr {
        return std::make_shared<FieldConverter>(name, field);
    };
}

class CRecordLayout : public log4cxx::PatternLayout {
  protected:
    log4cxx::pattern::PatternMap getFormatSpecifiers() override {
        log4cxx::pattern::PatternMap specifiers = PatternLayout::getFormatSpecifiers();
        specifiers[LOG4CXX_STR("s")] = ConverterOf(LOG4CXX_STR("process"), AppendProcessId);
        specifiers[LOG4CXX_STR("t")] = specifiers[LOG4CXX_STR("thread")] =
            ConverterOf(LOG4CXX_STR("thread"), AppendThreadId);
        specifiers[LOG4CXX_STR("F")] = specifiers[LOG4CXX_STR("file")] =
            ConverterOf(LOG4CXX_STR("file"), AppendSourceFile);
        return specifiers;
    }
};

// ---- Set-up steps -------------------------------------------------------------------

void ReadLogFormat(HKEY key) {
    wchar_t format[kLogFormatElements] = {};
    DWORD size = kLogFormatReadBytes;
    LSTATUS status =
        RegQueryValueExW(key, L"DebugLogFormat", nullptr, nullptr, reinterpret_cast<BYTE*>(format), &size);
    NoteSettingsRead(status);
    if (status == ERROR_SUCCESS && format[0] != L'\0') g_logFormat = format;
}

// DebugLogDiagnostics, set to anything but 0, lets log4cxx report its own
// troubles (a file it cannot open, a bad pattern) on standard error.
void ReadDiagnosticsSwitch(HKEY key) {
    DWORD value = 0;
    DWORD size = sizeof value;
    LSTATUS status =
        RegQueryValueExW(key, L"DebugLogDiagnostics", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    NoteSettingsRead(status);
    g_log4cxxDiagnostics = status == ERROR_SUCCESS && value != 0;
}

std::wstring ProcessBaseName() {
    wchar_t name[MAX_PATH] = {};
    GetProcessBaseName(name, MAX_PATH);
    return name;
}

std::shared_ptr<RollingFileAppender> RootAppender() {
    return log4cxx::cast<RollingFileAppender>(Logger::getRootLogger()->getAppender(kRootAppenderName));
}

// ---- Write path steps ------------------------------------------------------------------

const char* PrefixOf(int levelCode) {
    switch (levelCode) {
        case DBG_LEVEL_ENTRY:
            return "==> ";
        case DBG_LEVEL_EXIT:
        case DBG_LEVEL_ERROR_EXIT:
            return "<== ";
        default:
            return "";
    }
}

// Appends wide text in the ANSI code page, UTF-8, converting in place.
void AppendNarrow(std::string& out, const wchar_t* text, size_t length) {
    if (length == 0) return;
    size_t start = out.size();
    // A character takes at most four bytes.
    out.resize(start + length * 4);
    int written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &out[start],
                                      static_cast<int>(length * 4), nullptr, nullptr);
    out.resize(start + static_cast<size_t>(written > 0 ? written : 0));
}

// The record's text in log4cxx's own representation, UTF-8, so that it
// reaches the file unchanged whatever the process's locale.
void BuildRecordText(LogString& out, int levelCode, const char* text, size_t length) {
    out.assign(PrefixOf(levelCode));
    out.append(text, length);
}

void BuildRecordText(LogString& out, int levelCode, const wchar_t* text, size_t length) {
    out.assign(PrefixOf(levelCode));
    AppendNarrow(out, text, length);
}

// The source file behind its last separator; a wide name is converted into
// narrow, which log4cxx's location takes.
const char* CutSourceFile(const char* file, std::string&) {
    if (!file) return "";
    const char* cut = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\') cut = p + 1;
    return cut;
}

const char* CutSourceFile(const wchar_t* file, std::string& narrow) {
    if (!file) return "";
    const wchar_t* cut = file;
    for (const wchar_t* p = file; *p; ++p)
        if (*p == L'/' || *p == L'\\') cut = p + 1;
    narrow.clear();
    AppendNarrow(narrow, cut, wcslen(cut));
    return narrow.c_str();
}

Logger* FindModuleLogger(HINSTANCE module) {
    if (!module) return g_unknownLogger.get();
    CachedModuleLogger& cached = t_cachedLogger;
    if (cached.module == module) return cached.logger;
    bool stored = false;
    LoggerPtr logger = GetModuleLogger(module, &stored);
    if (stored) cached = CachedModuleLogger{module, logger.get()};
    return logger.get();
}

// The logger of a module; *stored tells whether the module is kept in the
// module logger table.
LoggerPtr GetModuleLogger(HINSTANCE module, bool* stored) {
    *stored = false;
    if (!module) return Logger::getLogger(LOG4CXX_STR("unknown"));
    {
        Guard<CSLock> guard(&AdapterLock());
        auto found = g_moduleLoggers.find(reinterpret_cast<uintptr_t>(module));
        if (found != g_moduleLoggers.end()) {
            *stored = true;
            return found->second.logger;
        }
    }
    // The file name is looked up outside the lock.
    std::wstring name = L"unknown";
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'/');
    if (slash && slash[1] != L'\0') {
        name = _wcslwr(const_cast<wchar_t*>(slash + 1));
        DropSharedObjectVersion(name);
    }
    LoggerPtr logger = Logger::getLogger(name);
    // Stored and checked against the disabled modules in one step, so that
    // the disabled lists applied meanwhile are not undone.
    Guard<CSLock> guard(&AdapterLock());
    if (slash) {
        g_moduleLoggers[reinterpret_cast<uintptr_t>(module)] = ModuleLogger{name, logger};
        *stored = true;
    }
    if (g_featureConfig.IsModuleDisabled(name)) SetLoggerEnabled(logger, false);
    return logger;
}

// The file the root appender writes: the configured one, or the file it fell
// back to.
std::wstring ActiveLogFilePath() {
    auto appender = std::dynamic_pointer_cast<CRecordFileAppender>(RootAppender());
    if (!appender) return g_logFilePath;
    LogString path = appender->getActiveFile();
    std::wstring wide(path.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0],
                                     static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(length > 0 ? length : 0));
    return wide;
}

bool LogFileExists() {
    HANDLE file = CreateFileW(ActiveLogFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// Opens the log file anew under the same name; false when the root appender
// is not the rolling file appender.
bool ReopenLogFile() {
    Guard<CSLock> guard(&AdapterLock());
    std::shared_ptr<RollingFileAppender> appender = RootAppender();
    if (!appender) return false;
    appender->setFile(WideToNarrow(g_logFilePath.c_str()));
    log4cxx::helpers::Pool pool;
    appender->activateOptions(pool);
    return true;
}

template <typename FileChar, typename Char>
void WriteRecord(HINSTANCE module, const FileChar* file, int line, int levelCode,
                 PendingMessage<Char>& message) {
    bool criticalPass =
        levelCode == DBG_LEVEL_CRITICAL && g_adapterCriticalInfo.load(std::memory_order_relaxed);
    if (!g_debugEnabled.load(std::memory_order_relaxed) && !criticalPass) return;
    if (!AdapterIsSetUp()) {
        AdapterSetUp();
        if (!AdapterIsSetUp()) return;
    }

    Logger* logger = FindModuleLogger(module);
    const LevelPtr& level = LevelCodeToLevel(levelCode);
    if (!logger || !logger->isEnabledFor(level)) return;

    CheckLogFileRecreated();

    size_t length = 0;
    const Char* text = message.Format(&length);
    // Per-thread buffers: after the first records nothing is allocated here.
    thread_local LogString recordText;
    thread_local std::string narrowFile;
    BuildRecordText(recordText, levelCode, text, length);
    const char* sourceFile = CutSourceFile(file, narrowFile);
    try {
        log4cxx::spi::LocationInfo location(sourceFile, sourceFile, "", line);
        logger->forcedLogLS(level, recordText, location);
    } catch (...) {
        // A record log4cxx could not write is lost; the caller goes on.
    }
}

}  // namespace

// ---- Set-up ----------------------------------------------------------------------------

void AdapterHandOverSettings(int mode, int count, bool critical, const wchar_t* path) {
    g_storedMode = mode;
    g_storedBackupCount = count;
    g_adapterCriticalInfo.store(critical, std::memory_order_relaxed);
    Guard<CSLock> guard(&AdapterLock());
    g_logFilePath = path ? path : L"";
}

namespace {

// A registry that stays locked while the set-up reads it leaves the back end
// unconfigured, rather than configured from reads that got no answer: the
// records are dropped, and the set-up runs again a few seconds later.
bool SetUpMayRun() {
    DWORD failed = g_setUpFailedTick.load(std::memory_order_relaxed);
    return failed == 0 || GetTickCount() - failed >= kUnreadSettingsRetryMs;
}

void AdapterSetUp() {
    Guard<CSLock> guard(&AdapterLock());
    if (g_setUp.load(std::memory_order_relaxed) || !SetUpMayRun()) return;
    try {
        CRegistryWaitBudget budget;
        CSettingsReadCheck check;
        g_featureConfig.ResolveMappingFilePath();
        g_featureConfig.LoadFeatureMapping();
        g_processBaseName = ProcessBaseName();
        std::wstring logFilePath = g_logFilePath;
        if (logFilePath.empty()) logFilePath = ComposeFallbackLogPath(g_processBaseName);
        if (HKEY key = OpenProductKeyForReading(kDefaultProductKeyPath)) {
            ApplyDisabledLists(key);
            ReadLogFormat(key);
            ReadDiagnosticsSwitch(key);
            RegCloseKey(key);
        }
        if (check.Unanswered()) {
            g_setUpFailedTick.store(GetTickCount() | 1, std::memory_order_relaxed);
            return;
        }
        g_logFilePath = logFilePath;
        ConfigureRootAppender();
        g_unknownLogger = Logger::getLogger(LOG4CXX_STR("unknown"));
    } catch (...) {
        // A back end that could not be configured drops its records.
    }
    // Once the settings were read, the set-up runs once per process, whatever
    // its outcome.
    g_setUp.store(true, std::memory_order_release);
}

// log4cxx's rolling window keeps backups 1 to 13: it refuses other counts
// with a complaint on standard error and keeps the nearest of those. The
// count is brought into that range first, with the same effect, quietly.
int AppenderBackupCount(int count) { return std::clamp(count, 1, 13); }

void ConfigureRootAppender() {
    log4cxx::helpers::LogLog::setQuietMode(!g_log4cxxDiagnostics);
    log4cxx::BasicConfigurator::resetConfiguration();
    if (g_logFormat.empty()) g_logFormat = kDefaultLogFormat;
    log4cxx::helpers::Pool pool;

    auto layout = std::make_shared<CRecordLayout>();
    layout->setConversionPattern(WideToNarrow(g_logFormat.c_str()));

    auto appender = std::make_shared<CRecordFileAppender>();
    appender->setLayout(layout);
    appender->setFile(WideToNarrow(g_logFilePath.c_str()));
    appender->setName(kRootAppenderName);
    appender->setMaxFileSize(LOG4CXX_STR("10MB"));
    appender->setMaxBackupIndex(AppenderBackupCount(g_storedBackupCount));
    appender->setEncoding(LOG4CXX_STR("utf-8"));
    appender->activateOptions(pool);

    log4cxx::BasicConfigurator::configure(appender);
    Logger::getRootLogger()->setLevel(ModeToLevel(g_storedMode));
}

LevelPtr ModeToLevel(int mode) {
    const Levels& levels = GetLevels();
    switch (mode) {
        case 0:
            return levels.fatal;
        case 1:
            return levels.error;
        case 2:
            return levels.info;
        case 3:
            return levels.all;
        default:
            return levels.off;
    }
}

}  // namespace

// ---- Record write path -----------------------------------------------------------------

void AdapterWriteRecord(HINSTANCE module, const char* file, int line, int levelCode,
                        PendingMessage<char>& text) {
    WriteRecord(module, file, line, levelCode, text);
}

void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        PendingMessage<wchar_t>& text) {
    WriteRecord(module, file, line, levelCode, text);
}

void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        PendingMessage<char>& text) {
    WriteRecord(module, file, line, levelCode, text);
}

namespace {

const LevelPtr& LevelCodeToLevel(int levelCode) {
    const Levels& levels = GetLevels();
    switch (levelCode) {
        case DBG_LEVEL_CRITICAL:
            return g_adapterCriticalInfo.load(std::memory_order_relaxed) ? levels.fatal : levels.error;
        case DBG_LEVEL_WARNING:
            return levels.warn;
        case DBG_LEVEL_ERROR:
        case DBG_LEVEL_ERROR2:
        case DBG_LEVEL_ERROR_EXIT:
            return levels.error;
        case DBG_LEVEL_FATAL:
            return levels.fatal;
        default:
            return levels.debug;
    }
}

void SetLoggerEnabled(const LoggerPtr& logger, bool enabled) {
    logger->setLevel(enabled ? Logger::getRootLogger()->getLevel() : GetLevels().off);
}

// Re-creates a deleted log file. Checks at most every three seconds; the
// first check only starts the clock.
void CheckLogFileRecreated() {
    DWORD now = GetTickCount();
    DWORD last = g_lastFileCheckTick.load(std::memory_order_relaxed);
    if (last == 0 || now < last) {
        g_lastFileCheckTick.store(now, std::memory_order_relaxed);
        return;
    }
    if (now - last < kFileCheckIntervalMs) return;
    g_lastFileCheckTick.store(now, std::memory_order_relaxed);
    if (LogFileExists() || !ReopenLogFile()) return;
    // Written after the adapter lock is released: the record's own entry
    // point may take the settings lock, which comes first in the lock order.
    DBG::DebugLogEx(DBG_THIS_MODULE, DBG_LEVEL_DEBUG, L"Log4cxxAdapter.cpp", 1071,
                    L"Debug log file re-created!");
}

std::string WideToNarrow(const wchar_t* text) {
    if (!text) return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], size, nullptr, nullptr) == 0)
        return std::string();
    narrow.resize(strlen(narrow.c_str()));
    return narrow;
}

}  // namespace

// ---- Run-time reconfiguration ------------------------------------------------------------

// Switched-off module loggers (level OFF) stay off; the disabled lists
// switch them on again.
void AdapterSetDebugMode(int mode) {
    if (!g_setUp.load(std::memory_order_acquire)) return;
    Guard<CSLock> guard(&AdapterLock());
    LevelPtr level = ModeToLevel(mode);
    Logger::getRootLogger()->setLevel(level);
    for (const auto& entry : g_moduleLoggers) {
        LoggerPtr logger = Logger::getLogger(entry.second.name);
        if (logger->getLevel() != GetLevels().off) logger->setLevel(level);
    }
}

// The new count applies to the open appender; the file stays open in append
// mode, so earlier records are kept.
void AdapterSetDebugLogCount(int count) {
    if (!g_setUp.load(std::memory_order_acquire)) return;
    Guard<CSLock> guard(&AdapterLock());
    std::shared_ptr<RollingFileAppender> appender = RootAppender();
    if (!appender) return;
    appender->setMaxBackupIndex(AppenderBackupCount(count));
    log4cxx::helpers::Pool pool;
    appender->activateOptions(pool);
}

// ---- Filtering -------------------------------------------------------------------------------

// The list names each process that logs by its executable's base name, then
// any one separator character, then a flag: "0" is off, anything else on.
// Only the first occurrence of the name counts, also inside a longer word.
void ApplyModuleList(const wchar_t* moduleList) {
    Guard<CSLock> guard(&AdapterLock());
    if (g_processBaseName.empty()) g_processBaseName = ProcessBaseName();
    std::wstring list = moduleList ? moduleList : L"";
    std::wstring name = g_processBaseName;
    _wcslwr(&list[0]);
    _wcslwr(&name[0]);
    if (IsInstallerProcess(name.c_str())) {
        g_debugEnabled.store(true, std::memory_order_relaxed);
        return;
    }
    size_t found = name.empty() ? std::wstring::npos : list.find(name);
    bool enabled = false;
    if (found != std::wstring::npos) {
        // A name that ends the list, with no flag after it, counts as on.
        size_t flag = found + name.size() + 1;
        enabled = flag >= list.size() || list[flag] != L'0';
    }
    g_debugEnabled.store(enabled, std::memory_order_relaxed);
}

CFeatureConfig& AdapterFeatureConfig() { return g_featureConfig; }

bool AdapterIsSetUp() { return g_setUp.load(std::memory_order_acquire); }

// Silenced loggers get the level OFF, all others the root logger's level.
void ApplyDisabledModulesToLoggers() {
    Guard<CSLock> guard(&AdapterLock());
    for (const auto& entry : g_moduleLoggers) {
        LoggerPtr logger = Logger::getLogger(entry.second.name);
        if (logger) SetLoggerEnabled(logger, !g_featureConfig.IsModuleDisabled(entry.second.name));
    }
}
