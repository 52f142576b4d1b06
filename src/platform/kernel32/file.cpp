// Files: CreateFileW, WriteFile, GetFileSizeEx, CloseHandle, CreateDirectoryW, and the
// writers' lock file of a shared file.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "common/regular_file.h"
#include "common/unicode.h"
#include "kernel32/handle.h"

namespace {

// The file behind a handle, or null when the handle is not a live file's.
class FileObject;
std::shared_ptr<FileObject> FileOf(HANDLE handle);

// Default security: readable by everyone, writable by the owner.
constexpr mode_t kFileMode = 0644;
constexpr mode_t kFolderMode = 0755;

DWORD ErrorFromErrno(int error, DWORD notFound) {
    switch (error) {
        case ENOENT:
            return notFound;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:  // a folder, which Windows opens only with backup semantics
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENAMETOOLONG:
            return ERROR_BAD_PATHNAME;
        case ELOOP:
        case ENXIO:  // not a regular file (common/regular_file.h)
            return ERROR_CANT_ACCESS_FILE;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

class FileObject : public nlplatform::KernelObject {
  public:
    explicit FileObject(int fd) : fd_(fd) {}
    bool Close() override { return close(fd_) == 0; }
    int fd() const { return fd_; }

  private:
    int fd_;
};

std::shared_ptr<FileObject> FileOf(HANDLE handle) { return nlplatform::FindHandleOf<FileObject>(handle); }

// The file is emptied only once it is known to be one that may be opened,
// so O_TRUNC is left to the caller.
int OpenFlags(DWORD access, DWORD creation, DWORD attributes) {
    int flags = 0;
    bool read = access & GENERIC_READ;
    bool write = access & (GENERIC_WRITE | FILE_APPEND_DATA);
    flags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    if ((access & FILE_APPEND_DATA) && !(access & GENERIC_WRITE)) flags |= O_APPEND;
    if (attributes & FILE_FLAG_OPEN_REPARSE_POINT) flags |= O_NOFOLLOW;
    switch (creation) {
        case CREATE_NEW:
            return flags | O_CREAT | O_EXCL;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            return flags | O_CREAT;
        default:
            return flags;
    }
}

bool EmptiesFile(DWORD creation) { return creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING; }

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens the path, never waiting and only as a regular file; *created tells
// whether this call created the file, which then gets the given mode
// whatever the umask (the caller sets it: the umask may only take from it).
int OpenCreating(const std::string& path, int flags, bool* created, mode_t mode = kFileMode) {
    *created = false;
    if (!(flags & O_CREAT)) return nlplatform::OpenRegularFile(path, flags);
    if (flags & O_EXCL) {
        int fd = nlplatform::OpenRegularFile(path, flags, mode);
        *created = fd >= 0;
        return fd;
    }
    // Another process may create or delete the file between the two tries.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = nlplatform::OpenRegularFile(path, flags | O_EXCL, mode);
        if (fd >= 0) {
            *created = true;
            return fd;
        }
        if (errno != EEXIST) return -1;
        fd = nlplatform::OpenRegularFile(path, flags & ~O_CREAT);
        if (fd >= 0 || errno != ENOENT) return fd;
    }
    return -1;
}

// What FILE_FLAG_OPEN_REPARSE_POINT refuses once the file is open: another
// user's file in a world-writable folder.
DWORD CheckOpenedEntry(int fd, const std::string& path) {
    struct stat file;
    if (fstat(fd, &file) != 0) return ERROR_CANT_ACCESS_FILE;
    if (file.st_uid != geteuid()) {
        struct stat folder;
        if (stat(FolderOf(path).c_str(), &folder) != 0 || (folder.st_mode & S_IWOTH))
            return ERROR_CANT_ACCESS_FILE;
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation,
                   DWORD attributes, HANDLE) {
    if (!fileName || creation < CREATE_NEW || creation > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = nlplatform::NarrowPath(fileName);
    int flags = OpenFlags(access, creation, attributes);
    bool created = false;
    int fd = OpenCreating(path, flags, &created);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_FILE_NOT_FOUND));
        return INVALID_HANDLE_VALUE;
    }
    if (attributes & FILE_FLAG_OPEN_REPARSE_POINT) {
        DWORD refused = CheckOpenedEntry(fd, path);
        if (refused != ERROR_SUCCESS) {
            close(fd);
            SetLastError(refused);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (!created && EmptiesFile(creation) && ftruncate(fd, 0) != 0) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (created) fchmod(fd, kFileMode);
    bool existed = !created && (creation == OPEN_ALWAYS || creation == CREATE_ALWAYS);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return nlplatform::AddHandle(std::make_unique<FileObject>(fd));
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPVOID overlapped) {
    std::shared_ptr<FileObject> file = FileOf(handle);
    if (bytesWritten) *bytesWritten = 0;
    if (!file || overlapped || (!buffer && bytesToWrite)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* data = static_cast<const char*>(buffer);
    DWORD done = 0;
    // A regular file takes the whole buffer at once; the loop only finishes
    // a write cut short by a signal or a full disk.
    while (done < bytesToWrite) {
        ssize_t n = write(file->fd(), data + done, bytesToWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetLastError(n < 0 && errno == ENOSPC ? ERROR_HANDLE_DISK_FULL : ERROR_ACCESS_DENIED);
            if (bytesWritten) *bytesWritten = done;
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (bytesWritten) *bytesWritten = done;
    return TRUE;
}

ULONGLONG NlGetFileSizeLimit(void) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return ~0ULL;
    return static_cast<ULONGLONG>(limit.rlim_cur);
}

HANDLE NlOpenWritersLockFile(HANDLE handle, LPCWSTR lockPath) {
    std::shared_ptr<FileObject> file = FileOf(handle);
    struct stat shared;
    if (!file || !lockPath || fstat(file->fd(), &shared) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Read and write for each class that may write the file.
    mode_t mode = 0;
    if (shared.st_mode & S_IWUSR) mode |= S_IRUSR | S_IWUSR;
    if (shared.st_mode & S_IWGRP) mode |= S_IRGRP | S_IWGRP;
    if (shared.st_mode & S_IWOTH) mode |= S_IROTH | S_IWOTH;
    bool created = false;
    int fd = OpenCreating(nlplatform::NarrowPath(lockPath), O_RDWR | O_CREAT | O_NOFOLLOW, &created, mode);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_FILE_NOT_FOUND));
        return INVALID_HANDLE_VALUE;
    }
    struct stat lock;
    bool usable = created
                      ? fchmod(fd, mode) == 0
                      : fstat(fd, &lock) == 0 && (lock.st_uid == shared.st_uid || lock.st_uid == geteuid()) &&
                            (lock.st_mode & 07777 & ~mode) == 0;
    if (!usable) {
        close(fd);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return nlplatform::AddHandle(std::make_unique<FileObject>(fd));
}

BOOL GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
    std::shared_ptr<FileObject> file = FileOf(handle);
    struct stat st;
    if (!file || !size || fstat(file->fd(), &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    size->QuadPart = st.st_size;
    return TRUE;
}

namespace {

// An open file description's lock on the range overlapped names; a length of
// zero bytes is, as on Windows, a range of its own that locks nothing else,
// and reaches F_OFD_SETLK as one byte past the 64-bit range's end.
BOOL LockRange(HANDLE handle, short type, bool wait, DWORD bytesLow, DWORD bytesHigh,
               LPOVERLAPPED overlapped) {
    std::shared_ptr<FileObject> file = FileOf(handle);
    if (!file || !overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    uint64_t start = (uint64_t{overlapped->u.s.OffsetHigh} << 32) | overlapped->u.s.Offset;
    uint64_t length = (uint64_t{bytesHigh} << 32) | bytesLow;
    // off_t is signed: a range past its end is cut there.
    constexpr uint64_t kEnd = uint64_t{INT64_MAX};
    if (start > kEnd) start = kEnd;
    if (length > kEnd - start) length = kEnd - start;
    lock.l_start = static_cast<off_t>(start);
    lock.l_len = static_cast<off_t>(length == 0 ? 1 : length);
    int rc;
    while ((rc = fcntl(file->fd(), wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        SetLastError(errno == EAGAIN || errno == EACCES ? ERROR_LOCK_VIOLATION : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL LockFileEx(HANDLE handle, DWORD flags, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped) {
    return LockRange(handle, (flags & LOCKFILE_EXCLUSIVE_LOCK) ? F_WRLCK : F_RDLCK,
                     !(flags & LOCKFILE_FAIL_IMMEDIATELY), bytesLow, bytesHigh, overlapped);
}

BOOL UnlockFileEx(HANDLE handle, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped) {
    return LockRange(handle, F_UNLCK, false, bytesLow, bytesHigh, overlapped);
}

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    std::shared_ptr<FileObject> file = FileOf(handle);
    struct stat st;
    if (!file || !information || fstat(file->fd(), &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *information = {};
    information->dwFileAttributes = S_ISDIR(st.st_mode) ? 0x10u : FILE_ATTRIBUTE_NORMAL;
    // FILETIME counts 100 ns from 1601.
    auto toFileTime = [](const timespec& t) {
        uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                         static_cast<uint64_t>(t.tv_nsec) / 100;
        return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    };
    information->ftCreationTime = toFileTime(st.st_ctim);
    information->ftLastAccessTime = toFileTime(st.st_atim);
    information->ftLastWriteTime = toFileTime(st.st_mtim);
    information->dwVolumeSerialNumber =
        static_cast<DWORD>(st.st_dev ^ (static_cast<uint64_t>(st.st_dev) >> 32));
    information->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    information->nFileSizeLow = static_cast<DWORD>(st.st_size);
    information->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
    information->nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

// Closes any handle of the table: files, threads, transactions. Closing the
// current thread's pseudo-handle does nothing and succeeds, as on Windows.
BOOL CloseHandle(HANDLE handle) {
    if (handle == GetCurrentThread()) return TRUE;
    std::shared_ptr<nlplatform::KernelObject> object = nlplatform::RemoveHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->Close() ? TRUE : FALSE;
}

// Creates the last component only; an existing directory gives
// ERROR_ALREADY_EXISTS and a missing parent ERROR_PATH_NOT_FOUND.
BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
    if (!pathName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string path = nlplatform::NarrowPath(pathName);
    if (mkdir(path.c_str(), kFolderMode) == 0) {
        // The umask plays no part; the new folder is reached without
        // following a link planted meanwhile.
        int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            fchmod(fd, kFolderMode);
            close(fd);
        }
        return TRUE;
    }
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
    return FALSE;
}

}  // extern "C"
