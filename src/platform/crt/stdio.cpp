// _wfopen and _flushall: CRT streams opened by wide path, with the text-mode
// and Unicode-mode reading of the Windows CRT.
//
// glibc has no text mode, and its wide streams must be real file streams, so
// a file opened for reading in text mode is read once into an anonymous
// memory file, already translated (CRLF to LF; in Unicode mode decoded to
// UTF-8 and stripped of its byte-order mark), and the stream reads that
// snapshot. Later changes to the file are not seen through the stream;
// configuration files, the reason for text-mode reading, are read once anyway,
// and only their first kConfigurationFileReadLimit bytes. Like every file the
// layer opens by name, only a regular file opens (common/regular_file.h).
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include <string>

#include "common/open_error.h"
#include "common/regular_file.h"
#include "common/unicode.h"

namespace {

enum class Encoding { kLocale, kUtf8, kUtf16Le };

struct OpenMode {
    char access = 0;  // 'r', 'w' or 'a'
    bool update = false;
    bool binary = false;
    bool exclusive = false;
    bool noInherit = false;
    Encoding encoding = Encoding::kLocale;  // anything else: Unicode mode
};

const wchar_t* SkipSpaces(const wchar_t* p) {
    while (*p == L' ') ++p;
    return p;
}

// Matches a lower-case ASCII word, ignoring ASCII case only (no locale's
// folding applies to mode strings); advances p past it.
bool MatchWord(const wchar_t*& p, const char* word) {
    size_t i = 0;
    for (; word[i]; ++i) {
        const wchar_t c = p[i] >= L'A' && p[i] <= L'Z' ? p[i] + (L'a' - L'A') : p[i];
        if (c != static_cast<wchar_t>(word[i])) return false;
    }
    p += i;
    return true;
}

// ", ccs=UTF-8", in any case and with spaces around its parts. UNICODE stands
// for UTF-16LE where no byte-order mark says otherwise.
bool ParseEncoding(const wchar_t* p, Encoding* encoding) {
    p = SkipSpaces(p);
    if (!MatchWord(p, "ccs")) return false;
    p = SkipSpaces(p);
    if (*p++ != L'=') return false;
    p = SkipSpaces(p);
    if (MatchWord(p, "utf-8")) {
        *encoding = Encoding::kUtf8;
    } else if (MatchWord(p, "utf-16le") || MatchWord(p, "unicode")) {
        *encoding = Encoding::kUtf16Le;
    } else {
        return false;
    }
    return *SkipSpaces(p) == L'\0';
}

// The Windows mode letters: r w a, then + t b x, and the hints c n N S R T D,
// of which only N (not inherited) has a meaning here.
bool ParseMode(const wchar_t* mode, OpenMode* out) {
    const wchar_t* p = SkipSpaces(mode);
    if (*p != L'r' && *p != L'w' && *p != L'a') return false;
    out->access = static_cast<char>(*p++);
    for (; *p && *p != L','; ++p) {
        switch (*p) {
            case L'+':
                out->update = true;
                break;
            case L'b':
                out->binary = true;
                break;
            case L'x':
                out->exclusive = true;
                break;
            case L'N':
                out->noInherit = true;
                break;
            case L't':
            case L'c':
            case L'n':
            case L'S':
            case L'R':
            case L'T':
            case L'D':
            case L' ':
                break;
            default:
                return false;
        }
    }
    if (*p == L',') return !out->binary && ParseEncoding(p + 1, &out->encoding);
    return true;
}

bool StartsWith(const std::string& bytes, const char* prefix, size_t length) {
    return bytes.size() >= length && bytes.compare(0, length, prefix, length) == 0;
}

// Unicode-mode reading: a byte-order mark overrides the ccs encoding and is
// not part of the text. The result is UTF-8; malformed input becomes U+FFFD,
// as Windows's UTF-8 conversion does, so the stream never stops on it.
std::string DecodeUnicodeText(const std::string& bytes, Encoding encoding) {
    size_t start = 0;
    if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) {
        encoding = Encoding::kUtf8, start = 3;
    } else if (StartsWith(bytes, "\xFF\xFE", 2)) {
        encoding = Encoding::kUtf16Le, start = 2;
    }
    if (encoding == Encoding::kUtf8) {
        return nlplatform::WideToUtf8(nlplatform::Utf8ToWide(bytes.data() + start, bytes.size() - start));
    }
    return nlplatform::WideToUtf8(nlplatform::UnpackUtf16Le(bytes.data() + start, bytes.size() - start));
}

