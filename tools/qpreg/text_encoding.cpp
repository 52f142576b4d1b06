#include "text_encoding.h"

#include <windows.h>

#include "common/unicode.h"

namespace qpreg {

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                            nullptr, nullptr);
    return narrow;
}

Bytes Utf16LeFromWide(const std::wstring& text) {
    std::string bytes = nlplatform::PackUtf16Le(text.data(), text.size());
    return Bytes(bytes.begin(), bytes.end());
}

std::wstring WideFromUtf16Le(const uint8_t* data, size_t size) {
    return nlplatform::UnpackUtf16Le(data, size);
}

}  // namespace qpreg
