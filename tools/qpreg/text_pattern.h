// The patterns of query /f: * stands for any run of characters, ? for any
// one; everything else stands for itself.
#pragma once

#include <string>

namespace qpreg {

struct TextPattern {
    std::wstring pattern;
    bool caseSensitive = false;  // otherwise ASCII letters match in either case
    bool wholeText = false;      // otherwise the pattern may match anywhere in the text
};

bool Matches(const TextPattern& pattern, const std::wstring& text);

}  // namespace qpreg
