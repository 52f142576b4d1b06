#include "file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qpreg {
namespace {

std::wstring SystemError(int error) { return WideFromUtf8(strerror(error)); }

std::wstring KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return L"a folder";
    if (S_ISFIFO(mode)) return L"a FIFO";
    if (S_ISSOCK(mode)) return L"a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return L"a device";
    return L"a special file";
}

// Opens without waiting (a FIFO would wait for its other end) and keeps the
// descriptor only for a regular file, whose status comes in *status.
int OpenRegularFile(const std::string& path, int flags, struct stat* status, std::wstring* error) {
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        int failure = errno;
        // A socket, or a FIFO nobody reads, cannot even be opened.
        if (failure == ENXIO && stat(path.c_str(), status) == 0)
            *error = L"it is " + KindOf(status->st_mode) + L", not a regular file";
        else
            *error = SystemError(failure);
        return -1;
    }
    if (fstat(fd, status) != 0)
        *error = SystemError(errno);
    else if (!S_ISREG(status->st_mode))
        *error = L"it is " + KindOf(status->st_mode) + L", not a regular file";
    else
        return fd;
    close(fd);
    return -1;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

bool ReadWholeFile(const std::string& path, size_t limit, Bytes* content, std::wstring* error) {
    struct stat status;
    int fd = OpenRegularFile(path, O_RDONLY, &status, error);
    if (fd < 0) return false;
    const std::wstring tooLarge = L"it is larger than the limit of " + std::to_wstring(limit) + L" bytes";
    if (static_cast<uint64_t>(status.st_size) > limit) {
        *error = tooLarge;
        close(fd);
        return false;
    }
    // The limit holds also for a file that grows while it is read.
    uint8_t buffer[65536];
    ssize_t count;
    while ((count = read(fd, buffer, sizeof buffer)) != 0) {
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) break;
        if (content->size() + static_cast<size_t>(count) > limit) {
            *error = tooLarge;
            close(fd);
            return false;
        }
        content->insert(content->end(), buffer, buffer + count);
    }
    bool ok = count == 0;
    if (!ok) *error = SystemError(errno);
    close(fd);
    return ok;
}

bool WriteWholeFile(const std::string& path, const Bytes& content, std::wstring* error) {
    struct stat status;
    int fd = OpenRegularFile(path, O_WRONLY | O_CREAT, &status, error);
    if (fd < 0) return false;
    bool ok = ftruncate(fd, 0) == 0;
    for (size_t written = 0; ok && written < content.size();) {
        ssize_t count = write(fd, content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) continue;
        ok = count > 0;
        if (ok) written += static_cast<size_t>(count);
    }
    int writeError = errno;
    // A full disk may show only when the data is flushed.
    if (close(fd) != 0 && ok) {
        ok = false;
        writeError = errno;
    }
    if (!ok) *error = SystemError(writeError);
    return ok;
}

}  // namespace qpreg
