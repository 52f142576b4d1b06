#include "common/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace nlplatform {

// O_NONBLOCK stays: on a regular file it changes nothing.
int OpenRegularFile(const std::string& path, int flags, mode_t mode) {
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat status;
    int refused = 0;
    if (fstat(fd, &status) != 0)
        refused = errno;
    else if (S_ISDIR(status.st_mode))
        refused = EISDIR;
    else if (!S_ISREG(status.st_mode))
        refused = ENXIO;
    if (refused != 0) {
        close(fd);
        errno = refused;
        return -1;
    }
    return fd;
}

bool ReadOpenedFile(int fd, size_t limit, std::string* bytes) {
    struct stat status;
    if (fstat(fd, &status) == 0 && status.st_size > 0)
        bytes->reserve(std::min(limit, static_cast<size_t>(status.st_size)));
    char chunk[16384];
    while (bytes->size() < limit) {
        ssize_t n = read(fd, chunk, std::min(sizeof chunk, limit - bytes->size()));
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes->append(chunk, static_cast<size_t>(n));
    }
    return true;
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string* bytes) {
    int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return false;
    bool read = ReadOpenedFile(fd, limit, bytes);
    int error = errno;
    close(fd);
    errno = read ? 0 : error;
    return read;
}

}  // namespace nlplatform
