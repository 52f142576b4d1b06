// The diagnostic dump utilities: DebugContentToFile and DebugStringToWindbg,
// declared for callers in utilDebug.h. They bypass the debug log and its
// settings, take no lock and report nothing.
#pragma once

#include <utilDebug.h>

#include <cstddef>

// The longest message the format overload of DebugStringToWindbg sends;
// longer output is cut there.
constexpr size_t kMaxDebuggerMessageLength = 1023;
