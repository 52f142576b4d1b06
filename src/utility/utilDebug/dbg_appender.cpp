// The record file appender: each record's way to the file, one write, the
// roll log4cxx's policies call for, the size limit and the count of records
// lost; the open file (CLogFile) and this process's place among its writers
// (CLogWriters) are parts it owns.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_appender.h"

#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/rolling/fixedwindowrollingpolicy.h>
#include <log4cxx/rolling/rolloverdescription.h>
#include <log4cxx/rolling/sizebasedtriggeringpolicy.h>
#include <log4cxx/spi/filter.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "dbg_modulename.h"
#include "dbg_convert.h"
#include "dbg_diagnostics.h"
#include "dbg_loglocation.h"
#include "utilDebug.h"

namespace dbg_internal {

using log4cxx::LogString;
using log4cxx::helpers::Pool;
using log4cxx::rolling::FixedWindowRollingPolicy;
using log4cxx::rolling::RollingPolicyPtr;
using log4cxx::rolling::RolloverDescriptionPtr;

static_assert(LOG4CXX_LOGCHAR_IS_UTF8, "records are written as log4cxx's own UTF-8 text");

namespace {

// A buffer that grew for a long record is given back after use.
constexpr size_t kRetainedRecordCapacity = 8192;

// The logger name of the library's own records: its file name in lower case
// without the version suffix, as the module logger table names every module.
LogString OwnLoggerName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(DBG_THIS_MODULE, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'/');
    std::wstring name = slash ? slash + 1 : path;
    _wcslwr(&name[0]);
    DropSharedObjectVersion(name);
    return ToUtf8(name.data(), name.size());
}

// One buffer per thread for the record text; a record written after the
// thread's buffer is gone (from a static destructor at exit) uses its own.
struct RecordBuffer {
    LogString text;
    bool inUse = false;
    ~RecordBuffer() { inUse = true; }
};
thread_local RecordBuffer t_recordBuffer;

class CRecordText {
  public:
    CRecordText() : shared_(t_recordBuffer.inUse ? nullptr : &t_recordBuffer) {
        if (shared_) shared_->inUse = true;
    }
    ~CRecordText() {
        if (!shared_) return;
        if (shared_->text.capacity() > kRetainedRecordCapacity) LogString().swap(shared_->text);
        shared_->text.clear();
        shared_->inUse = false;
    }
    CRecordText(const CRecordText&) = delete;
    CRecordText& operator=(const CRecordText&) = delete;
    LogString& text() { return shared_ ? shared_->text : own_; }

  private:
    RecordBuffer* shared_;
    LogString own_;
};

bool PassesFilters(const log4cxx::spi::LoggingEventPtr& event, const log4cxx::spi::FilterPtr& first) {
    for (log4cxx::spi::FilterPtr filter = first; filter; filter = filter->getNext()) {
        switch (filter->decide(event)) {
            case log4cxx::spi::Filter::DENY:
                return false;
            case log4cxx::spi::Filter::ACCEPT:
                return true;
            case log4cxx::spi::Filter::NEUTRAL:
                break;
        }
    }
    return true;
}

void Execute(const log4cxx::rolling::ActionPtr& action, Pool& pool, bool* succeeded) {
    if (!action) return;
    try {
        if (!action->execute(pool)) *succeeded = false;
    } catch (const std::exception&) {
        *succeeded = false;
    }
}

}  // namespace

CRecordFileAppender::CRecordFileAppender() = default;

CRecordFileAppender::~CRecordFileAppender() { CloseFile(); }

std::wstring CRecordFileAppender::ActiveFileW() const {
    CGuard<CSharedLock> guard(&lock_);
    return file_.PathW();
}

