// The writers of one log file: processes that write it find each other, and
// take turns, through byte locks in a lock file beside it.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace dbg_internal {

// How far a process may write on its own count before it asks the disk for
// the file's size again, and how near a limit it asks for every record.
constexpr size_t kRecheckBytes = 64 * 1024;

// This process's place among the writers of the file it has open. Its owner
// (the appender) guards it: changes under the owner's lock held alone,
// looks under it held shared or alone.
class CLogWriters {
  public:
    CLogWriters() = default;
    ~CLogWriters() { Close(); }
    CLogWriters(const CLogWriters&) = delete;
    CLogWriters& operator=(const CLogWriters&) = delete;

    // The lock file of the file just opened (<path>.lock); the one open stays
    // while the name is the same (a roll), so that the writers' lock held
    // across it stays held.
    void OpenLockFile(HANDLE file, const std::wstring& path);
    // Takes this process's place among the writers of the file just opened.
    // True when this process now counts the file's size itself.
    bool Join(bool mayWriteAlone);
    // Whether this process writes the file alone: it may count the file's
    // size itself until a short while from now. True when it starts to.
    bool CheckWritesAlone(ULONGLONG now);
    bool CheckIsDue(ULONGLONG now) const;
    // Closing the lock file releases this process's locks in it.
    void Close();

    HANDLE LockFile() const { return lockFile_; }
    bool HasLockFile() const { return lockFile_ != INVALID_HANDLE_VALUE; }
    // Whether another process may write the file.
    bool Shared() const { return shared_.load(std::memory_order_relaxed); }
    // A size on disk beyond this process's count: a writer that takes no lock.
    void MarkShared() { shared_.store(true, std::memory_order_relaxed); }
    // Whether this process may still count the file's size itself at now.
    bool CountsAlone(ULONGLONG now) const {
        return !Shared() && now < aloneUntil_.load(std::memory_order_relaxed);
    }
    // This process's bytes while the file is shared, toward the next look.
    void CountSharedBytes(size_t bytes) {
        if (Shared()) sinceCheck_.fetch_add(bytes, std::memory_order_relaxed);
    }

  private:
    HANDLE lockFile_ = INVALID_HANDLE_VALUE;
    std::wstring lockFileW_;
    // While the file is not shared: until when this process may count its
    // size itself, and whether it holds the lock that tells newcomers so.
    std::atomic<bool> shared_{true};
    std::atomic<ULONGLONG> aloneUntil_{0};
    bool holdsAloneLock_ = false;
    // While it is: this process's bytes since it last looked for company.
    std::atomic<size_t> sinceCheck_{0};
};

// The writers' lock of the file, taken for one record or one roll and
// released when the holder goes, a cancelled thread too.
class CWritersLock {
  public:
    explicit CWritersLock(HANDLE lockFile) : file_(lockFile) {}
    ~CWritersLock();
    CWritersLock(const CWritersLock&) = delete;
    CWritersLock& operator=(const CWritersLock&) = delete;
    // At once, or waiting a few milliseconds at most.
    bool Take(bool wait);

  private:
    HANDLE file_;
    bool held_ = false;
};

}  // namespace dbg_internal
