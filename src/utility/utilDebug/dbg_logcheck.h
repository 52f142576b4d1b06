// The check that a deleted log file is made again: due at most every three
// seconds, and what counts as the file being there.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <string>

namespace dbg_internal {

// Whether the check is due now; the first call only starts the clock.
bool LogFileCheckIsDue();
// Anything but a regular file at the path counts as missing: it is never
// waited for, and the log is opened anew.
bool LogFileExists(const std::wstring& path);

}  // namespace dbg_internal