// The policies log4cxx's own appender would use: those the options set, else
// a fixed window of backups named <file>.<n> and the size trigger.
void CRecordFileAppender::PreparePolicies(Pool& pool) {
    if (!getRollingPolicy()) {
        auto window = std::make_shared<FixedWindowRollingPolicy>();
        window->setFileNamePattern(getFile() + LOG4CXX_STR(".%i"));
        setRollingPolicy(window);
    }
    if (!getTriggeringPolicy()) {
        auto trigger = log4cxx::cast<log4cxx::rolling::TriggeringPolicy>(getRollingPolicy());
        if (!trigger) trigger = std::make_shared<log4cxx::rolling::SizeBasedTriggeringPolicy>();
        setTriggeringPolicy(trigger);
    }
    getTriggeringPolicy()->activateOptions(pool);
    getRollingPolicy()->activateOptions(pool);
    trigger_ = getTriggeringPolicy();
    auto bySize = log4cxx::cast<log4cxx::rolling::SizeBasedTriggeringPolicy>(trigger_);
    maxSize_.store(bySize ? bySize->getMaxFileSize() : SIZE_MAX, std::memory_order_relaxed);
    triggerBySize_.store(bySize != nullptr, std::memory_order_relaxed);
}

// Opening, rolling and closing hold a cancelled thread off until they are
// done: a thread that ends halfway would leave the appender without a file.
void CRecordFileAppender::activateOptions(Pool& pool) {
    CCancellationHold hold;
    CGuard<CSharedLock> guard(&lock_);
    CloseFile();
    closed_.store(false, std::memory_order_relaxed);
    try {
        PreparePolicies(pool);
        LogString path = getFile();
        bool append = getAppend();
        if (RolloverDescriptionPtr start = getRollingPolicy()->initialize(path, append, pool)) {
            bool succeeded = true;
            Execute(start->getSynchronous(), pool, &succeeded);
            Execute(start->getAsynchronous(), pool, &succeeded);
            path = start->getActiveFileName();
            append = start->getAppend();
        }
        OpenFirstWritable(path, append, pool);
    } catch (const std::exception&) {
        log4cxx::helpers::LogLog::error(LOG4CXX_STR("No file could be opened for the appender ") + getName());
    }
}

void CRecordFileAppender::OpenFirstWritable(const LogString& path, bool append, Pool& pool) {
    std::vector<LogString> candidates = LogFilePlaces(path, TemporaryFolder(), GetCurrentProcessId());
    DWORD firstError = ERROR_SUCCESS;
    for (size_t i = 0; i < candidates.size(); ++i) {
        DWORD error = ERROR_SUCCESS;
        if (!Open(candidates[i], append, &error)) {
            if (i == 0) firstError = error;
            continue;
        }
        if (i == 0) {
            activePolicy_ = getRollingPolicy();
            return;
        }
        // A fall-back file rolls beside itself, keeping the configured window.
        auto window = std::make_shared<FixedWindowRollingPolicy>();
        window->setFileNamePattern(candidates[i] + LOG4CXX_STR(".%i"));
        if (auto configured = log4cxx::cast<FixedWindowRollingPolicy>(getRollingPolicy())) {
            window->setMinIndex(configured->getMinIndex());
            window->setMaxIndex(configured->getMaxIndex());
        }
        window->activateOptions(pool);
        window->initialize(candidates[i], true, pool);
        activePolicy_ = window;
        WriteNotice(LOG4CXX_STR("Debug log file ") + path + LOG4CXX_STR(" cannot be written (") +
                        FileRefusalReason(firstError) + LOG4CXX_STR("): records go to ") + candidates[i],
                    pool);
        return;
    }
    log4cxx::helpers::LogLog::error(LOG4CXX_STR("No file could be opened for ") + path);
}

bool CRecordFileAppender::Open(const LogString& path, bool append, DWORD* error, bool mayWriteAlone) {
    if (!file_.Open(path, append, error)) return false;
    writers_.OpenLockFile(file_.Handle(), file_.PathW());
    writers_.Join(mayWriteAlone);
    NoteSize(file_.Size());
    sizeLimit_.ReadAgain();
    return true;
}

// Under the appender's lock held alone. A process that starts counting the
// file's size itself takes the size on disk as its start.
void CRecordFileAppender::CheckWritesAlone(ULONGLONG now) {
    if (writers_.CheckWritesAlone(now)) NoteSize(file_.Size());
}

void CRecordFileAppender::CloseFile() {
    file_.Close();
    writers_.Close();
}

void CRecordFileAppender::close() {
    CCancellationHold hold;
    {
        CGuard<CSharedLock> guard(&lock_);
        closed_.store(true, std::memory_order_relaxed);
        CloseFile();
    }
    RollingFileAppender::close();
}

