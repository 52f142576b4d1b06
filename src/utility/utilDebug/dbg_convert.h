// Wide text to UTF-8 and back: the one place the library converts between
// the platform's wide names and narrow text (the process's code page is
// UTF-8). The record layout keeps its own conversion into a record's buffer,
// on the path of every record (AppendNarrow, dbg_layout.h).
// On the library's ladder: names, locks, conversion; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <cstddef>
#include <string>

namespace dbg_internal {

// The whole text, NULs within it too.
std::string ToUtf8(const wchar_t* text, size_t length);
std::wstring FromUtf8(const char* text, size_t length);
// Up to the first NUL; a null text is empty.
std::string ToUtf8(const wchar_t* text);
std::wstring FromUtf8(const char* text);

}  // namespace dbg_internal
