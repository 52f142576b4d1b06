// How a received text is shown: as one line that a sender cannot break or
// use to drive the terminal.
#pragma once

#include <string>

namespace qpdbgview {

// The text as the viewer prints it after its prefix. One line feed (or
// carriage return and line feed) at the end is dropped; control characters,
// line breaks and bytes that are not UTF-8 come out escaped, as \n, \r, \t or
// \xNN for a byte and \uNNNN for a character (C1 controls, the Unicode line
// and paragraph separators and the marks that reorder text). A backslash
// stands as it is, so that Windows paths stay readable.
std::string ShownText(const std::string& text);

}  // namespace qpdbgview
