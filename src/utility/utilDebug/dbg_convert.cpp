// Conversions between wide text and UTF-8 through the platform layer.
// On the library's ladder: names, locks, conversion; it includes no unit above (scripts/ladder.sh).
#include "dbg_convert.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace dbg_internal {

std::string ToUtf8(const wchar_t* text, size_t length) {
    if (!text || length == 0) return std::string();
    int count = static_cast<int>(length);
    int size = WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0 && WideCharToMultiByte(CP_UTF8, 0, text, count, &narrow[0], size, nullptr, nullptr) == 0)
        narrow.clear();
    return narrow;
}

std::wstring FromUtf8(const char* text, size_t length) {
    if (!text || length == 0) return std::wstring();
    int count = static_cast<int>(length);
    int size = MultiByteToWideChar(CP_UTF8, 0, text, count, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0 && MultiByteToWideChar(CP_UTF8, 0, text, count, &wide[0], size) == 0) wide.clear();
    return wide;
}

std::string ToUtf8(const wchar_t* text) { return text ? ToUtf8(text, wcslen(text)) : std::string(); }

std::wstring FromUtf8(const char* text) { return text ? FromUtf8(text, strlen(text)) : std::wstring(); }

}  // namespace dbg_internal
