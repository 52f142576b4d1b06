// Files opened by name: only regular files, and never a wait. Every stand-in
// that opens a file by its name (CreateFileW, _wfopen, the profile and
// version functions) opens it here, so that a pipe, a device, a socket or a
// folder planted at the name can neither block the caller nor feed it
// without end: the open never waits (O_NONBLOCK), and what it opened is
// refused unless it is a regular file, checked on the descriptor.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace nlplatform {

// open(2) with O_NONBLOCK and O_CLOEXEC added (O_NONBLOCK does nothing to a
// regular file's reads and writes). -1 with errno ENXIO for anything but a regular file, EISDIR
// for a folder, else open(2)'s own errno.
int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0);

// At most limit bytes from the start of the file at path, read through
// OpenRegularFile; false with errno set when it cannot be opened or read.
bool ReadRegularFile(const std::string& path, size_t limit, std::string* bytes);
// At most limit bytes of an open file, from where it stands; false with errno
// set on a read error.
bool ReadOpenedFile(int fd, size_t limit, std::string* bytes);

// How much of a configuration file (a profile file, a text read through a
// text-mode stream) is read: the rest is ignored.
constexpr size_t kConfigurationFileReadLimit = 1024 * 1024;

}  // namespace nlplatform
