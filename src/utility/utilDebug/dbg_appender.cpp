// The record file appender: log4cxx's rolling policies decide when and how
// the file rolls; the file itself is opened and written through the platform
// layer, one write per record.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_appender.h"

#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>
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

#include "ModuleName.h"
#include "dbg_diagnostics.h"
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

std::wstring Widen(const LogString& text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

LogString Narrow(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    LogString narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], size, nullptr,
                            nullptr);
    return narrow;
}

size_t LastSeparator(const LogString& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == LogString::npos ? 0 : slash + 1;
}

// Creates the missing folders above a file, as log4cxx does; each gets the
// platform's fixed folder mode.
void CreateFoldersFor(const LogString& path) {
    size_t end = LastSeparator(path);
    for (size_t next = path.find_first_of("/\\", 1); next != LogString::npos && next < end;
         next = path.find_first_of("/\\", next + 1))
        CreateDirectoryW(Widen(path.substr(0, next)).c_str(), nullptr);
}

LogString TemporaryDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    return length > 0 && length < MAX_PATH ? Narrow(buffer) : LogString();
}

// worker.log becomes worker.<pid>.log: a name no other process uses.
LogString OwnName(const LogString& name) {
    LogString stem = name;
    const LogString extension = ".log";
    if (stem.size() > extension.size() &&
        stem.compare(stem.size() - extension.size(), extension.size(), extension) == 0)
        stem.resize(stem.size() - extension.size());
    return stem + "." + std::to_string(GetCurrentProcessId()) + extension;
}

// Where records may go, best first: the configured file; in the temporary
// directory, the same name; there, a name of the process's own.
std::vector<LogString> Candidates(const LogString& configured) {
    size_t cut = LastSeparator(configured);
    LogString folder = configured.substr(0, cut);
    LogString name = configured.substr(cut);
    LogString temporary = TemporaryDirectory();
    std::vector<LogString> candidates{configured};
    if (temporary.empty() || name.empty()) return candidates;
    if (folder != temporary) candidates.push_back(temporary + name);
    candidates.push_back(temporary + OwnName(name));
    return candidates;
}

// The logger name of the library's own records: its file name in lower case
// without the version suffix, as the module logger table names every module.
LogString OwnLoggerName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(DBG_THIS_MODULE, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'/');
    std::wstring name = slash ? slash + 1 : path;
    _wcslwr(&name[0]);
    DropSharedObjectVersion(name);
    return Narrow(name);
}

// One buffer per thread for the record text; a record written after the
// thread's buffer is gone (from a static destructor at exit) uses its own.
struct RecordBuffer {
    LogString text;
    bool inUse = false;
    ~RecordBuffer() { inUse = true; }
};
thread_local RecordBuffer t_recordBuffer;

class RecordText {
  public:
    RecordText() : shared_(t_recordBuffer.inUse ? nullptr : &t_recordBuffer) {
        if (shared_) shared_->inUse = true;
    }
    ~RecordText() {
        if (!shared_) return;
        if (shared_->text.capacity() > kRetainedRecordCapacity) LogString().swap(shared_->text);
        shared_->text.clear();
        shared_->inUse = false;
    }
    RecordText(const RecordText&) = delete;
    RecordText& operator=(const RecordText&) = delete;
    LogString& text() { return shared_ ? shared_->text : own_; }

  private:
    RecordBuffer* shared_;
    LogString own_;
};

// The largest file the process may write: a write past it would raise
// SIGXFSZ, which kills a process that does not handle it.
size_t FileSizeLimit() {
    ULONGLONG limit = NlGetFileSizeLimit();
    return limit >= SIZE_MAX ? SIZE_MAX : static_cast<size_t>(limit);
}

bool FitsUnder(size_t limit, size_t size, size_t record) {
    return limit == SIZE_MAX || (size <= limit && record <= limit - size);
}

// How far a process may write on its own count before it asks the disk for
// the file's size again, and how near a limit it asks for every record.
constexpr size_t kRecheckBytes = 64 * 1024;
constexpr ULONGLONG kSizeLimitRereadMs = 1000;

