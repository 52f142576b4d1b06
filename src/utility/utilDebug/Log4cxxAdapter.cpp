// The back end over log4cxx: its set-up, one logger per calling module, the
// way of each record (journal, file, recorder), and live changes of level,
// backups and the module list.
// On the library's ladder: the back end; it includes no unit above (scripts/ladder.sh).
#include "Log4cxxAdapter.h"
#include <cxxabi.h>

#include <log4cxx/basicconfigurator.h>
#include <log4cxx/helpers/date.h>
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <log4cxx/spi/location/locationinfo.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "dbg_dataroot.h"
#include "dbg_modulename.h"
#include "dbg_convert.h"
#include "dbg_appender.h"
#include "dbg_defaults.h"
#include "dbg_diagnostics.h"
#include "dbg_journal.h"
#include "dbg_layout.h"
#include "dbg_levels.h"
#include "dbg_locks.h"
#include "dbg_logcheck.h"
#include "dbg_modules.h"
#include "dbg_logpath.h"
#include "dbg_filter.h"
#include "dbg_recordtext.h"
#include "dbg_recorder.h"
#include "dbg_registry.h"
#include "dbg_route.h"
#include "utilDebug.h"

namespace dbg_internal {

using log4cxx::LevelPtr;
using log4cxx::Logger;
using log4cxx::LoggerPtr;
using log4cxx::LogString;
using log4cxx::rolling::RollingFileAppender;

namespace {

const LogString kRootAppenderName = LOG4CXX_STR("rootAppender");

// The set-up and write-path steps, in the order they run.
void AdapterSetUp() EXCLUDES(AdapterLock());
void ConfigureRootAppender() REQUIRES(AdapterLock());
void AddUnknownModuleLogger() REQUIRES(AdapterLock());
ModuleSlot* AddModuleLogger(HINSTANCE module) EXCLUDES(AdapterLock());
void SetLoggerEnabled(const LoggerPtr& logger, bool enabled);
// Logs a record of its own, whose entry point may take the settings lock.
void CheckLogFileRecreated() EXCLUDES(AdapterLock());

// ---- Adapter state ----------------------------------------------------------------
std::atomic<bool> g_setUp{false};
// When the last set-up found the registry unreadable (0: never).
std::atomic<DWORD> g_setUpFailedTick{0};
// log4cxx's own diagnostics reach standard error only when asked for.
bool g_log4cxxDiagnostics GUARDED_BY(AdapterLock()) = false;
int g_storedMode GUARDED_BY(AdapterLock()) = kDefaultDebugMode;
int g_storedBackupCount GUARDED_BY(AdapterLock()) = kDefaultLogCount;
// Written before the set-up, and by it; after it, only read.
std::wstring g_logFilePath GUARDED_BY(AdapterLock());
// The same, as log4cxx takes it: converted once, by the set-up.
LogString g_logFileName GUARDED_BY(AdapterLock());
std::wstring g_logFormat GUARDED_BY(AdapterLock());
// The appender the set-up made; it lives as long as the process. Never
// destroyed: its log4cxx parts hold APR pools, and in a host that loaded the
// library with dlopen() APR is gone before this unit's statics would be
// destroyed. Records reach the file with each write, so nothing waits for a
// destructor.
std::shared_ptr<CRecordFileAppender>& g_recordAppender = *new std::shared_ptr<CRecordFileAppender>;

// ---- Set-up steps -------------------------------------------------------------------

// A DebugLogFormat whose widths log4cxx would fill without end, or read past
// an int, is not used: the default layout is.
std::wstring UsableLogFormat(const std::wstring& format) {
    if (format.empty()) return kDefaultLogFormat;
    const char* fault = LayoutPatternFault(ToUtf8(format.c_str()));
    if (!fault) return format;
    SayDiagnostic(std::string("DebugLogFormat is not used (") + fault + "): records take the default layout");
    return kDefaultLogFormat;
}

std::shared_ptr<RollingFileAppender> RootAppender() {
    return log4cxx::cast<RollingFileAppender>(Logger::getRootLogger()->getAppender(kRootAppenderName));
}

// ---- Write path steps ------------------------------------------------------------------

// The module's entry; a module handle whose file is unknown writes through
// the "unknown" logger.
ModuleSlot* FindModuleLogger(HINSTANCE module) {
    ModuleSlot* slot = ModuleTable().Find(module);
    if (slot && !slot->unloaded.load(std::memory_order_acquire)) return slot;
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
    CGuard<CSLock> guard(&AdapterLock());
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

template <typename Char>
RecordFields FieldsOf(const Logger& logger, const LevelPtr& level, const char* file, int line,
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
    return fields;
}

template <typename Char>
bool WriteDirectly(const Logger& logger, const LevelPtr& level, const char* file, int line,
                   const char* prefix, const Char* text, size_t length) {
    return g_recordAppender->AppendFields(FieldsOf(logger, level, file, line, prefix, text, length));
}

// A cancelled thread's unwinding passes the handler below (see LogRecord).
template <typename Char>
__attribute__((no_sanitize("null"))) void WriteThroughLog4cxx(Logger& logger, const LevelPtr& level,
                                                              const char* file, int line, const char* prefix,
                                                              const Char* text, size_t length) {
    CRecordTextBuffer buffer;
    LogString& recordText = buffer.text();
    BuildRecordText(recordText, prefix, text, length);
    try {
        log4cxx::spi::LocationInfo location(file, file, "", line);
        logger.forcedLogLS(level, recordText, location);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // A record log4cxx could not write is lost; the caller goes on.
    }
}

// The file the root appender writes: the configured one, or the file it fell
// back to.
// Reads the path without the lock: only the write path calls it, after the
// set-up, and nothing changes the path after the set-up.
std::wstring ActiveLogFilePath() NO_THREAD_SAFETY_ANALYSIS {
    auto appender = std::dynamic_pointer_cast<CRecordFileAppender>(RootAppender());
    return appender ? appender->ActiveFileW() : g_logFilePath;
}

// Opens the log file anew under the same name; false when the root appender
// is not the rolling file appender.
bool ReopenLogFile() EXCLUDES(AdapterLock()) {
    CGuard<CSLock> guard(&AdapterLock());
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
        own->Logger()->forcedLog(GetLevels().warn,
                                 "The system journal cannot be reached (" + reason +
                                     "): records meant for it are written to this file",
                                 location);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
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

// Whether the disabled lists silence the module: its logger is off then
// (and so is every logger while the threshold is off).
bool IsSilenced(const ModuleSlot& slot) EXCLUDES(AdapterLock()) {
    if (slot.Logger()->isEnabledFor(GetLevels().fatal)) return false;
    CGuard<CSLock> guard(&AdapterLock());
    return FilterFeatureConfig().IsModuleDisabled(slot.entry.load(std::memory_order_acquire)->name);
}

// The kept records go out whole, each once: a thread cancelled meanwhile
// ends after them.
void WriteOutKeptRecordsWhole(const char* why) {
    CCancellationHold hold;
    WriteOutKeptRecords(why, CurrentLogDestination(), g_recordAppender.get());
    hold.Resume();
}

// A record the threshold rejected, kept while the recorder is on: only what
// the process would write at threshold 3, so nothing of a silenced module.
template <typename FileChar, typename Char>
void KeepRejectedRecord(const ModuleSlot& slot, const LevelPtr& level, int levelCode, const FileChar* file,
                        int line, CPendingMessage<Char>& message) {
    if (IsSilenced(slot)) return;
    size_t length = 0;
    const Char* text = message.Format(&length);
    std::string scratch;
    KeepRecord(FieldsOf(*slot.Logger(), level, CutSourceFile(file, scratch), line, PrefixOf(levelCode), text,
                        length),
               levelCode, CurrentLogDestination(), g_recordAppender.get());
    if (KeptRecordsRequested()) WriteOutKeptRecordsWhole("on request");
}

// Before a record at error level or worse the kept records go out first. A
// request for them is looked for by the records that are kept.
void WriteOutKeptRecordsIfDue(const LevelPtr& level) {
    if (level->toInt() >= log4cxx::Level::ERROR_INT && RecorderHasRecords())
        WriteOutKeptRecordsWhole("before this error");
}

template <typename Char>
void WriteEnabledRecord(log4cxx::Logger& logger, ModuleSlot& slot, const LevelPtr& level,
                        const char* sourceFile, int line, int levelCode, const Char* text, size_t length) {
    CheckLogFileRecreated();
    if (RecorderIsOn()) WriteOutKeptRecordsIfDue(level);
    const char* prefix = PrefixOf(levelCode);
    // A record for the file alone pays one load here.
    const unsigned destination = CurrentLogDestination();
    if (destination != kDestinationFile &&
        SentToJournalOnly(destination, logger, level, levelCode, sourceFile, line, prefix, text, length))
        return;
    if (RoutesDirectly(slot, g_recordAppender) &&
        WriteDirectly(logger, level, sourceFile, line, prefix, text, length))
        return;
    WriteThroughLog4cxx(logger, level, sourceFile, line, prefix, text, length);
}

template <typename FileChar, typename Char>
void WriteRecord(HINSTANCE module, const FileChar* file, int line, int levelCode,
                 CPendingMessage<Char>& message) {
    // The entry point has asked whether this process logs: the one gate.
    if (!AdapterIsSetUp()) {
        CCancellationHold hold;
        AdapterSetUp();
        hold.Resume();
        if (!AdapterIsSetUp()) return;
    }

    ModuleSlot* slot = FindModuleLogger(module);
    const LevelPtr& level = LevelCodeToLevel(levelCode);
    if (!slot) return;
    log4cxx::Logger& logger = *slot->Logger();
    if (!logger.isEnabledFor(level)) {
        if (RecorderIsOn()) KeepRejectedRecord(*slot, level, levelCode, file, line, message);
        return;
    }

    // A thread cancelled in the write changes nothing others share (the
    // appender holds cancellation off where it opens or rolls the file).
    size_t length = 0;
    const Char* text = message.Format(&length);
    std::string scratch;
    const char* sourceFile = CutSourceFile(file, scratch);
    WriteEnabledRecord(logger, *slot, level, sourceFile, line, levelCode, text, length);
}

}  // namespace

// ---- Set-up ----------------------------------------------------------------------------

void AdapterHandOverSettings(int mode, int count, bool critical, const wchar_t* path) {
    CGuard<CSLock> guard(&AdapterLock());
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
    CGuard<CSLock> guard(&AdapterLock());
    if (g_setUp.load(std::memory_order_relaxed) || !SetUpMayRun()) return;
    try {
        CRegistryWaitBudget budget;
        CSettingsReadCheck check;
        HKEY key = OpenProductKeyForReading(kDefaultProductKeyPath);
        CKeyCloser closer(key);
        // The switch comes first: what the set-up says of the files it
        // reads is said by it. Set to anything but 0, log4cxx too reports its
        // own troubles (a file it cannot open, a bad pattern) on standard error.
        if (key) {
            g_log4cxxDiagnostics = ReadDiagnosticsSwitch(key);
            SetDiagnostics(g_log4cxxDiagnostics);
        }
        MappingFileLocation mapping = ResolveMappingFile();
        FilterFeatureConfig().SetMappingFile(mapping.path, mapping.source);
        LoadFeatureMapping(FilterFeatureConfig());
        SetJournalIdentifier(ProcessBaseName().c_str());
        std::wstring logFilePath = g_logFilePath;
        if (logFilePath.empty()) logFilePath = ComposeFallbackLogPath(ProcessBaseName());
        if (key) {
            ApplyDisabledListsLocked(key);
            ReadLogFormat(key, &g_logFormat);
        }
        if (check.Unanswered()) {
            g_setUpFailedTick.store(GetTickCount() | 1, std::memory_order_relaxed);
            return;
        }
        g_logFilePath = logFilePath;
        g_logFileName = ToUtf8(g_logFilePath.c_str());
        ConfigureRootAppender();
        AddUnknownModuleLogger();
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
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

void ConfigureRootAppender() {
    log4cxx::helpers::LogLog::setQuietMode(!g_log4cxxDiagnostics);
    log4cxx::BasicConfigurator::resetConfiguration();
    g_logFormat = UsableLogFormat(g_logFormat);
    log4cxx::helpers::Pool pool;

    auto layout = std::make_shared<CRecordLayout>();
    layout->setConversionPattern(ToUtf8(g_logFormat.c_str()));

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
}

// Records of the null module handle, and of handles whose file is unknown.
void AddUnknownModuleLogger() {
    const std::wstring name = L"unknown";
    LoggerPtr logger = Logger::getLogger(name);
    if (FilterFeatureConfig().IsModuleDisabled(name)) SetLoggerEnabled(logger, false);
    ModuleTable().Add(nullptr, name, logger);
}

}  // namespace

// ---- Record write path -----------------------------------------------------------------

void AdapterWriteRecord(HINSTANCE module, const char* file, int line, int levelCode,
                        CPendingMessage<char>& text) {
    WriteRecord(module, file, line, levelCode, text);
}

void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        CPendingMessage<wchar_t>& text) {
    WriteRecord(module, file, line, levelCode, text);
}

void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        CPendingMessage<char>& text) {
    WriteRecord(module, file, line, levelCode, text);
}

namespace {

void SetLoggerEnabled(const LoggerPtr& logger, bool enabled) {
    logger->setLevel(enabled ? Logger::getRootLogger()->getLevel() : GetLevels().off);
}

// Re-creates a deleted log file. Checks at most every three seconds; the
// first check only starts the clock.
void CheckLogFileRecreated() {
    if (!LogFileCheckIsDue() || LogFileExists(ActiveLogFilePath()) || !ReopenLogFile()) return;
    // Written after the adapter lock is released: the record's own entry
    // point may take the settings lock, which comes first in the lock order.
    DBG::DebugLogEx(DBG_THIS_MODULE, DBG_LEVEL_DEBUG, L"Log4cxxAdapter.cpp", 1071,
                    L"Debug log file re-created!");
}

}  // namespace

bool AdapterIsSetUp() { return g_setUp.load(std::memory_order_acquire); }

// ---- Run-time reconfiguration ------------------------------------------------------------

// Switched-off module loggers (level OFF) stay off; the disabled lists
// switch them on again.
void AdapterSetDebugMode(int mode) {
    if (!g_setUp.load(std::memory_order_acquire)) return;
    CGuard<CSLock> guard(&AdapterLock());
    LevelPtr level = ModeToLevel(mode);
    Logger::getRootLogger()->setLevel(level);
    for (const ModuleLogger* entry : ModuleTable().Entries())
        if (entry->logger->getLevel() != GetLevels().off) entry->logger->setLevel(level);
}

// The new count applies to the open appender; the file stays open in append
// mode, so earlier records are kept.
void AdapterSetDebugLogCount(int count) {
    if (!g_setUp.load(std::memory_order_acquire)) return;
    CGuard<CSLock> guard(&AdapterLock());
    std::shared_ptr<RollingFileAppender> appender = RootAppender();
    if (!appender) return;
    appender->setMaxBackupIndex(AppenderBackupCount(count));
    log4cxx::helpers::Pool pool;
    appender->activateOptions(pool);
}

}  // namespace dbg_internal
