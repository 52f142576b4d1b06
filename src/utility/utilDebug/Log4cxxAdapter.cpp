// The back end over log4cxx: one size-rolled file per process, one logger per
// calling module, the level code table, and live changes of level, backups
// and the module list.
// On the library's ladder: the back end; it includes no unit above (scripts/ladder.sh).
#include "Log4cxxAdapter.h"

#include <log4cxx/basicconfigurator.h>
#include <log4cxx/helpers/date.h>
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <log4cxx/spi/hierarchyeventlistener.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <log4cxx/spi/loggerrepository.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "ModuleName.h"
#include "dbg_appender.h"
#include "dbg_defaults.h"
#include "dbg_diagnostics.h"
#include "dbg_journal.h"
#include "dbg_layout.h"
#include "dbg_locks.h"
#include "dbg_modules.h"
#include "dbg_logpath.h"
#include "dbg_filter.h"
#include "dbg_registry.h"
#include "utilDebug.h"

// log4cxx's object macros name "helpers" unqualified.
namespace helpers = log4cxx::helpers;

namespace {

// Changes whenever an appender is added to or removed from a logger, so that
// each module's route is decided anew.
std::atomic<unsigned> g_routeGeneration{1};

// Tells the write path that the loggers' appenders changed. log4cxx's class
// macros open namespace log4cxx, so the listener stands outside the library's
// namespace, in this file alone.
class CRouteListener : public virtual log4cxx::spi::HierarchyEventListener {
  public:
    DECLARE_ABSTRACT_LOG4CXX_OBJECT(CRouteListener)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(log4cxx::spi::HierarchyEventListener)
    END_LOG4CXX_CAST_MAP()

    void addAppenderEvent(const log4cxx::Logger*, const log4cxx::Appender*) override { NewRoutes(); }
    void removeAppenderEvent(const log4cxx::Logger*, const log4cxx::Appender*) override { NewRoutes(); }

  private:
    static void NewRoutes() { g_routeGeneration.fetch_add(1, std::memory_order_acq_rel); }
};

}  // namespace

IMPLEMENT_LOG4CXX_OBJECT(CRouteListener)

