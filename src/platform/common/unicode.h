// Conversions between the port's three encodings: wchar_t text (UTF-32),
// the registry's and Windows files' UTF-16, and UTF-8, the ANSI code page
// of this port. None depends on the process's locale.
#pragma once

#include <string>

namespace nlplatform {

// Invalid input (a lone surrogate, a malformed byte sequence, a code point
// beyond U+10FFFF) becomes U+FFFD, or '?' in narrow output.
std::string WideToUtf8(const wchar_t* text, size_t length);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const char* text, size_t length);
std::wstring Utf8ToWide(const std::string& text);
std::u16string WideToUtf16(const wchar_t* text, size_t length);
std::wstring Utf16ToWide(const char16_t* text, size_t length);

// The registry's and Windows files' byte layout of text: UTF-16LE, a
// character beyond the BMP as a surrogate pair (4 bytes).
// The UTF-16 code units of length wchar_t elements.
size_t Utf16Length(const wchar_t* text, size_t length);
// The UTF-16LE bytes of length elements, without a terminator.
std::string PackUtf16Le(const wchar_t* text, size_t length);
// Decodes size / 2 UTF-16LE code units; an odd last byte is ignored.
std::wstring UnpackUtf16Le(const void* bytes, size_t size);

// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t codePoint);
// Writes the UTF-8 form of one code point (at most 4 bytes) to out and
// returns its length; for callers that cannot allocate.
size_t EncodeUtf8(char32_t codePoint, char* out);
// Decodes one UTF-8 sequence at text[*pos], advancing *pos; malformed input
// yields U+FFFD and advances one byte.
char32_t DecodeUtf8(const char* text, size_t length, size_t* pos);

// A file-system path from a wide path: its UTF-8 bytes.
inline std::string NarrowPath(const wchar_t* path) {
    return path ? WideToUtf8(std::wstring(path)) : std::string();
}

}  // namespace nlplatform