// Processes that write one file order themselves through locks in a lock
// file beside it (<file>.lock), which only those who may write the file can
// open: a process that may only read the log can take none of them, and so
// can neither hold up a writer nor keep the file from rolling. Byte 0 is the
// writers' lock: a roll, and under a file size limit the look at the size
// with the write that follows, hold it alone. Every writer holds a shared
// lock on byte 1; a process that counts the file's size itself, believing it
// writes alone, also holds one on byte 2. Without a lock file (a folder that
// does not allow one, or one that is not the writers' own) the file counts
// as shared for good and rolls without the lock.
constexpr DWORD kWritersLock = 0;
constexpr DWORD kWriterMarker = 1;
constexpr DWORD kAloneMarker = 2;

// A record waits at most this long for another writer's lock; a roll does
// not wait for it at all, and is put off to a later record.
constexpr DWORD kWritersWaitMs = 5;

// A process writing alone looks again for other writers at least this often
// while it writes; a newcomer that finds one counting on its own waits
// longer than that, and a coarse clock tick, before its first record.
constexpr ULONGLONG kAloneMs = 4;
constexpr DWORD kNewcomerWaitMs = static_cast<DWORD>(kAloneMs) + 5;

bool LockByte(HANDLE file, DWORD byte, DWORD flags) {
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED at{};
    at.u.s.Offset = byte;
    return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

void UnlockByte(HANDLE file, DWORD byte) {
    OVERLAPPED at{};
    at.u.s.Offset = byte;
    UnlockFileEx(file, 0, 1, 0, &at);
}

// Tries at once, then a few times more within kWritersWaitMs.
bool LockByteWithin(HANDLE file, DWORD byte, DWORD flags) {
    for (DWORD waited = 0;; ++waited) {
        if (LockByte(file, byte, flags)) return true;
        if (file == INVALID_HANDLE_VALUE || waited >= kWritersWaitMs) return false;
        Sleep(waited < 2 ? 0 : 1);
    }
}

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

// Released however the holder leaves, a cancelled thread too.
CRecordFileAppender::CWritersLock::~CWritersLock() {
    if (held_) UnlockByte(file_, kWritersLock);
}

bool CRecordFileAppender::CWritersLock::Take(bool wait) {
    if (!held_)
        held_ = wait ? LockByteWithin(file_, kWritersLock, LOCKFILE_EXCLUSIVE_LOCK)
                     : LockByte(file_, kWritersLock, LOCKFILE_EXCLUSIVE_LOCK);
    return held_;
}

CRecordFileAppender::CRecordFileAppender() = default;

CRecordFileAppender::~CRecordFileAppender() { CloseFile(); }

std::wstring CRecordFileAppender::ActiveFileW() const {
    Guard<CSharedLock> guard(&lock_);
    return activeFileW_;
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
    Guard<CSharedLock> guard(&lock_);
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
    std::vector<LogString> candidates = Candidates(path);
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
    std::wstring widePath = Widen(path);
    // Read access too, for the shared locks that tell writers about each
    // other; a file this process may only write is opened for that alone,
    // and counts as shared.
    auto open = [&]() {
        HANDLE opened = INVALID_HANDLE_VALUE;
        for (DWORD access : {GENERIC_READ | FILE_APPEND_DATA, DWORD{FILE_APPEND_DATA}}) {
            opened = CreateFileW(widePath.c_str(), access,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (opened != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
        }
        return opened;
    };
    HANDLE file = open();
    if (file == INVALID_HANDLE_VALUE &&
        (GetLastError() == ERROR_PATH_NOT_FOUND || GetLastError() == ERROR_FILE_NOT_FOUND)) {
        CreateFoldersFor(path);
        file = open();
    }
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    file_ = file;
    activeFile_ = path;
    activeFileW_ = std::move(widePath);
    OpenLockFile();
    JoinWriters(mayWriteAlone);
    NoteSize(FileSize());
    sizeLimitTick_.store(0, std::memory_order_relaxed);
    return true;
}

// The lock file of the file just opened; the one open stays while the name
// is the same (a roll), so that the writers' lock held across it stays held.
void CRecordFileAppender::OpenLockFile() {
    std::wstring lockPath = activeFileW_ + L".lock";
    if (lockFile_ != INVALID_HANDLE_VALUE && lockPath == lockFileW_) return;
    if (lockFile_ != INVALID_HANDLE_VALUE) CloseHandle(lockFile_);
    lockFile_ = NlOpenWritersLockFile(file_, lockPath.c_str());
    lockFileW_ = lockFile_ == INVALID_HANDLE_VALUE ? std::wstring() : std::move(lockPath);
}

// A newcomer announces itself before it looks for a process counting on its
// own, and such a process takes its lock before it looks for other writers:
// of two processes, one always sees the other. The newcomer then waits until
// the other has surely looked again and stopped counting, and starts shared.
// Without locks on the file system the file counts as shared for good.
void CRecordFileAppender::JoinWriters(bool mayWriteAlone) {
    shared_.store(true, std::memory_order_relaxed);
    aloneUntil_.store(0, std::memory_order_relaxed);
    sinceWritersCheck_.store(0, std::memory_order_relaxed);
    holdsAloneLock_ = false;
    if (!LockByteWithin(lockFile_, kWriterMarker, 0)) return;
    if (LockByte(lockFile_, kAloneMarker, LOCKFILE_EXCLUSIVE_LOCK))
        UnlockByte(lockFile_, kAloneMarker);
    else
        Sleep(kNewcomerWaitMs);
    if (mayWriteAlone) CheckWritesAlone(GetTickCount64());
}

// Under the appender's lock held alone. The shared lock on the writers'
// byte turns exclusive only when no other process holds one, and back again.
// The time is taken before the look: the process counts on its own no longer
// than a newcomer waits.
void CRecordFileAppender::CheckWritesAlone(ULONGLONG now) {
    sinceWritersCheck_.store(0, std::memory_order_relaxed);
    if (!holdsAloneLock_) holdsAloneLock_ = LockByte(lockFile_, kAloneMarker, 0);
    if (holdsAloneLock_ && LockByte(lockFile_, kWriterMarker, LOCKFILE_EXCLUSIVE_LOCK)) {
        LockByte(lockFile_, kWriterMarker, 0);
        if (shared_.load(std::memory_order_relaxed)) NoteSize(FileSize());
        aloneUntil_.store(now + kAloneMs, std::memory_order_relaxed);
        shared_.store(false, std::memory_order_relaxed);
        return;
    }
    if (holdsAloneLock_) UnlockByte(lockFile_, kAloneMarker);
    holdsAloneLock_ = false;
    aloneUntil_.store(0, std::memory_order_relaxed);
    shared_.store(true, std::memory_order_relaxed);
}

// Alone, when the time to count on its own is over; shared, every few dozen
// kilobytes of its own records.
bool CRecordFileAppender::WritersCheckIsDue(ULONGLONG now) const {
    return shared_.load(std::memory_order_relaxed)
               ? sinceWritersCheck_.load(std::memory_order_relaxed) >= kRecheckBytes
               : now >= aloneUntil_.load(std::memory_order_relaxed);
}

void CRecordFileAppender::CloseFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    // Closing the lock file releases this process's locks in it.
    if (lockFile_ != INVALID_HANDLE_VALUE) CloseHandle(lockFile_);
    lockFile_ = INVALID_HANDLE_VALUE;
    lockFileW_.clear();
    holdsAloneLock_ = false;
    shared_.store(true, std::memory_order_relaxed);
    activeFile_.clear();
    activeFileW_.clear();
}

void CRecordFileAppender::close() {
    CCancellationHold hold;
    {
        Guard<CSharedLock> guard(&lock_);
        closed_.store(true, std::memory_order_relaxed);
        CloseFile();
    }
    RollingFileAppender::close();
}

// Whether the name still leads to the open file: another process that rolled
// it gave the name to a new file.
bool CRecordFileAppender::FileIsStillAtItsName() const {
    HANDLE named = CreateFileW(activeFileW_.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION open{}, found{};
    bool same = GetFileInformationByHandle(file_, &open) && GetFileInformationByHandle(named, &found) &&
                open.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
                open.nFileIndexHigh == found.nFileIndexHigh && open.nFileIndexLow == found.nFileIndexLow;
    CloseHandle(named);
    return same;
}

// Processes that share the file roll it one at a time, under the writers'
// lock, held until the new file is open, so that a process that takes it
// next finds the name given to a new file and opens that, instead of
// rolling again what was just rolled. A roll that cannot take the lock
// within kWritersWaitMs (only a writer can hold it) is put off (false): the
// records go on into the file meanwhile, unless another process has rolled
// it already, when the new file is opened.
bool CRecordFileAppender::RollShared(Pool& pool, CWritersLock& writers) {
    bool locked = lockFile_ == INVALID_HANDLE_VALUE || writers.Take(true);
    bool atItsName = FileIsStillAtItsName();
    // Another writer holds the lock: most likely it rolls the file now.
    if (!locked && atItsName) return false;
    if (atItsName) {
        Rollover(pool);
        return true;
    }
    HANDLE rolled = file_;
    LogString path = activeFile_;
    file_ = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    if (Open(path, true, &error, false))
        CloseHandle(rolled);
    else
        file_ = rolled;
    return true;
}

// As log4cxx rolls: the policy renames the backups and the file, and the
// appender opens the active file anew; the rolled file stays open until
// then.
void CRecordFileAppender::Rollover(Pool& pool) {
    RolloverDescriptionPtr rollover = activePolicy_->rollover(activeFile_, true, pool);
    if (!rollover) return;
    LogString path = activeFile_;
    HANDLE rolled = file_;
    bool alone = !shared_.load(std::memory_order_relaxed);
    file_ = INVALID_HANDLE_VALUE;
    bool succeeded = true;
    Execute(rollover->getSynchronous(), pool, &succeeded);
    if (succeeded) Execute(rollover->getAsynchronous(), pool, &succeeded);
    DWORD error = ERROR_SUCCESS;
    if (rollover->getActiveFileName() == path || !Open(rollover->getActiveFileName(), true, &error, alone)) {
        if (!Open(path, true, &error, alone)) file_ = rolled;  // a failed Open changes no name
    }
    if (file_ != rolled) CloseHandle(rolled);
}

size_t CRecordFileAppender::Write(const LogString& text) {
    DWORD written = 0;
    WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return written;
}

void CRecordFileAppender::WriteCounted(const LogString& text) {
    size_t written = Write(text);
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
                                    std::to_string(sizeLimit_.load(std::memory_order_relaxed)) + " bytes)",
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
    size_t written = Write(all);
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
    Write(record);
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
    size_t limit =
        std::min(maxSize_.load(std::memory_order_relaxed), sizeLimit_.load(std::memory_order_relaxed));
    if (!shared_.load(std::memory_order_relaxed) && now < aloneUntil_.load(std::memory_order_relaxed) &&
        since < kRecheckBytes &&
        (limit == SIZE_MAX || (estimate < limit && limit - estimate > kRecheckBytes + record)))
        return estimate;
    size_t size = FileSize();
    if (size > estimate + record) shared_.store(true, std::memory_order_relaxed);
    checkedSize_.store(size, std::memory_order_relaxed);
    sinceCheck_.store(record, std::memory_order_relaxed);
    return size;
}

size_t CRecordFileAppender::SizeLimit(size_t size, size_t record, ULONGLONG now) {
    size_t limit = sizeLimit_.load(std::memory_order_relaxed);
    if (FitsUnder(limit, size, record + kRecheckBytes) &&
        now - sizeLimitTick_.load(std::memory_order_relaxed) < kSizeLimitRereadMs)
        return limit;
    limit = FileSizeLimit();
    sizeLimit_.store(limit, std::memory_order_relaxed);
    sizeLimitTick_.store(now, std::memory_order_relaxed);
    return limit;
}

size_t CRecordFileAppender::FileSize() const {
    LARGE_INTEGER size{};
    if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size)) return 0;
    return static_cast<size_t>(size.QuadPart);
}

bool CRecordFileAppender::RollIsDue(const log4cxx::spi::LoggingEventPtr& event, size_t size) const {
    return file_ != INVALID_HANDLE_VALUE && trigger_ &&
           trigger_->isTriggeringEvent(const_cast<CRecordFileAppender*>(this), event, activeFile_, size);
}

// A trigger that decides by the size alone is asked by records sharing the
// lock; any other, a roll, every record under a file size limit (another
// process may write the file, and a process that believes it writes alone
// may be wrong for as long as it is not scheduled), and the first record
// after a loss go one at a time.
void CRecordFileAppender::WriteRecord(const LogString& text, const log4cxx::spi::LoggingEventPtr& event,
                                      Pool* pool) {
    if (triggerBySize_.load(std::memory_order_relaxed)) {
        SharedGuard shared(&lock_);
        if (file_ == INVALID_HANDLE_VALUE) return;
        ULONGLONG now = GetTickCount64();
        if (shared_.load(std::memory_order_relaxed))
            sinceWritersCheck_.fetch_add(text.size(), std::memory_order_relaxed);
        size_t size = WritersCheckIsDue(now) ? SIZE_MAX : SizeBefore(text.size(), now);
        size_t limit = size == SIZE_MAX ? SIZE_MAX : SizeLimit(size, text.size(), now);
        if (size != SIZE_MAX && limit == SIZE_MAX && !RollIsDue(event, size) &&
            lost_.load(std::memory_order_relaxed) == 0 && overLimit_.load(std::memory_order_relaxed) == 0 &&
            !lineOpen_.load(std::memory_order_relaxed)) {
            WriteCounted(text);
            return;
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
    Guard<CSharedLock> guard(&lock_);
    if (file_ == INVALID_HANDLE_VALUE) return;
    ULONGLONG now = GetTickCount64();
    if (WritersCheckIsDue(now)) CheckWritesAlone(now);
    size_t limit = FileSizeLimit();
    sizeLimit_.store(limit, std::memory_order_relaxed);
    CWritersLock writers(lockFile_);
    if (limit != SIZE_MAX && lockFile_ != INVALID_HANDLE_VALUE && !writers.Take(true)) {
        overLimit_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    LogString notices = LossNotices(pool);
    size_t size = FileSize();
    if (RollIsDue(event, size) || !FitsUnder(limit, size, notices.size() + text.size())) {
        // A roll puts the rest of an open line behind it.
        if (RollShared(pool, writers) && file_ != INVALID_HANDLE_VALUE && FileSize() == 0) {
            lineOpen_.store(false, std::memory_order_relaxed);
            notices = LossNotices(pool);
        }
        size = FileSize();
    }
    NoteSize(size + text.size());
    if (file_ == INVALID_HANDLE_VALUE) return;
    if (!FitsUnder(limit, size, notices.size() + text.size())) {
        if (overLimit_.fetch_add(1, std::memory_order_relaxed) == 0)
            log4cxx::helpers::LogLog::warn(
                LOG4CXX_STR("Debug records dropped: the file size limit of the process (") +
                std::to_string(limit) + LOG4CXX_STR(" bytes) would be passed in ") + activeFile_);
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
        RecordText record;
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
        RecordText record;
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
    Guard<CSharedLock> guard(&lock_);
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

void WarmUpLog4cxx() {
    // Quiet from the start: the set-up lets log4cxx speak when asked to.
    log4cxx::helpers::LogLog::setQuietMode(true);
    try {
        log4cxx::Logger::getRootLogger();
        log4cxx::Level::getAll();
        log4cxx::Level::getDebug();
        log4cxx::Level::getInfo();
        log4cxx::Level::getWarn();
        log4cxx::Level::getError();
        log4cxx::Level::getFatal();
        log4cxx::Level::getOff();
        Pool pool;
        log4cxx::PatternLayout layout(LOG4CXX_STR("%d{yyyy/MM/dd HH:mm:ss Z} [%t] [%c][%F(%L)] [%-5p] %m%n"));
        auto event = std::make_shared<log4cxx::spi::LoggingEvent>(
            LOG4CXX_STR("utildebug"), log4cxx::Level::getDebug(), LOG4CXX_STR("warm-up"),
            log4cxx::spi::LocationInfo("dbg_appender.cpp", "dbg_appender.cpp", "", __LINE__));
        LogString text;
        layout.format(text, event, pool);
    } catch (const std::exception&) {
    }
}

}  // namespace dbg_internal
