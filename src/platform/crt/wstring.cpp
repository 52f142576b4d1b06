// Case-insensitive comparison and lower-casing with the folding of the
// Windows CRT's default "C" locale: only the ASCII letters A-Z fold, whatever
// locale the process has selected. Both strings are folded to lower case
// before comparing, so '[' '\' ']' '^' '_' '`' (91-96) sort before letters.
#include <windows.h>

#include <errno.h>
#include <stdint.h>

namespace {

template <typename CharT>
char32_t FoldAscii(CharT c) {
    // Narrow text compares as unsigned bytes, wide text as code points.
    const char32_t value = sizeof(CharT) == 1 ? static_cast<unsigned char>(c) : static_cast<char32_t>(c);
    return value >= 'A' && value <= 'Z' ? value + ('a' - 'A') : value;
}

template <typename CharT>
int CompareFolded(const CharT* a, const CharT* b, size_t count) {
    if (!a || !b) {
        errno = EINVAL;
        return _NLSCMPERROR;
    }
    for (size_t i = 0; i < count; ++i) {
        const char32_t x = FoldAscii(a[i]);
        const char32_t y = FoldAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) break;
    }
    return 0;
}

}  // namespace

extern "C" {

int _wcsicmp(const wchar_t* a, const wchar_t* b) { return CompareFolded(a, b, SIZE_MAX); }

int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t count) { return CompareFolded(a, b, count); }

wchar_t* _wcslwr(wchar_t* text) {
    if (!text) {
        errno = EINVAL;
        return nullptr;
    }
    for (wchar_t* p = text; *p; ++p) *p = static_cast<wchar_t>(FoldAscii(*p));
    return text;
}

}  // extern "C"
