// Where this process's log file lies (the rule is dbg_loglocation's).
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <cstddef>
#include <string>

#include "dbg_modulelist.h"

namespace dbg_internal {

// The executable's file name without directory and extension, the name the
// process logs and is listed under; found once.
const std::wstring& ProcessBaseName();
// The log file path of this process into buffer (size in characters); false
// only for a null buffer. A path that does not fit leaves the buffer empty.
bool BuildLogFilePath(wchar_t* buffer, int size);
// The back end's own path when the interface handed over none: the home
// directory under the default key, or the temporary directory, and the
// process base name.
std::wstring ComposeFallbackLogPath(const std::wstring& processBaseName);

}  // namespace dbg_internal
