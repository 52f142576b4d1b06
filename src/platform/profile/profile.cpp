// GetPrivateProfileSectionNamesW and GetPrivateProfileSectionW: a profile
// file's section names and one section's lines, with Windows's buffer rules.
// The file is read anew at every call; nothing is cached.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/casefold.h"
#include "common/unicode.h"
#include "common/open_error.h"
#include "profile/profile_parser.h"

namespace {

using nlplatform::profile::ProfileLine;
using nlplatform::profile::ProfileSection;

// A file that cannot be opened for any other reason is access denied.
DWORD OpenError(int error) { return nlplatform::ErrorFromOpen(error, ERROR_ACCESS_DENIED); }

// The file's bytes, or the error that kept them from being read (a
// directory, as on Windows, is access denied).
DWORD ReadBytes(const std::string& path, std::string* bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return OpenError(errno);
    char chunk[8192];
    ssize_t got = 0;
    do {
        got = read(fd, chunk, sizeof chunk);
        if (got > 0) bytes->append(chunk, static_cast<size_t>(got));
    } while (got > 0 || (got < 0 && errno == EINTR));
    int error = errno;
    close(fd);
    return got == 0 ? ERROR_SUCCESS : OpenError(error == EISDIR ? EACCES : error);
}

// Reads and parses the file, and sets the last error: ERROR_SUCCESS, or why
// it could not be read. A name without a directory would be looked for in
// the Windows directory, which this port does not have: it is not found.
bool ReadProfileFile(LPCWSTR fileName, std::vector<ProfileSection>* sections) {
    std::string bytes;
    DWORD error = fileName && wcschr(fileName, L'/') ? ReadBytes(nlplatform::NarrowPath(fileName), &bytes)
                                                     : ERROR_FILE_NOT_FOUND;
    SetLastError(error);
    if (error != ERROR_SUCCESS) return false;
    *sections = nlplatform::profile::ParseProfile(nlplatform::profile::DecodeProfileText(bytes));
    return true;
}

// Copies at most count - 1 characters of text and a terminator, as
// lstrcpynW does; returns the number of characters copied.
size_t CopyCut(LPWSTR out, const std::wstring& text, size_t count) {
    size_t length = text.size() < count - 1 ? text.size() : count - 1;
    wmemcpy(out, text.data(), length);
    out[length] = L'\0';
    return length;
}

// Fills buffer with the strings of lines, each cut to the room left; when
// they do not all fit, the list still ends in two NULs and the result is
// size - 2.
DWORD CopySectionLines(const std::vector<ProfileLine>& lines, LPWSTR buffer, DWORD size) {
    size_t left = size;
    LPWSTR out = buffer;
    for (const ProfileLine& line : lines) {
        if (left <= 2) break;
        size_t copied = CopyCut(out, line.name, left - 1);
        out += copied + 1;
        left -= copied + 1;
        if (left < 2) break;
        if (line.hasValue) {
            out[-1] = L'=';
            copied = CopyCut(out, line.value, left - 1);
            out += copied + 1;
            left -= copied + 1;
        }
    }
    *out = L'\0';
    if (left <= 1) {
        out[-1] = L'\0';
        return size - 2;
    }
    return static_cast<DWORD>(size - left);
}

// Empties a buffer the way a missing section does: two NULs, as far as the
// buffer reaches.
DWORD EmptyList(LPWSTR buffer, DWORD size) {
    for (DWORD i = 0; i < size && i < 2; ++i) buffer[i] = L'\0';
    return 0;
}

// Sections with an empty name (the lines before the first header, "[]") are
// not listed; duplicates are. A file that cannot be read gives 0 and one NUL.
DWORD SectionNames(LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    std::vector<ProfileSection> sections;
    bool read = ReadProfileFile(fileName, &sections);
    if (!buffer || size == 0) return 0;
    buffer[0] = L'\0';
    if (size == 1 || !read) return 0;
    size_t left = size - 1;
    LPWSTR out = buffer;
    for (const ProfileSection& section : sections) {
        if (section.name.empty()) continue;
        size_t needed = section.name.size() + 1;
        if (needed >= left) {
            // The name that does not fit is cut so that the list still ends
            // in two NULs.
            wmemcpy(out, section.name.data(), left - 1);
            out += left - 1;
            *out++ = L'\0';
            *out = L'\0';
            return size - 2;
        }
        wmemcpy(out, section.name.c_str(), needed);
        out += needed;
        left -= needed;
    }
    *out = L'\0';
    return static_cast<DWORD>(out - buffer);
}

// The first section whose name matches, ignoring case; comment lines are
// left out, lines without '=' come back bare.
DWORD SectionLines(LPCWSTR sectionName, LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    std::vector<ProfileSection> sections;
    if (!ReadProfileFile(fileName, &sections)) return EmptyList(buffer, size);
    for (const ProfileSection& section : sections) {
        if (!nlplatform::EqualIgnoringCase(section.name, sectionName)) continue;
        // With no room for a line the list is empty.
        if (size <= 2 || section.lines.empty()) return EmptyList(buffer, size);
        return CopySectionLines(section.lines, buffer, size);
    }
    return EmptyList(buffer, size);
}

}  // namespace

extern "C" {

// Out of memory, the buffer stays as it was and the result is 0.
DWORD GetPrivateProfileSectionNamesW(LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    try {
        return SectionNames(buffer, size, fileName);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

DWORD GetPrivateProfileSectionW(LPCWSTR sectionName, LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    if (!sectionName || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    try {
        return SectionLines(sectionName, buffer, size, fileName);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

}  // extern "C"
