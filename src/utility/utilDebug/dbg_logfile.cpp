// The log file's safe open: a file opened only at its own name, never
// through a link, with folders and files made with fixed modes.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_logfile.h"

#include <string>
#include <utility>

#include "dbg_convert.h"

namespace dbg_internal {

using log4cxx::LogString;

static_assert(LOG4CXX_LOGCHAR_IS_UTF8, "records are written as log4cxx's own UTF-8 text");

namespace {

size_t LastSeparator(const LogString& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == LogString::npos ? 0 : slash + 1;
}

// Creates the missing folders above a file, as log4cxx does; each gets the
// platform's fixed folder mode.
void CreateFoldersFor(const LogString& path) {
    size_t end = LastSeparator(path);
    for (size_t next = path.find_first_of("/\\", 1); next != LogString::npos && next < end;
         next = path.find_first_of("/\\", next + 1))
        CreateDirectoryW(FromUtf8(path.data(), next).c_str(), nullptr);
}

}  // namespace

LogString TemporaryFolder() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    return length > 0 && length < MAX_PATH ? ToUtf8(buffer) : LogString();
}

bool CLogFile::Open(const LogString& path, bool append, DWORD* error) {
    std::wstring widePath = FromUtf8(path.data(), path.size());
    // Read access too, for the shared locks that tell writers about each
    // other; a file this process may only write is opened for that alone,
    // and counts as shared.
    auto open = [&]() {
        HANDLE opened = INVALID_HANDLE_VALUE;
        for (DWORD access : {GENERIC_READ | FILE_APPEND_DATA, DWORD{FILE_APPEND_DATA}}) {
            opened = CreateFileW(widePath.c_str(), access,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (opened != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
        }
        return opened;
    };
    HANDLE file = open();
    if (file == INVALID_HANDLE_VALUE &&
        (GetLastError() == ERROR_PATH_NOT_FOUND || GetLastError() == ERROR_FILE_NOT_FOUND)) {
        CreateFoldersFor(path);
        file = open();
    }
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    file_ = file;
    path_ = path;
    pathW_ = std::move(widePath);
    return true;
}

void CLogFile::Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    path_.clear();
    pathW_.clear();
}

HANDLE CLogFile::Detach() {
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    return file;
}

size_t CLogFile::Size() const {
    LARGE_INTEGER size{};
    if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size)) return 0;
    return static_cast<size_t>(size.QuadPart);
}

size_t CLogFile::Write(const LogString& text) const {
    DWORD written = 0;
    WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return written;
}

bool CLogFile::IsStillAtItsName() const {
    HANDLE named =
        CreateFileW(pathW_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION open{}, found{};
    bool same = GetFileInformationByHandle(file_, &open) && GetFileInformationByHandle(named, &found) &&
                open.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
                open.nFileIndexHigh == found.nFileIndexHigh && open.nFileIndexLow == found.nFileIndexLow;
    CloseHandle(named);
    return same;
}

}  // namespace dbg_internal
