// _wsplitpath: splits a path the way the Windows CRT does, with '/' and '\'
// both accepted as separators.
#include <windows.h>

#include <errno.h>
#include <wchar.h>

#include <algorithm>

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Windows assumes _MAX_* sized buffers and does not check; here a component
// that would overrun its buffer is cut and still terminated.
void StoreComponent(wchar_t* out, size_t capacity, const wchar_t* begin, const wchar_t* end) {
    if (!out) return;
    const size_t length = std::min(static_cast<size_t>(end - begin), capacity - 1);
    wmemcpy(out, begin, length);
    out[length] = L'\0';
}

}  // namespace

extern "C" {

// The drive is the first two characters when the second is ':' (the first is
// not checked to be a letter); the directory runs up to and including the
// last separator; in the file part the extension starts at the last '.'.
// Any output may be null. A null path empties the outputs and sets EINVAL.
void _wsplitpath(const wchar_t* path, wchar_t* drive, wchar_t* dir, wchar_t* fname, wchar_t* ext) {
    if (!path) {
        errno = EINVAL;
        path = L"";
    }
    const wchar_t* end = path + wcslen(path);
    const wchar_t* rest = path[0] != L'\0' && path[1] == L':' ? path + 2 : path;
    StoreComponent(drive, _MAX_DRIVE, path, rest);

    const wchar_t* fileStart = rest;
    for (const wchar_t* p = rest; p < end; ++p) {
        if (IsSeparator(*p)) fileStart = p + 1;
    }
    StoreComponent(dir, _MAX_DIR, rest, fileStart);

    const wchar_t* dot = end;
    for (const wchar_t* p = fileStart; p < end; ++p) {
        if (*p == L'.') dot = p;
    }
    StoreComponent(fname, _MAX_FNAME, fileStart, dot);
    StoreComponent(ext, _MAX_EXT, dot, end);
}

}  // extern "C"
