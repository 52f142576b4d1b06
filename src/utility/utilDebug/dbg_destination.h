// The DebugLogDestination setting: where records go. Read by the library at
// the first call and by every refresh, and by qpdebug, through this one rule.
// On the library's ladder: plain data; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

namespace dbg_internal {

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

}  // namespace dbg_internal
