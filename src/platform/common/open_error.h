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
            return ERROR_ACCESS_DENIED;
        default:
            return otherwise;
    }
}

}  // namespace nlplatform