// Processes that share the file roll it one at a time, under the writers'
// lock, held until the new file is open, so that a process that takes it
// next finds the name given to a new file and opens that, instead of
// rolling again what was just rolled. A roll that cannot take the lock
// within kWritersWaitMs (only a writer can hold it) is put off (false): the
// records go on into the file meanwhile, unless another process has rolled
// it already, when the new file is opened.
bool CRecordFileAppender::RollShared(Pool& pool, CWritersLock& writers) {
    bool locked = !writers_.HasLockFile() || writers.Take(true);
    bool atItsName = file_.IsStillAtItsName();
    // Another writer holds the lock: most likely it rolls the file now.
    if (!locked && atItsName) return false;
    if (atItsName) {
        Rollover(pool);
        return true;
    }
    LogString path = file_.Path();
    HANDLE rolled = file_.Detach();
    DWORD error = ERROR_SUCCESS;
    if (Open(path, true, &error, false))
        CloseHandle(rolled);
    else
        file_.Restore(rolled);
    return true;
}

// As log4cxx rolls: the policy renames the backups and the file, and the
// appender opens the active file anew; the rolled file stays open until
// then.
void CRecordFileAppender::Rollover(Pool& pool) {
    RolloverDescriptionPtr rollover = activePolicy_->rollover(file_.Path(), true, pool);
    if (!rollover) return;
    LogString path = file_.Path();
    bool alone = !writers_.Shared();
    HANDLE rolled = file_.Detach();
    bool succeeded = true;
    Execute(rollover->getSynchronous(), pool, &succeeded);
    if (succeeded) Execute(rollover->getAsynchronous(), pool, &succeeded);
    DWORD error = ERROR_SUCCESS;
    if (rollover->getActiveFileName() == path || !Open(rollover->getActiveFileName(), true, &error, alone)) {
        if (!Open(path, true, &error, alone)) file_.Restore(rolled);  // a failed Open changes no name
    }
    if (file_.Handle() != rolled) CloseHandle(rolled);
}

void CRecordFileAppender::WriteCounted(const LogString& text) {
    size_t written = file_.Write(text);
    if (written == text.size()) return;
    if (written > 0) lineOpen_.store(true, std::memory_order_relaxed);
    lost_.fetch_add(1, std::memory_order_relaxed);
}

LogString CRecordFileAppender::LossNotices(Pool& pool) {
    LogString notices =
        lineOpen_.load(std::memory_order_relaxed) ? LogString(LOG4CXX_STR("\n")) : LogString();
    size_t lost = lost_.load(std::memory_order_relaxed);
    if (lost > 0)
        notices += FormatNotice(std::to_string(lost) + (lost == 1 ? " record" : " records") +
                                    " lost while the debug log file could not be written (a full disk)",
                                pool);
    size_t overLimit = overLimit_.load(std::memory_order_relaxed);
    if (overLimit > 0)
        notices += FormatNotice(std::to_string(overLimit) + (overLimit == 1 ? " record" : " records") +
                                    " lost: the file would have passed the file size limit of the process (" +
                                    std::to_string(sizeLimit_.Last()) + " bytes)",
                                pool);
    return notices;
}

void CRecordFileAppender::WriteAfterLoss(const LogString& notices, const LogString& text) {
    if (notices.empty()) {
        WriteCounted(text);
        return;
    }
    size_t lost = lost_.load(std::memory_order_relaxed);
    size_t overLimit = overLimit_.load(std::memory_order_relaxed);
    LogString all = notices + text;
    // The line break and the notices count with the record.
    sinceCheck_.fetch_add(notices.size(), std::memory_order_relaxed);
    size_t written = file_.Write(all);
    if (written == all.size()) {
        lineOpen_.store(false, std::memory_order_relaxed);
        lost_.fetch_sub(lost, std::memory_order_relaxed);
        overLimit_.fetch_sub(overLimit, std::memory_order_relaxed);
        return;
    }
    // The line break may have gone out, and the notices with it.
    if (written > 0) lineOpen_.store(true, std::memory_order_relaxed);
    lost_.fetch_add(1, std::memory_order_relaxed);
}

