// The profile (INI) file reader behind GetPrivateProfileSection*W: decoding
// and parsing, apart from the file system so that it can be fed any bytes.
#pragma once

#include <string>
#include <vector>

namespace nlplatform::profile {

// One line of a section as the profile functions return it: "name=value", or
// the bare name of a line without '='.
struct ProfileLine {
    std::wstring name;
    bool hasValue = false;
    std::wstring value;
};

struct ProfileSection {
    std::wstring name;  // empty for the lines before the first header
    std::vector<ProfileLine> lines;
};

// The file's text: UTF-16LE after its byte-order mark FF FE, otherwise UTF-8
// (this port's ANSI code page), with or without its byte-order mark.
// Malformed sequences become U+FFFD.
std::wstring DecodeProfileText(const std::string& bytes);

// The sections of a profile file, in file order, duplicates kept. Lines are
// split at every run of CR and LF and trimmed of white space; blank lines and
// comment lines (';' first) are dropped. A line that starts with '[' and holds
// a ']' names a section: the text up to the last ']', trimmed. Any other line
// is a key: the name before the first '=' and the value after it, each
// trimmed on the side of the '='. Lines before the first header form a
// section with an empty name. A name or value ends at a NUL character, as
// Windows copies it.
std::vector<ProfileSection> ParseProfile(const std::wstring& text);

}  // namespace nlplatform::profile
