// The file appender behind "rootAppender". It is a log4cxx rolling file
// appender, with the same options, the same rolling and the same files, but
// it writes each record with one write on a descriptor opened for appending,
// so that records of any length from several processes never interleave;
// processes that share the file order themselves through a lock file that
// only its writers can open;
// it never opens the file through a link, creates files and folders with
// fixed modes, and falls back to a file of its own when the configured one
// cannot be written.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <log4cxx/rolling/rollingfileappender.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "dbg_layout.h"
#include "dbg_locks.h"
#include "dbg_logfile.h"
#include "dbg_sizelimit.h"
#include "dbg_writers.h"

namespace dbg_internal {

class CRecordFileAppender : public log4cxx::rolling::RollingFileAppender {
  public:
    CRecordFileAppender();
    ~CRecordFileAppender() override;

    // Opens the file (anew, when it is open): the configured one, else the
    // same name in the temporary directory, else a name of the process's own
    // there, with one record at the top saying why.
    void activateOptions(log4cxx::helpers::Pool& pool) override;
    // Threshold and filters as log4cxx applies them, then the record,
    // formatted by the layout, with one write; the file rolls first when the
    // triggering policy says so.
    void doAppend(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool& pool) override;
    void close() override;

    // A record straight from its fields, without a log4cxx event: false when
    // it must take log4cxx's way (filters, a layout or a triggering policy
    // that needs the event); true when it was written, or dropped as
    // doAppend would drop it.
    bool AppendFields(const RecordFields& fields);
    // The record as AppendFields would write it; false without a compiled layout.
    bool FormatFields(const RecordFields& fields, log4cxx::LogString& out) const;
    // Text already formatted (records kept earlier), written as a record is;
    // false when records must take log4cxx's way.
    bool AppendFormatted(const log4cxx::LogString& text);

    // Kept track of, so that a record knows without a lock whether it may
    // take the direct way.
    void setLayout(const log4cxx::LayoutPtr layout) override;
    void addFilter(const log4cxx::spi::FilterPtr filter) override;
    void clearFilters() override;

    // The file the records go to, as the platform layer takes its name
    // (converted once, when the file was opened); empty when none could be.
    std::wstring ActiveFileW() const;

  private:
    void PreparePolicies(log4cxx::helpers::Pool& pool) REQUIRES(lock_);
    void OpenFirstWritable(const log4cxx::LogString& path, bool append, log4cxx::helpers::Pool& pool)
        REQUIRES(lock_);
    // A file opened to go on from a shared file starts shared; any other
    // may find at once that this process writes it alone.
    bool Open(const log4cxx::LogString& path, bool append, DWORD* error, bool mayWriteAlone = true)
        REQUIRES(lock_);
    // Looks again whether this process writes the file alone.
    void CheckWritesAlone(ULONGLONG now) REQUIRES(lock_);
    void CloseFile() REQUIRES(lock_);
    // Rolls the file unless another process rolled it first, in which case
    // the file now at its name is opened; under the writers' lock, or put
    // off (false) when another writer holds it.
    bool RollShared(log4cxx::helpers::Pool& pool, CWritersLock& writers) REQUIRES(lock_);
    void Rollover(log4cxx::helpers::Pool& pool) REQUIRES(lock_);
    log4cxx::LogString FormatNotice(const log4cxx::LogString& text, log4cxx::helpers::Pool& pool);
    void WriteNotice(const log4cxx::LogString& text, log4cxx::helpers::Pool& pool) REQUIRES_SHARED(lock_);
    // Writes the text; a write cut short is counted and leaves its line to be
    // ended before the next record.
    void WriteCounted(const log4cxx::LogString& text) REQUIRES_SHARED(lock_);
    // What goes before the next record after a loss: the line break a write
    // cut short left open, and a notice for each kind of records lost.
    log4cxx::LogString LossNotices(log4cxx::helpers::Pool& pool) REQUIRES(lock_);
    // The notices, then the record; one at a time.
    void WriteAfterLoss(const log4cxx::LogString& notices, const log4cxx::LogString& text) REQUIRES(lock_);
    // Rolls when due, then writes.
    void WriteRecord(const log4cxx::LogString& text, const log4cxx::spi::LoggingEventPtr& event,
                     log4cxx::helpers::Pool* pool) EXCLUDES(lock_);
    void WriteRecordAlone(const log4cxx::LogString& text, const log4cxx::spi::LoggingEventPtr& event,
                          log4cxx::helpers::Pool& pool) EXCLUDES(lock_);
    // The file's size before a record of the given length: this process's
    // count since it last asked the disk, while that is safe; the size on
    // disk near the limits, every few dozen kilobytes, and for every record
    // while another process may be writing the file.
    size_t SizeBefore(size_t record, ULONGLONG now) REQUIRES_SHARED(lock_);
    void NoteSize(size_t size);
    bool RollIsDue(const log4cxx::spi::LoggingEventPtr& event, size_t size) const REQUIRES_SHARED(lock_);

    // Guards the file and the policy that rolls it. Records share it: each
    // is one write on a descriptor opened for appending, which the kernel
    // keeps whole; opening, rolling and closing hold it alone. Processes
    // sharing the file roll it under a lock on the file itself.
    mutable CSharedLock lock_;
    CLogFile file_ GUARDED_BY(lock_);
    // This process among the file's writers, through its lock file.
    CLogWriters writers_ GUARDED_BY(lock_);
    // A write cut short (a full disk) left a line without its end.
    std::atomic<bool> lineOpen_{false};
    // Records lost since the last whole write.
    std::atomic<size_t> lost_{0};
    // Records dropped for the file size limit since the last whole write.
    std::atomic<size_t> overLimit_{0};
    // What SizeBefore knows: the size on disk when last asked, and the bytes
    // this process wrote since.
    std::atomic<size_t> checkedSize_{0};
    std::atomic<size_t> sinceCheck_{0};
    // The size trigger's limit (SIZE_MAX for another trigger).
    std::atomic<size_t> maxSize_{SIZE_MAX};
    CFileSizeLimit sizeLimit_;
    log4cxx::rolling::RollingPolicyPtr activePolicy_ GUARDED_BY(lock_);
    log4cxx::rolling::TriggeringPolicyPtr trigger_ GUARDED_BY(lock_);
    // Whether the trigger decides by the file's length alone.
    std::atomic<bool> triggerBySize_{false};
    std::atomic<bool> closed_{false};
    std::atomic<CRecordLayout*> recordLayout_{nullptr};
    std::vector<log4cxx::LayoutPtr> retiredLayouts_ GUARDED_BY(lock_);
    std::atomic<bool> filtered_{false};
};

}  // namespace dbg_internal
