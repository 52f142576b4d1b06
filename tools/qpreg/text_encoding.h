// Conversions between the encodings qpreg meets: UTF-8 on the command line,
// on stdout and in REGEDIT4 files; wchar_t text inside the tool; UTF-16LE in
// the registry's own byte layout and in "Version 5.00" files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qpreg {

using Bytes = std::vector<uint8_t>;

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

// UTF-16LE bytes without a terminator; characters beyond the BMP become
// surrogate pairs, as Windows stores them.
Bytes Utf16LeFromWide(const std::wstring& text);
// Decodes size / 2 UTF-16LE code units; an odd trailing byte is ignored.
std::wstring WideFromUtf16Le(const uint8_t* data, size_t size);

}  // namespace qpreg
