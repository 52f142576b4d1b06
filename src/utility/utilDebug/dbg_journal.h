// Where records go: the log file, the system journal, or both, as the
// DebugLogDestination setting says ("file", the default; "journal";
// "file;journal"). A record for the journal is one structured entry sent with
// sd_journal_sendv on the caller's thread; nothing is buffered.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// The setting's value name under the product key.
extern const wchar_t kLogDestinationValue[];

// The destinations a record takes.
enum LogDestination : unsigned {
    kDestinationFile = 1,
    kDestinationJournal = 2,
};

// The setting as read: "file", "journal" and "file;journal" (any order, any
// letter case, "," or ";" or blanks between); a missing, empty or unknown
// value is the file.
unsigned ParseLogDestination(const wchar_t* text);
// Reads the setting under the open key; false when it was not answered (the
// caller keeps what it has).
bool ReadLogDestination(HKEY key, unsigned* destination);
// Reads the setting under the key path; the file when it cannot be read.
unsigned ReadLogDestinationAt(const wchar_t* keyPath);

// Makes the destination the one records take, and looks again whether the
// journal can be reached: run at the first call and by every refresh.
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
};

// Sends one entry. False when the journal could not be reached: the record
// must go to the file, and *reason (when not null) says why the first time
// after the journal was last reached, stays empty after that.
bool SendToJournal(const JournalRecord& record, std::string* reason);

// The syslog identifier of the entries: the process's base name.
void SetJournalIdentifier(const wchar_t* processBaseName);

// The journal's priority of a log4cxx level, by its number.
int JournalPriorityOf(int log4cxxLevel);