LogString CRecordFileAppender::FormatNotice(const LogString& text, Pool& pool) {
    LogString record;
    log4cxx::LayoutPtr layout = getLayout();
    if (!layout) return record;
    auto event = std::make_shared<log4cxx::spi::LoggingEvent>(
        OwnLoggerName(), log4cxx::Level::getWarn(), text,
        log4cxx::spi::LocationInfo("dbg_appender.cpp", "dbg_appender.cpp", "", __LINE__));
    layout->format(record, event, pool);
    return record;
}

void CRecordFileAppender::WriteNotice(const LogString& text, Pool& pool) {
    LogString record = FormatNotice(text, pool);
    if (record.empty()) return;
    sinceCheck_.fetch_add(record.size(), std::memory_order_relaxed);
    file_.Write(record);
}

void CRecordFileAppender::NoteSize(size_t size) {
    checkedSize_.store(size, std::memory_order_relaxed);
    sinceCheck_.store(0, std::memory_order_relaxed);
}

// Each record adds its length to the count before its write, so that the
// count is never below what this process put on disk: a larger size on disk
// means a writer that takes no lock, and the file counts as shared.
size_t CRecordFileAppender::SizeBefore(size_t record, ULONGLONG now) {
    size_t since = sinceCheck_.fetch_add(record, std::memory_order_relaxed);
    size_t estimate = checkedSize_.load(std::memory_order_relaxed) + since;
    size_t limit = maxSize_.load(std::memory_order_relaxed);
    if (writers_.CountsAlone(now) && since < kRecheckBytes &&
        (limit == SIZE_MAX || (estimate < limit && limit - estimate > kRecheckBytes + record)))
        return estimate;
    size_t size = file_.Size();
    if (size > estimate + record) writers_.MarkShared();
    checkedSize_.store(size, std::memory_order_relaxed);
    sinceCheck_.store(record, std::memory_order_relaxed);
    return size;
}

bool CRecordFileAppender::RollIsDue(const log4cxx::spi::LoggingEventPtr& event, size_t size) const {
    return file_.IsOpen() && trigger_ &&
           trigger_->isTriggeringEvent(const_cast<CRecordFileAppender*>(this), event, file_.Path(), size);
}

// A trigger that decides by the size alone is asked by records sharing the
// lock; any other, a roll, every record under a file size limit (another
// process may write the file, and a process that believes it writes alone
// may be wrong for as long as it is not scheduled), and the first record
// after a loss go one at a time.
void CRecordFileAppender::WriteRecord(const LogString& text, const log4cxx::spi::LoggingEventPtr& event,
                                      Pool* pool) {
    if (triggerBySize_.load(std::memory_order_relaxed)) {
        CSharedGuard shared(&lock_);
        if (!file_.IsOpen()) return;
        ULONGLONG now = GetTickCount64();
        if (sizeLimit_.Current(now) == SIZE_MAX) {
            writers_.CountSharedBytes(text.size());
            size_t size = writers_.CheckIsDue(now) ? SIZE_MAX : SizeBefore(text.size(), now);
            if (size != SIZE_MAX && !RollIsDue(event, size) && lost_.load(std::memory_order_relaxed) == 0 &&
                overLimit_.load(std::memory_order_relaxed) == 0 &&
                !lineOpen_.load(std::memory_order_relaxed)) {
                WriteCounted(text);
                return;
            }
        }
    }
    if (pool) {
        WriteRecordAlone(text, event, *pool);
    } else {
        Pool own;
        WriteRecordAlone(text, event, own);
    }
}

