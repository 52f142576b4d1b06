// The DebugLogDestination setting's rule: where records go. The library (at
// the first call and by every refresh, through dbg_registry) and qpdebug
// read it through this one rule.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include "dbg_defaults.h"

namespace dbg_internal {

// The setting's value name under the product key.
inline constexpr auto& kLogDestinationValue = kValueDebugLogDestination;

// The destinations a record takes.
enum LogDestination : unsigned {
    kDestinationFile = 1,
    kDestinationJournal = 2,
};

// The setting as read: "file", "journal" and "file;journal" (any order, any
// letter case, "," or ";" or blanks between); a missing, empty or unknown
// value is the file.
unsigned ParseLogDestination(const wchar_t* text);

}  // namespace dbg_internal
