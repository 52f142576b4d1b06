// The file version an ELF file declares in its version note (see windows.h).
#pragma once

#include <windows.h>

#include <string>

namespace nlplatform {

struct FileVersion {
    DWORD mostSignificant = 0;   // major << 16 | minor
    DWORD leastSignificant = 0;  // build << 16 | revision
};

// Reads the note from the file at path. ERROR_SUCCESS, or the error the
// version functions report: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_BAD_FORMAT (not an ELF file of this machine's
// byte order), ERROR_RESOURCE_DATA_NOT_FOUND (no version note).
DWORD ReadFileVersionNote(const std::string& path, FileVersion* version);

}  // namespace nlplatform
