// Files: CreateFileW, CloseHandle, CreateDirectoryW.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/unicode.h"
#include "kernel32/handle.h"

namespace {

DWORD ErrorFromErrno(int error, DWORD notFound) {
    switch (error) {
        case ENOENT:
            return notFound;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENAMETOOLONG:
            return ERROR_BAD_PATHNAME;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

class FileObject : public nlplatform::KernelObject {
  public:
    explicit FileObject(int fd) : fd_(fd) {}
    bool Close() override { return close(fd_) == 0; }

  private:
    int fd_;
};

int OpenFlags(DWORD access, DWORD creation) {
    int flags = O_CLOEXEC;
    bool read = access & GENERIC_READ, write = access & GENERIC_WRITE;
    flags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (creation) {
        case CREATE_NEW:
            return flags | O_CREAT | O_EXCL;
        case CREATE_ALWAYS:
            return flags | O_CREAT | O_TRUNC;
        case OPEN_ALWAYS:
            return flags | O_CREAT;
        case TRUNCATE_EXISTING:
            return flags | O_TRUNC;
        default:
            return flags;
    }
}

}  // namespace

extern "C" {

// Sharing modes have no POSIX counterpart and are accepted as given.
HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD,
                   HANDLE) {
    if (!fileName || creation < CREATE_NEW || creation > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = nlplatform::NarrowPath(fileName);
    int fd = open(path.c_str(), OpenFlags(access, creation), 0666);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_FILE_NOT_FOUND));
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return nlplatform::AddHandle(std::make_unique<FileObject>(fd));
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
    if (mkdir(nlplatform::NarrowPath(pathName).c_str(), 0777) == 0) return TRUE;
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
    return FALSE;
}

}  // extern "C"