// Text mode drops a carriage return that comes right before a line feed; a
// lone carriage return stays.
void DropCarriageReturns(std::string* text) {
    size_t kept = 0;
    for (size_t i = 0; i < text->size(); ++i) {
        if ((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
        (*text)[kept++] = (*text)[i];
    }
    text->resize(kept);
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A Unicode-mode stream converts with UTF-8 whatever the process's locale:
// glibc takes a wide stream's conversion from the calling thread's locale
// when the stream gets its orientation, so the thread switches to C.UTF-8 for
// that moment only. (glibc's own "ccs=UTF-8" mode would do the same but
// leaks its conversion steps at every fclose.)
bool OrientAsUtf8(FILE* stream) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8) return false;
    const locale_t previous = uselocale(utf8);
    const bool wide = fwide(stream, 1) > 0;
    uselocale(previous);
    return wide;
}

// Gives the stream its final form or closes it; errno tells why on failure.
FILE* FinishStream(FILE* stream, bool unicode) {
    if (!stream || !unicode || OrientAsUtf8(stream)) return stream;
    fclose(stream);
    errno = ENOTSUP;
    return nullptr;
}

// A read-only stream over text held in an anonymous memory file.
FILE* OpenSnapshot(const std::string& text, bool unicode) {
    int fd = memfd_create("nlplatform-text", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    FILE* stream = nullptr;
    if (WriteAll(fd, text) && lseek(fd, 0, SEEK_SET) == 0) stream = fdopen(fd, "r");
    if (!stream) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return FinishStream(stream, unicode);
}

// Only the file's first kConfigurationFileReadLimit bytes are read: a stream
// for reading in text mode is meant for configuration files.
FILE* OpenTextForReading(const std::string& path, const OpenMode& mode) {
    std::string text;
    if (!nlplatform::ReadRegularFile(path, nlplatform::kConfigurationFileReadLimit, &text)) return nullptr;
    const bool unicode = mode.encoding != Encoding::kLocale;
    if (unicode) text = DecodeUnicodeText(text, mode.encoding);
    DropCarriageReturns(&text);
    return OpenSnapshot(text, unicode);
}

// open(2)'s flags for a mode, as fopen would pass them.
int OpenFlags(const OpenMode& mode) {
    int flags = mode.update ? O_RDWR : mode.access == 'r' ? O_RDONLY : O_WRONLY;
    if (mode.access == 'w') flags |= O_CREAT | O_TRUNC;
    if (mode.access == 'a') flags |= O_CREAT | O_APPEND;
    if (mode.exclusive) flags |= O_EXCL;
    return flags;
}

// Writing and update modes use the file itself: lines are written as given
// (LF alone), and a Unicode-mode stream starts an empty file with a
// byte-order mark, as Windows does. Such streams are UTF-8 only.
FILE* OpenFile(const std::string& path, const OpenMode& mode) {
    if (mode.encoding == Encoding::kUtf16Le) {
        errno = EINVAL;
        return nullptr;
    }
    std::string flags(1, mode.access);
    if (mode.update) flags += '+';
    if (mode.binary) flags += 'b';
    const bool unicode = mode.encoding == Encoding::kUtf8;
    int fd = nlplatform::OpenRegularFile(path, OpenFlags(mode), 0666);
    // Inherited by a child unless N says otherwise, as on Windows.
    if (fd >= 0 && !mode.noInherit) fcntl(fd, F_SETFD, 0);
    FILE* stream = fd < 0 ? nullptr : fdopen(fd, flags.c_str());
    if (fd >= 0 && !stream) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    stream = FinishStream(stream, unicode);
    if (!stream || !unicode || mode.access == 'r') return stream;
    struct stat status;
    if (fstat(fileno(stream), &status) == 0 && status.st_size == 0) fputwc(0xFEFF, stream);
    return stream;
}

}  // namespace

extern "C" {

// A null or empty name or mode, or a mode Windows would reject, gives EINVAL.
FILE* _wfopen(const wchar_t* fileName, const wchar_t* mode) {
    OpenMode parsed;
    if (!fileName || !mode || !*fileName || !ParseMode(mode, &parsed)) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string path = nlplatform::NarrowPath(fileName);
    FILE* stream = parsed.access == 'r' && !parsed.update && !parsed.binary ? OpenTextForReading(path, parsed)
                                                                            : OpenFile(path, parsed);
    if (stream) return stream;
    // The Windows error stays behind, as CreateFileW below the C runtime
    // leaves it; errno is the C runtime's: a folder is EACCES.
    const int error = errno;
    SetLastError(nlplatform::ErrorFromOpen(error, ERROR_ACCESS_DENIED));
    errno = error == EISDIR ? EACCES : error;
    return nullptr;
}

// Windows returns the number of open streams; glibc keeps that to itself.
int _flushall(void) {
    fflush(nullptr);
    return 0;
}

}  // extern "C"
