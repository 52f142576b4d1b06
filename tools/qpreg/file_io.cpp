#include "file_io.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

namespace qpreg {
namespace {

std::wstring SystemError(int error) { return WideFromUtf8(strerror(error)); }

}  // namespace

bool FileExists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

bool ReadWholeFile(const std::string& path, Bytes* content, std::wstring* error) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        *error = SystemError(errno);
        return false;
    }
    uint8_t buffer[65536];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        content->insert(content->end(), buffer, buffer + count);
    bool ok = !ferror(file);
    if (!ok) *error = SystemError(errno);
    fclose(file);
    return ok;
}

bool WriteWholeFile(const std::string& path, const Bytes& content, std::wstring* error) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        *error = SystemError(errno);
        return false;
    }
    bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
    int writeError = errno;
    // A full disk may show only when the buffered bytes are flushed.
    if (fclose(file) != 0 && ok) {
        ok = false;
        writeError = errno;
    }
    if (!ok) *error = SystemError(writeError);
    return ok;
}

}  // namespace qpreg
