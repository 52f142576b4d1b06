// The writers' byte locks in a log file's lock file: who writes the file,
// whether one process writes it alone, and the turn for a roll.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_writers.h"

namespace dbg_internal {

namespace {

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

// A record or a roll waits at most this long for another writer's lock; a
// roll that does not get it is put off to a later record.
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

}  // namespace

CWritersLock::~CWritersLock() {
    if (held_) UnlockByte(file_, kWritersLock);
}

bool CWritersLock::Take(bool wait) {
    if (!held_)
        held_ = wait ? LockByteWithin(file_, kWritersLock, LOCKFILE_EXCLUSIVE_LOCK)
                     : LockByte(file_, kWritersLock, LOCKFILE_EXCLUSIVE_LOCK);
    return held_;
}

void CLogWriters::OpenLockFile(HANDLE file, const std::wstring& path) {
    std::wstring lockPath = path + L".lock";
    if (lockFile_ != INVALID_HANDLE_VALUE && lockPath == lockFileW_) return;
    if (lockFile_ != INVALID_HANDLE_VALUE) CloseHandle(lockFile_);
    lockFile_ = NlOpenWritersLockFile(file, lockPath.c_str());
    lockFileW_ = lockFile_ == INVALID_HANDLE_VALUE ? std::wstring() : std::move(lockPath);
}

// A newcomer announces itself before it looks for a process counting on its
// own, and such a process takes its lock before it looks for other writers:
// of two processes, one always sees the other. The newcomer then waits until
// the other has surely looked again and stopped counting, and starts shared.
// Without locks on the file system the file counts as shared for good.
bool CLogWriters::Join(bool mayWriteAlone) {
    shared_.store(true, std::memory_order_relaxed);
    aloneUntil_.store(0, std::memory_order_relaxed);
    sinceCheck_.store(0, std::memory_order_relaxed);
    holdsAloneLock_ = false;
    if (!LockByteWithin(lockFile_, kWriterMarker, 0)) return false;
    if (LockByte(lockFile_, kAloneMarker, LOCKFILE_EXCLUSIVE_LOCK))
        UnlockByte(lockFile_, kAloneMarker);
    else
        Sleep(kNewcomerWaitMs);
    return mayWriteAlone && CheckWritesAlone(GetTickCount64());
}

// The shared lock on the writers' byte turns exclusive only when no other
// process holds one, and back again. The time is taken before the look: the
// process counts on its own no longer than a newcomer waits.
bool CLogWriters::CheckWritesAlone(ULONGLONG now) {
    sinceCheck_.store(0, std::memory_order_relaxed);
    if (!holdsAloneLock_) holdsAloneLock_ = LockByte(lockFile_, kAloneMarker, 0);
    if (holdsAloneLock_ && LockByte(lockFile_, kWriterMarker, LOCKFILE_EXCLUSIVE_LOCK)) {
        LockByte(lockFile_, kWriterMarker, 0);
        bool starts = shared_.load(std::memory_order_relaxed);
        aloneUntil_.store(now + kAloneMs, std::memory_order_relaxed);
        shared_.store(false, std::memory_order_relaxed);
        return starts;
    }
    if (holdsAloneLock_) UnlockByte(lockFile_, kAloneMarker);
    holdsAloneLock_ = false;
    aloneUntil_.store(0, std::memory_order_relaxed);
    shared_.store(true, std::memory_order_relaxed);
    return false;
}

// Alone, when the time to count on its own is over; shared, every few dozen
// kilobytes of its own records.
bool CLogWriters::CheckIsDue(ULONGLONG now) const {
    return shared_.load(std::memory_order_relaxed)
               ? sinceCheck_.load(std::memory_order_relaxed) >= kRecheckBytes
               : now >= aloneUntil_.load(std::memory_order_relaxed);
}

void CLogWriters::Close() {
    if (lockFile_ != INVALID_HANDLE_VALUE) CloseHandle(lockFile_);
    lockFile_ = INVALID_HANDLE_VALUE;
    lockFileW_.clear();
    holdsAloneLock_ = false;
    shared_.store(true, std::memory_order_relaxed);
}

}  // namespace dbg_internal
