// The diagnostic dump utilities: DebugContentToFile and DebugStringToWindbg,
// declared for callers in utilDebug.h. They bypass the debug log and its
// settings, take no lock and report nothing.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <utilDebug.h>

#include <cstddef>

namespace dbg_internal {

// The longest message the format overload of DebugStringToWindbg sends;
// longer output is cut there.
constexpr size_t kMaxDebuggerMessageLength = 1023;

}  // namespace dbg_internal
