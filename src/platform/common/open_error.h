// The Windows error for a file that could not be opened for reading, from
// open(2)'s errno; anything else gives `otherwise`.
#pragma once

#include <windows.h>

#include <cerrno>

namespace nlplatform {

inline DWORD ErrorFromOpen(int error, DWORD otherwise) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ENAMETOOLONG:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:  // a folder, as Windows refuses one opened as a file
            return ERROR_ACCESS_DENIED;
        case ENXIO:  // not a regular file (common/regular_file.h)
        case ELOOP:
            return ERROR_CANT_ACCESS_FILE;
        default:
            return otherwise;
    }
}

}  // namespace nlplatform
