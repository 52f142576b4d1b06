// Output of qpdebug: aligned tables for people, JSON for programs. Names,
// paths and records come from other users' processes and files, so every
// text of theirs is made safe for a terminal before it is shown.
#pragma once

#include <string>
#include <vector>

namespace qpdebug {

// A name or path as shown, on a terminal and in JSON alike: a backslash is
// written \\, a byte that is not part of UTF-8 \xHH, and control characters
// (C0, DEL, C1, the line and paragraph separators and the bidirectional
// controls) as \n, \t, \r, \e or \xHH and \uHHHH; the result is one line of
// UTF-8 that can be read back without doubt.
std::string Shown(const std::string& text);
// A record line of a log file as tail shows it: the same, but a backslash
// and a tab stay as they are.
std::string ShownRecord(const std::string& text);

// Rows of cells, printed with each column as wide as its widest cell; the
// first row is the heading, bold on a terminal (unless NO_COLOR is set).
// Cells are printed as they are: the caller makes them safe (Shown).
void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::string& indent = "");
// Whether standard output is a terminal that takes colour.
bool UseColour();

// Messages: errors and warnings go to standard error, prefixed "qpdebug: ".
void Error(const std::string& text);
void Warning(const std::string& text);

}  // namespace qpdebug
