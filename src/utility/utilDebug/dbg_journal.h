// Where records go: the log file, the system journal, or both, as the
// DebugLogDestination setting says ("file", the default; "journal";
// "file;journal"). A record for the journal is one structured entry sent on the
// caller's thread; nothing is buffered.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include "dbg_destination.h"

#include <cstddef>
#include <string>

namespace dbg_internal {

// Makes the destination the one records take: run at the first call and by
// every refresh. Whether the journal can be reached is found by each record.
void ApplyLogDestination(unsigned destination);

// The destinations of the next record: one relaxed load.
unsigned CurrentLogDestination();

// One record as the journal receives it. The text is UTF-8 (narrow) or wide.
struct JournalRecord {
    int priority = 7;
    int levelCode = 0;
    const char* file = "";
    int line = 0;
    const std::string* logger = nullptr;
    const char* prefix = "";
    const char* text = nullptr;
    const wchar_t* wideText = nullptr;
    size_t length = 0;
    // A record kept by the recorder and written out later: its entry says so.
    bool kept = false;
};

// Sends one entry, waiting for the journal at most NL_JOURNAL_WAIT_MS. False
// when the journal could not be reached or did not take the entry in time:
// the record must go to the file, and *reason (when not null) says why the first time
// after the journal was last reached, stays empty after that.
bool SendToJournal(const JournalRecord& record, std::string* reason);

// The syslog identifier of the entries: the process's base name.
void SetJournalIdentifier(const wchar_t* processBaseName);

// The journal's priority of a log4cxx level, by its number.
int JournalPriorityOf(int log4cxxLevel);

}  // namespace dbg_internal
