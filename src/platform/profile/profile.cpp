// GetPrivateProfileSectionNamesW and GetPrivateProfileSectionW: a profile
// file's section names and one section's lines, with Windows's buffer rules.
// The last file read is kept parsed, as Windows keeps it, and read again only
// once it changed: reading all sections of a file one by one reads the file
// once.
#include <windows.h>

#include <cxxabi.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/casefold.h"
#include "common/unicode.h"
#include "common/fork_guard.h"
#include "common/open_error.h"
#include "common/regular_file.h"
#include "profile/profile_parser.h"

namespace {

using nlplatform::profile::ProfileLine;
using nlplatform::profile::ProfileSection;

// A file that cannot be opened for any other reason is access denied.
DWORD OpenError(int error) { return nlplatform::ErrorFromOpen(error, ERROR_ACCESS_DENIED); }

// A parsed file, and what tells whether the file changed since.
struct ParsedProfile {
    std::string path;
    struct stat identity;
    std::vector<ProfileSection> sections;
    // The first section of each name, by its upper-cased name.
    std::unordered_map<std::wstring, size_t> firstOfName;
};

std::wstring UpperCased(const std::wstring& text) {
    std::wstring upper(text);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(nlplatform::UpperCase(static_cast<char32_t>(c)));
    return upper;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

// Whether any later change of the file must give it another time stamp: its
// times lie before the moment the reading started. A time in whole seconds
// may come from a file system that keeps no finer times, where a change
// within the same two seconds would look the same.
bool SettledBefore(const struct timespec& time, const struct timespec& start) {
    if (time.tv_nsec == 0) return time.tv_sec + 2 <= start.tv_sec;
    return time.tv_sec < start.tv_sec || (time.tv_sec == start.tv_sec && time.tv_nsec < start.tv_nsec);
}

// The last file parsed, as Windows keeps its last profile file: read again
// only when the file changed (another file, size or time stamp).
std::mutex& CacheLock() {
    static std::mutex* const lock = [] {
        auto* created = new std::mutex;
        nlplatform::KeepMutexAcrossFork(*created);
        return created;
    }();
    return *lock;
}
std::shared_ptr<const ParsedProfile>& CachedProfile() {
    static auto* const cached = new std::shared_ptr<const ParsedProfile>;
    return *cached;
}

std::shared_ptr<const ParsedProfile> ParseFile(const std::string& path, int fd, const struct stat& identity,
                                               DWORD* error) {
    std::string bytes;
    if (!nlplatform::ReadOpenedFile(fd, nlplatform::kConfigurationFileReadLimit, &bytes)) {
        *error = OpenError(errno);
        return nullptr;
    }
    auto parsed = std::make_shared<ParsedProfile>();
    parsed->path = path;
    parsed->identity = identity;
    parsed->sections = nlplatform::profile::ParseProfile(nlplatform::profile::DecodeProfileText(bytes));
    for (size_t i = 0; i < parsed->sections.size(); ++i)
        parsed->firstOfName.emplace(UpperCased(parsed->sections[i].name), i);
    return parsed;
}

// The file's parse: the one kept when the file did not change, else a new
// one. Only a regular file is read, and only its first
// kConfigurationFileReadLimit bytes; a folder, as on Windows, is access
// denied, and a pipe, device or socket ERROR_CANT_ACCESS_FILE.
std::shared_ptr<const ParsedProfile> KeptParse() {
    std::lock_guard<std::mutex> guard(CacheLock());
    return CachedProfile();
}

std::shared_ptr<const ParsedProfile> LoadProfile(const std::string& path, DWORD* error) {
    struct timespec start;
    clock_gettime(CLOCK_REALTIME_COARSE, &start);
    // The kept parse of an unchanged regular file is used without opening it.
    struct stat current;
    std::shared_ptr<const ParsedProfile> kept = KeptParse();
    if (kept && kept->path == path && stat(path.c_str(), &current) == 0 && S_ISREG(current.st_mode) &&
        SameFile(kept->identity, current))
        return kept;
    int fd = nlplatform::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        *error = OpenError(errno);
        return nullptr;
    }
    struct stat identity;
    std::shared_ptr<const ParsedProfile> parsed;
    if (fstat(fd, &identity) == 0) parsed = KeptParse();
    if (!parsed || parsed->path != path || !SameFile(parsed->identity, identity)) {
        parsed = ParseFile(path, fd, identity, error);
        if (parsed && SettledBefore(identity.st_mtim, start) && SettledBefore(identity.st_ctim, start)) {
            std::lock_guard<std::mutex> guard(CacheLock());
            CachedProfile() = parsed;
        }
    }
    close(fd);
    return parsed;
}

// Reads and parses the file, and sets the last error: ERROR_SUCCESS, or why
// it could not be read. A name without a directory would be looked for in
// the Windows directory, which this port does not have: it is not found.
std::shared_ptr<const ParsedProfile> ReadProfileFile(LPCWSTR fileName) {
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::shared_ptr<const ParsedProfile> parsed;
    if (fileName && wcschr(fileName, L'/')) parsed = LoadProfile(nlplatform::NarrowPath(fileName), &error);
    SetLastError(parsed ? ERROR_SUCCESS : error);
    return parsed;
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
    std::shared_ptr<const ParsedProfile> parsed = ReadProfileFile(fileName);
    if (!buffer || size == 0) return 0;
    buffer[0] = L'\0';
    if (size == 1 || !parsed) return 0;
    size_t left = size - 1;
    LPWSTR out = buffer;
    for (const ProfileSection& section : parsed->sections) {
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
    std::shared_ptr<const ParsedProfile> parsed = ReadProfileFile(fileName);
    if (!parsed) return EmptyList(buffer, size);
    auto found = parsed->firstOfName.find(UpperCased(sectionName));
    if (found == parsed->firstOfName.end()) return EmptyList(buffer, size);
    const ProfileSection& section = parsed->sections[found->second];
    // With no room for a line the list is empty.
    if (size <= 2 || section.lines.empty()) return EmptyList(buffer, size);
    return CopySectionLines(section.lines, buffer, size);
}

}  // namespace

extern "C" {

// Out of memory, the buffer stays as it was and the result is 0.
DWORD GetPrivateProfileSectionNamesW(LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    try {
        return SectionNames(buffer, size, fileName);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
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
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

}  // extern "C"
