// Code page conversion. The ANSI code page of this port is UTF-8, so CP_ACP
// and CP_UTF8 behave alike and every character is representable.
#include <windows.h>

#include <string.h>

#include <string>

#include "common/unicode.h"

namespace {

bool IsSupportedCodePage(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

bool IsScalarValue(char32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

// Copies a converted text like Windows: a size of 0 asks for the size needed;
// a buffer too small gives 0 and ERROR_INSUFFICIENT_BUFFER.
int StoreConverted(const std::wstring& converted, wchar_t* out, int outSize) {
    int needed = static_cast<int>(converted.size());
    if (outSize == 0) return needed;
    if (needed > outSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wmemcpy(out, converted.data(), converted.size());
    return needed;
}

}  // namespace

extern "C" {

// A count of -1 converts the terminated text with its terminator. Encodes
// straight into the caller's buffer: it is on the path of every wide record.
// A surrogate or a value past U+10FFFF becomes U+FFFD, or with
// WC_ERR_INVALID_CHARS fails the call with ERROR_NO_UNICODE_TRANSLATION.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR narrow, int narrowSize,
                        LPCSTR, LPBOOL usedDefaultChar) {
    if (!IsSupportedCodePage(codePage) || !wide || wideCount == 0 || narrowSize < 0 ||
        (narrowSize > 0 && !narrow)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = wideCount < 0 ? wcslen(wide) + 1 : static_cast<size_t>(wideCount);
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    size_t written = 0;
    char bytes[4];
    for (size_t i = 0; i < length; ++i) {
        char32_t c = static_cast<char32_t>(wide[i]);
        if (c < 0x80 && narrowSize > 0 && written < static_cast<size_t>(narrowSize)) {
            narrow[written++] = static_cast<char>(c);
            continue;
        }
        if ((flags & WC_ERR_INVALID_CHARS) && !IsScalarValue(c)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        size_t size = nlplatform::EncodeUtf8(c, bytes);
        if (narrowSize > 0) {
            if (written + size > static_cast<size_t>(narrowSize)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(narrow + written, bytes, size);
        }
        written += size;
    }
    return static_cast<int>(written);
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR narrow, int narrowCount, LPWSTR wide, int wideSize) {
    if (!IsSupportedCodePage(codePage) || !narrow || narrowCount == 0 || wideSize < 0 ||
        (wideSize > 0 && !wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = narrowCount < 0 ? strlen(narrow) + 1 : static_cast<size_t>(narrowCount);
    return StoreConverted(nlplatform::Utf8ToWide(narrow, length), wide, wideSize);
}

}  // extern "C"