// Another record, or another process, may have rolled the file meanwhile. A
// record that would pass the file size limit rolls the file; when even the
// new file cannot take it, or the roll is put off, it is dropped and
// counted, and the next record written tells how many were. Under a size
// limit the look at the size and the write are made under the writers' lock,
// so that however many processes write the file and however their records
// interleave, none is carried past the limit (SIGXFSZ) or cut short.
void CRecordFileAppender::WriteRecordAlone(const LogString& text, const log4cxx::spi::LoggingEventPtr& event,
                                           Pool& pool) {
    CCancellationHold hold;
    CGuard<CSharedLock> guard(&lock_);
    if (!file_.IsOpen()) return;
    ULONGLONG now = GetTickCount64();
    if (writers_.CheckIsDue(now)) CheckWritesAlone(now);
    size_t limit = sizeLimit_.ReadNow();
    CWritersLock writers(writers_.LockFile());
    if (limit != SIZE_MAX && writers_.HasLockFile() && !writers.Take(true)) {
        overLimit_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    LogString notices = LossNotices(pool);
    size_t size = file_.Size();
    if (RollIsDue(event, size) || !FitsUnder(limit, size, notices.size() + text.size())) {
        // A roll puts the rest of an open line behind it.
        if (RollShared(pool, writers) && file_.IsOpen() && file_.Size() == 0) {
            lineOpen_.store(false, std::memory_order_relaxed);
            notices = LossNotices(pool);
        }
        size = file_.Size();
    }
    NoteSize(size + text.size());
    if (!file_.IsOpen()) return;
    if (!FitsUnder(limit, size, notices.size() + text.size())) {
        if (overLimit_.fetch_add(1, std::memory_order_relaxed) == 0)
            log4cxx::helpers::LogLog::warn(
                LOG4CXX_STR("Debug records dropped: the file size limit of the process (") +
                std::to_string(limit) + LOG4CXX_STR(" bytes) would be passed in ") + file_.Path());
        return;
    }
    WriteAfterLoss(notices, text);
}

void CRecordFileAppender::doAppend(const log4cxx::spi::LoggingEventPtr& event, Pool& pool) {
    if (closed_.load(std::memory_order_relaxed) || !isAsSevereAsThreshold(event->getLevel())) return;
    try {
        if (!PassesFilters(event, getFilter())) return;
        log4cxx::LayoutPtr layout = getLayout();
        if (!layout) return;
        CRecordText record;
        layout->format(record.text(), event, pool);
        WriteRecord(record.text(), event, &pool);
    } catch (const std::exception&) {
        // A record that cannot be written is lost; the caller goes on.
    }
}

bool CRecordFileAppender::AppendFields(const RecordFields& fields) {
    // Filters and a trigger that look at the event get one: log4cxx's way.
    CRecordLayout* layout = recordLayout_.load(std::memory_order_acquire);
    if (!layout || !layout->IsCompiled() || filtered_.load(std::memory_order_relaxed) ||
        !triggerBySize_.load(std::memory_order_relaxed))
        return false;
    if (closed_.load(std::memory_order_relaxed) || !isAsSevereAsThreshold(*fields.level)) return true;
    try {
        CRecordText record;
        layout->FormatFields(fields, record.text());
        WriteRecord(record.text(), log4cxx::spi::LoggingEventPtr(), nullptr);
    } catch (const std::exception&) {
        // A record that cannot be written is lost; the caller goes on.
    }
    return true;
}

bool CRecordFileAppender::FormatFields(const RecordFields& fields, LogString& out) const {
    CRecordLayout* layout = recordLayout_.load(std::memory_order_acquire);
    if (!layout || !layout->IsCompiled()) return false;
    layout->FormatFields(fields, out);
    return true;
}

bool CRecordFileAppender::AppendFormatted(const LogString& text) {
    if (!triggerBySize_.load(std::memory_order_relaxed)) return false;
    if (closed_.load(std::memory_order_relaxed)) return true;
    try {
        WriteRecord(text, log4cxx::spi::LoggingEventPtr(), nullptr);
    } catch (const std::exception&) {
    }
    return true;
}

// A layout that is replaced stays alive with the appender: a record on
// another thread may still be formatting through it.
void CRecordFileAppender::setLayout(const log4cxx::LayoutPtr layout) {
    CGuard<CSharedLock> guard(&lock_);
    if (log4cxx::LayoutPtr previous = getLayout()) retiredLayouts_.push_back(previous);
    RollingFileAppender::setLayout(layout);
    recordLayout_.store(dynamic_cast<CRecordLayout*>(layout.get()), std::memory_order_release);
}

void CRecordFileAppender::addFilter(const log4cxx::spi::FilterPtr filter) {
    filtered_.store(true, std::memory_order_relaxed);
    RollingFileAppender::addFilter(filter);
}

void CRecordFileAppender::clearFilters() {
    RollingFileAppender::clearFilters();
    filtered_.store(false, std::memory_order_relaxed);
}

}  // namespace dbg_internal