namespace dbg_internal {

using log4cxx::LevelPtr;
using log4cxx::Logger;
using log4cxx::LoggerPtr;
using log4cxx::LogString;
using log4cxx::rolling::RollingFileAppender;

std::atomic<bool> g_adapterCriticalInfo{false};

namespace {

const LogString kRootAppenderName = LOG4CXX_STR("rootAppender");
constexpr DWORD kFileCheckIntervalMs = 3000;
// DebugLogFormat is read with 1,023 registry bytes: 510 characters and the terminator.

// The set-up and write-path steps, in the order they run.
void AdapterSetUp();
void ConfigureRootAppender() REQUIRES(AdapterLock());
void AddUnknownModuleLogger() REQUIRES(AdapterLock());
LevelPtr ModeToLevel(int mode);
ModuleSlot* AddModuleLogger(HINSTANCE module);
const LevelPtr& LevelCodeToLevel(int levelCode);
void SetLoggerEnabled(const LoggerPtr& logger, bool enabled);
// Logs a record of its own, whose entry point may take the settings lock.
void CheckLogFileRecreated() EXCLUDES(AdapterLock());
std::string WideToNarrow(const wchar_t* text);

// ---- Adapter state ----------------------------------------------------------------
std::atomic<bool> g_setUp{false};
// When the last set-up found the registry unreadable (0: never).
std::atomic<DWORD> g_setUpFailedTick{0};
// log4cxx's own diagnostics reach standard error only when asked for.
bool g_log4cxxDiagnostics GUARDED_BY(AdapterLock()) = false;
int g_storedMode GUARDED_BY(AdapterLock()) = 0;
int g_storedBackupCount GUARDED_BY(AdapterLock()) = 10;
std::wstring g_processBaseName GUARDED_BY(AdapterLock());
// Written before the set-up, and by it; after it, only read.
std::wstring g_logFilePath GUARDED_BY(AdapterLock());
// The same, as log4cxx takes it: converted once, by the set-up.
LogString g_logFileName GUARDED_BY(AdapterLock());
std::wstring g_logFormat GUARDED_BY(AdapterLock());
std::atomic<DWORD> g_lastFileCheckTick{0};
// The appender the set-up made; it lives as long as the process. Never
// destroyed: its log4cxx parts hold APR pools, and in a host that loaded the
// library with dlopen() APR is gone before this unit's statics would be
// destroyed. Records reach the file with each write, so nothing waits for a
// destructor.
std::shared_ptr<CRecordFileAppender>& g_recordAppender = *new std::shared_ptr<CRecordFileAppender>;

}  // namespace

namespace {

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

// ---- Set-up steps -------------------------------------------------------------------

void ReadLogFormat(HKEY key) REQUIRES(AdapterLock()) {
    TextSetting format = ReadTextSetting(key, kValueDebugLogFormat, kLogFormatRule);
    if (format.outcome == TextSettingOutcome::kRead) g_logFormat = format.text;
}

// DebugLogDiagnostics, set to anything but 0, lets log4cxx report its own
// troubles (a file it cannot open, a bad pattern) on standard error.
void ReadDiagnosticsSwitch(HKEY key) REQUIRES(AdapterLock()) {
    DWORD value = 0;
    DWORD size = sizeof value;
    LSTATUS status = RegQueryValueExW(key, L"DebugLogDiagnostics", nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&value), &size);
    NoteSettingsRead(status);
    g_log4cxxDiagnostics = status == ERROR_SUCCESS && value != 0;
    SetDiagnostics(g_log4cxxDiagnostics);
}

// A DebugLogFormat whose widths log4cxx would fill without end, or read past
// an int, is not used: the default layout is.
std::wstring UsableLogFormat(const std::wstring& format) {
    if (format.empty()) return kDefaultLogFormat;
    const char* fault = LayoutPatternFault(WideToNarrow(format.c_str()));
    if (!fault) return format;
    SayDiagnostic(std::string("DebugLogFormat is not used (") + fault + "): records take the default layout");
    return kDefaultLogFormat;
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

// The record's text in log4cxx's own representation, UTF-8, so that it
// reaches the file unchanged whatever the process's locale.
void BuildRecordText(LogString& out, const char* prefix, const char* text, size_t length) {
    out.assign(prefix);
    out.append(text, length);
}

void BuildRecordText(LogString& out, const char* prefix, const wchar_t* text, size_t length) {
    out.assign(prefix);
    AppendNarrow(out, text, length);
}

// A thread's buffers for what it hands to log4cxx; a buffer that grew for a
// long record is given back after it.
constexpr size_t kRetainedBufferCapacity = 8192;

struct ThreadBuffers {
    LogString recordText;
    // The last wide source file name and its narrow form: callers pass the
    // same name record after record.
    std::wstring wideFile;
    std::string narrowFile;
    // A record logged after the thread's destructors ran (from an atexit
    // handler) uses buffers of its own.
    bool gone = false;
    ~ThreadBuffers() { gone = true; }
};
thread_local ThreadBuffers t_buffers;

void TrimBuffer(std::string& buffer) {
    if (buffer.capacity() > kRetainedBufferCapacity) std::string().swap(buffer);
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

const char* CutSourceFile(const wchar_t* file, std::string& scratch) {
    if (!file) return "";
    const wchar_t* cut = file;
    for (const wchar_t* p = file; *p; ++p)
        if (*p == L'/' || *p == L'\\') cut = p + 1;
    size_t length = wcslen(cut);
    ThreadBuffers& buffers = t_buffers;
    // A name too long to keep is converted for this record alone.
    if (buffers.gone || length > MAX_PATH) {
        AppendNarrow(scratch, cut, length);
        return scratch.c_str();
    }
    if (buffers.wideFile != cut) {
        buffers.wideFile.assign(cut, length);
        buffers.narrowFile.clear();
        AppendNarrow(buffers.narrowFile, cut, length);
    }
    return buffers.narrowFile.c_str();
}

// The module's entry; a module handle whose file is unknown writes through
// the "unknown" logger.
ModuleSlot* FindModuleLogger(HINSTANCE module) {
    ModuleSlot* slot = ModuleTable().Find(module);
    if (slot && !slot->unloaded.load(std::memory_order_relaxed)) return slot;
    return AddModuleLogger(module);
}

void MarkModuleUnloaded(void* module) { ModuleTable().MarkUnloaded(static_cast<HINSTANCE>(module)); }

// A module handle is the address of the module's own __dso_handle
// (DBG_THIS_MODULE): a handler registered with it runs when that module is
// unloaded (and at exit, when marking it does no harm).
void WatchModuleUnload(HINSTANCE module) {
    if (module && module != DBG_THIS_MODULE) NlCallOnModuleUnload(module, MarkModuleUnloaded, module);
}

// Adds the module's entry, or, for a handle whose module was unloaded,
// checks which file is at that address now: the same file keeps its entry,
// another gets one of its own.
ModuleSlot* AddModuleLogger(HINSTANCE module) {
    // The file name is looked up outside the lock.
    wchar_t path[MAX_PATH] = {};
    if (module) GetModuleFileNameW(module, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'/');
    if (!slash || slash[1] == L'\0') return ModuleTable().Find(nullptr);
    std::wstring name = _wcslwr(const_cast<wchar_t*>(slash + 1));
    DropSharedObjectVersion(name);
    LoggerPtr logger = Logger::getLogger(name);
    // Stored and checked against the disabled modules in one step, so that
    // the disabled lists applied meanwhile are not undone.
    Guard<CSLock> guard(&AdapterLock());
    ModuleSlot* slot = ModuleTable().Find(module);
    if (slot && !slot->unloaded.load(std::memory_order_seq_cst)) return slot;
    if (slot && slot->entry.load(std::memory_order_acquire)->name == name) {
        slot->unloaded.store(false, std::memory_order_relaxed);
        const_cast<ModuleLogger*>(slot->entry.load(std::memory_order_acquire))
            ->unloaded.store(false, std::memory_order_relaxed);
        WatchModuleUnload(module);
        return slot;
    }
    if (FilterFeatureConfig().IsModuleDisabled(name)) SetLoggerEnabled(logger, false);
    WatchModuleUnload(module);
    return slot ? ModuleTable().Replace(module, name, logger) : ModuleTable().Add(module, name, logger);
}

// ---- The direct route ---------------------------------------------------------------------

// Whether a logger's records reach the record appender and nothing else:
// no logger between it and the root holds an appender or stops records, and
// the root holds only the record appender.
bool RoutesOnlyTo(const LoggerPtr& logger, const log4cxx::Appender* appender) {
    LoggerPtr root = Logger::getRootLogger();
    for (LoggerPtr at = logger; at; at = at->getParent()) {
        log4cxx::AppenderList appenders = at->getAllAppenders();
        if (at == root) return appenders.size() == 1 && appenders.front().get() == appender;
        if (!appenders.empty() || !at->getAdditivity()) return false;
    }
    return false;
}

// How many held the record appender when a route was last decided. log4cxx
// 1.0 reports no appender removed from a logger: fewer holders is how the
// write path learns that the root may have let it go.
std::atomic<long> g_appenderHolders{0};

void DecideRoute(ModuleSlot& slot, unsigned generation) {
    Guard<CSLock> guard(&AdapterLock());
    g_appenderHolders.store(g_recordAppender.use_count(), std::memory_order_relaxed);
    const ModuleLogger* entry = slot.entry.load(std::memory_order_acquire);
    slot.direct.store(g_recordAppender && RoutesOnlyTo(entry->logger, g_recordAppender.get()),
                      std::memory_order_relaxed);
    slot.routeGeneration.store(generation, std::memory_order_release);
}

// The module logger's own additivity is read on every record: log4cxx tells
// nobody when it changes.
bool RoutesDirectly(ModuleSlot& slot) {
    unsigned generation = g_routeGeneration.load(std::memory_order_acquire);
    if (g_recordAppender.use_count() < g_appenderHolders.load(std::memory_order_relaxed))
        generation = g_routeGeneration.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (slot.routeGeneration.load(std::memory_order_acquire) != generation) DecideRoute(slot, generation);
    return slot.direct.load(std::memory_order_relaxed) && slot.logger->getAdditivity();
}

template <typename Char>
bool WriteDirectly(const Logger& logger, const LevelPtr& level, const char* file, int line,
                   const char* prefix, const Char* text, size_t length) {
    RecordFields fields;
    fields.logger = &logger.getName();
    fields.level = &level;
    fields.file = file;
    fields.line = line;
    fields.time = log4cxx::helpers::Date::currentTime();
    fields.prefix = prefix;
    if constexpr (sizeof(Char) == 1)
        fields.text = text;
    else
        fields.wideText = text;
    fields.length = length;
    return g_recordAppender->AppendFields(fields);
}

template <typename Char>
void WriteThroughLog4cxx(Logger& logger, const LevelPtr& level, const char* file, int line,
                         const char* prefix, const Char* text, size_t length) {
    LogString own;
    LogString& recordText = t_buffers.gone ? own : t_buffers.recordText;
    BuildRecordText(recordText, prefix, text, length);
    try {
        log4cxx::spi::LocationInfo location(file, file, "", line);
        logger.forcedLogLS(level, recordText, location);
    } catch (...) {
        // A record log4cxx could not write is lost; the caller goes on.
    }
    TrimBuffer(recordText);
}

// The file the root appender writes: the configured one, or the file it fell
// back to.
// Reads the path without the lock: only the write path calls it, after the
// set-up, and nothing changes the path after the set-up.
std::wstring ActiveLogFilePath() NO_THREAD_SAFETY_ANALYSIS {
    auto appender = std::dynamic_pointer_cast<CRecordFileAppender>(RootAppender());
    return appender ? appender->ActiveFileW() : g_logFilePath;
}

// Anything but a regular file at the name counts as missing: it is never
// waited for, and the log is opened anew.
bool LogFileExists() {
    std::wstring path = ActiveLogFilePath();
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

// Opens the log file anew under the same name; false when the root appender
// is not the rolling file appender.
bool ReopenLogFile() {
    Guard<CSLock> guard(&AdapterLock());
    std::shared_ptr<RollingFileAppender> appender = RootAppender();
    if (!appender) return false;
    appender->setFile(g_logFileName);
    log4cxx::helpers::Pool pool;
    appender->activateOptions(pool);
    return true;
}

// Tells in the file, as a warning of the library, why records meant for the
// journal are written there.
void WriteJournalNotice(const std::string& reason) {
    ModuleSlot* own = FindModuleLogger(DBG_THIS_MODULE);
    if (!own) return;
    try {
        log4cxx::spi::LocationInfo location("Log4cxxAdapter.cpp", "Log4cxxAdapter.cpp", "", __LINE__);
        own->logger->forcedLog(GetLevels().warn,
                               "The system journal cannot be reached (" + reason +
                                   "): records meant for it are written to this file",
                               location);
    } catch (...) {
    }
}

// Sends the record to the journal; true when it needs nothing more. A record
// the journal did not take goes to the file.
template <typename Char>
bool SentToJournalOnly(unsigned destination, const Logger& logger, const LevelPtr& level, int levelCode,
                       const char* file, int line, const char* prefix, const Char* text, size_t length) {
    JournalRecord record;
    record.priority = JournalPriorityOf(level->toInt());
    record.levelCode = levelCode;
    record.file = file;
    record.line = line;
    record.logger = &logger.getName();
    record.prefix = prefix;
    if constexpr (sizeof(Char) == 1)
        record.text = text;
    else
        record.wideText = text;
    record.length = length;
    std::string reason;
    if (SendToJournal(record, &reason)) return (destination & kDestinationFile) == 0;
    if (!reason.empty()) WriteJournalNotice(reason);
    return false;
}

template <typename FileChar, typename Char>
void WriteRecord(HINSTANCE module, const FileChar* file, int line, int levelCode,
                 PendingMessage<Char>& message) {
    // The entry point has asked whether this process logs: the one gate.
    if (!AdapterIsSetUp()) {
        AdapterSetUp();
        if (!AdapterIsSetUp()) return;
    }

    ModuleSlot* slot = FindModuleLogger(module);
    const LevelPtr& level = LevelCodeToLevel(levelCode);
    if (!slot || !slot->logger->isEnabledFor(level)) return;

    CheckLogFileRecreated();

    size_t length = 0;
    const Char* text = message.Format(&length);
    std::string scratch;
    const char* sourceFile = CutSourceFile(file, scratch);
    const char* prefix = PrefixOf(levelCode);
    // A record for the file alone pays one load here.
    const unsigned destination = CurrentLogDestination();
    if (destination != kDestinationFile && SentToJournalOnly(destination, *slot->logger, level, levelCode,
                                                             sourceFile, line, prefix, text, length))
        return;
    if (RoutesDirectly(*slot) && WriteDirectly(*slot->logger, level, sourceFile, line, prefix, text, length))
        return;
    WriteThroughLog4cxx(*slot->logger, level, sourceFile, line, prefix, text, length);
}

}  // namespace

// ---- Set-up ----------------------------------------------------------------------------

void AdapterHandOverSettings(int mode, int count, bool critical, const wchar_t* path) {
    Guard<CSLock> guard(&AdapterLock());
    g_storedMode = mode;
    g_storedBackupCount = count;
    g_adapterCriticalInfo.store(critical, std::memory_order_relaxed);
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
        FilterFeatureConfig().ResolveMappingFilePath();
        FilterFeatureConfig().LoadFeatureMapping();
        g_processBaseName = ProcessBaseName();
        SetJournalIdentifier(g_processBaseName.c_str());
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
        g_logFileName = WideToNarrow(g_logFilePath.c_str());
        ConfigureRootAppender();
        AddUnknownModuleLogger();
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
int AppenderBackupCount(int count) { return std::clamp(count, kMinBackupCount, kMaxBackupCount); }

// An appender added to or removed from any logger (by log4cxx's own
// configuration, say) may change where a module's records go.
void ListenForNewRoutes() {
    static const bool listening = [] {
        auto listener = std::make_shared<CRouteListener>();
        Logger::getRootLogger()->getLoggerRepository()->addHierarchyEventListener(listener);
        return true;
    }();
    (void)listening;
}

void ConfigureRootAppender() {
    log4cxx::helpers::LogLog::setQuietMode(!g_log4cxxDiagnostics);
    log4cxx::BasicConfigurator::resetConfiguration();
    g_logFormat = UsableLogFormat(g_logFormat);
    log4cxx::helpers::Pool pool;

    auto layout = std::make_shared<CRecordLayout>();
    layout->setConversionPattern(WideToNarrow(g_logFormat.c_str()));

    auto appender = std::make_shared<CRecordFileAppender>();
    appender->setLayout(layout);
    appender->setFile(g_logFileName);
    appender->setName(kRootAppenderName);
    appender->setMaxFileSize(LOG4CXX_STR("10MB"));
    appender->setMaxBackupIndex(AppenderBackupCount(g_storedBackupCount));
    appender->setEncoding(LOG4CXX_STR("utf-8"));
    appender->activateOptions(pool);

    log4cxx::BasicConfigurator::configure(appender);
    Logger::getRootLogger()->setLevel(ModeToLevel(g_storedMode));
    g_recordAppender = appender;
    ListenForNewRoutes();
    g_routeGeneration.fetch_add(1, std::memory_order_acq_rel);
}

// Records of the null module handle, and of handles whose file is unknown.
void AddUnknownModuleLogger() {
    const std::wstring name = L"unknown";
    LoggerPtr logger = Logger::getLogger(name);
    if (FilterFeatureConfig().IsModuleDisabled(name)) SetLoggerEnabled(logger, false);
    ModuleTable().Add(nullptr, name, logger);
}

LevelPtr ModeToLevel(int mode) {
    const Levels& levels = GetLevels();
    switch (ThresholdOfMode(mode)) {
        case Threshold::kFatal:
            return levels.fatal;
        case Threshold::kError:
            return levels.error;
        case Threshold::kInfo:
            return levels.info;
        case Threshold::kAll:
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

bool AdapterIsSetUp() { return g_setUp.load(std::memory_order_acquire); }

// ---- Run-time reconfiguration ------------------------------------------------------------

// Switched-off module loggers (level OFF) stay off; the disabled lists
// switch them on again.
void AdapterSetDebugMode(int mode) {
    if (!g_setUp.load(std::memory_order_acquire)) return;
    Guard<CSLock> guard(&AdapterLock());
    LevelPtr level = ModeToLevel(mode);
    Logger::getRootLogger()->setLevel(level);
    for (const ModuleLogger* entry : ModuleTable().Entries())
        if (entry->logger->getLevel() != GetLevels().off) entry->logger->setLevel(level);
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

}  // namespace dbg_internal
