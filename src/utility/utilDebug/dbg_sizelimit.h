// The process's file size limit (RLIMIT_FSIZE) as the log file's writer
// sees it: a write past it would raise SIGXFSZ, which kills a process that
// does not handle it.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace dbg_internal {

// Whether a record of the given length fits after size bytes under limit.
inline bool FitsUnder(size_t limit, size_t size, size_t record) {
    return limit == SIZE_MAX || (size <= limit && record <= limit - size);
}

// The limit, read again at most once a second (and at once after a file is
// opened anew). Shared by the writing threads.
class CFileSizeLimit {
  public:
    static constexpr ULONGLONG kRereadMs = 1000;

    // The limit as it is now (SIZE_MAX without one), kept as the last read.
    size_t ReadNow() {
        ULONGLONG read = NlGetFileSizeLimit();
        size_t limit = read >= SIZE_MAX ? SIZE_MAX : static_cast<size_t>(read);
        limit_.store(limit, std::memory_order_relaxed);
        return limit;
    }
    // The last limit read, unless that is a second old.
    size_t Current(ULONGLONG now) {
        if (now - tick_.load(std::memory_order_relaxed) < kRereadMs)
            return limit_.load(std::memory_order_relaxed);
        tick_.store(now, std::memory_order_relaxed);
        return ReadNow();
    }
    // The last limit read.
    size_t Last() const { return limit_.load(std::memory_order_relaxed); }
    // The next record reads the limit again (a file opened anew).
    void ReadAgain() { tick_.store(0, std::memory_order_relaxed); }

  private:
    std::atomic<size_t> limit_{SIZE_MAX};
    std::atomic<ULONGLONG> tick_{0};
};

}  // namespace dbg_internal
