// Output of qpdebug: aligned tables for people, JSON for programs.
#pragma once

#include <string>
#include <vector>

namespace qpdebug {

// Rows of cells, printed with each column as wide as its widest cell; the
// first row is the heading, bold on a terminal (unless NO_COLOR is set).
void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::string& indent = "");
// Whether standard output is a terminal that takes colour.
bool UseColour();

std::string JsonString(const std::string& text);

// Messages: errors and warnings go to standard error, prefixed "qpdebug: ".
void Error(const std::string& text);
void Warning(const std::string& text);

}  // namespace qpdebug
