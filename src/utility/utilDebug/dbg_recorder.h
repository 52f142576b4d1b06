// The recorder: while DebugLogRecorder is set, a process keeps in memory the
// most recent records that the threshold rejected, formatted as the log file
// would take them at threshold 3, and writes them out, oldest first and each
// once, before a record at error level or worse, when the process dies of a
// fatal signal, and when an administrator asks for them (qpdebug dump).
//
// Kept records sit in a ring of fixed slots of 1 KiB each, so that the ring
// takes at most DebugLogRecorder KiB. The ring's lock is a spin lock that
// knows its holder: the crash write-out, which runs inside the signal
// handler, never waits for the thread that crashed holding it, and waits for
// another thread a bounded time only. A forked child starts with an empty
// ring. Written out, the kept records stand between two lines of the
// library's own and carry "~ " before each: the block says how many records
// follow and how many the ring dropped since the last write-out.
// On the library's ladder: the back end; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <atomic>

#include "dbg_appender.h"
#include "dbg_layout.h"

namespace dbg_internal {

// Whether the recorder is on: one relaxed load on the path of a rejected record.
extern std::atomic<bool> g_recorderOn;
inline bool RecorderIsOn() { return g_recorderOn.load(std::memory_order_relaxed); }

// Applies the DebugLogRecorder value, read at the first call and by the
// refresh: 0 switches the recorder off (and takes its crash handler away);
// another count starts an empty ring of that many records, at most
// kMaxRecorderRecords.
void ApplyRecorderSetting(int records);

// Keeps a record that the threshold rejected; the caller has checked that
// its module is not silenced. destination: the record's destinations now.
void KeepRecord(const RecordFields& fields, int levelCode, unsigned destination,
                CRecordFileAppender* appender);

// Whether the ring holds records (of this process or of its parent).
bool RecorderHasRecords();

// Writes the kept records out, oldest first, into the file or the journal as
// destination says, and empties the ring; why ends the block's first line
// ("before this error").
void WriteOutKeptRecords(const char* why, unsigned destination, CRecordFileAppender* appender);

// Looks, at most once a second, whether this process was asked for its kept
// records (qpdebug dump), and takes the request.
bool KeptRecordsRequested();

}  // namespace dbg_internal
