#include "channel.h"

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <string.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <vector>

namespace qpdbgview {

namespace {

std::string Reason(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + strerror(error);
}

// Only the viewer's own user and root may have made what it reuses.
bool IsTrustedOwner(uid_t owner) { return owner == geteuid() || owner == 0; }

// Sets the process's umask for one scope: what the viewer creates gets the
// mode it asks for, whatever the umask it was started with.
class ModeMask {
  public:
    explicit ModeMask(mode_t mask) : previous_(umask(mask)) {}
    ~ModeMask() { umask(previous_); }
    ModeMask(const ModeMask&) = delete;
    ModeMask& operator=(const ModeMask&) = delete;

  private:
    mode_t previous_;
};

sockaddr_un SocketAddress(const std::string& name, socklen_t* length) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, name.c_str(), name.size() + 1);
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
    return address;
}

// Why an entry that was to be a folder, the lock or the socket cannot be:
// a link is named as such, since the viewer never follows one.
std::string WrongKind(const struct stat& status, const std::string& path, const char* wanted) {
    if (S_ISLNK(status.st_mode)) return path + " is a symbolic link, which qpdbgview does not follow";
    return path + " is not " + wanted;
}

}  // namespace

ViewerChannel::~ViewerChannel() { Close(); }

bool ViewerChannel::Open(std::string* error) {
    char path[sizeof(sockaddr_un::sun_path)];
    if (NlGetDebugChannelPath(path, sizeof path) == 0) {
        *error = "the channel's path (" NL_DEBUG_CHANNEL_VARIABLE ") is too long for a socket";
        return false;
    }
    path_ = path;
    size_t slash = path_.rfind('/');
    name_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    if (name_.empty() || name_ == "." || name_ == "..") {
        *error = "the channel's path " + path_ + " names a folder, not a socket";
        return false;
    }
    return OpenFolder(error) && TakeLock(error) && ClearStaleSocket(error) && Bind(error);
}

// Walks the socket's folder from the root (or from the working folder for a
// relative path) one name at a time, never through a link, creating the
// missing folders readable by every user so that senders of any user reach
// the socket.
bool ViewerChannel::OpenFolder(std::string* error) {
    size_t slash = path_.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash);
    int current = open(path_[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (current < 0) {
        *error = Reason("cannot open the folder of", path_, errno);
        return false;
    }
    for (size_t start = 0; start < folder.size();) {
        size_t end = std::min(folder.find('/', start), folder.size());
        std::string name = folder.substr(start, end - start);
        std::string walked = folder.substr(0, end);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        const int flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = openat(current, name.c_str(), flags);
        if (next < 0 && errno == ENOENT) {
            ModeMask mask(022);
            if (mkdirat(current, name.c_str(), 0755) == 0 || errno == EEXIST)
                next = openat(current, name.c_str(), flags);
        }
        struct stat status;
        if (next < 0) {
            int failure = errno;
            if ((failure == ELOOP || failure == ENOTDIR) &&
                fstatat(current, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
                *error = WrongKind(status, walked, "a folder");
            else
                *error = Reason("cannot open or create the folder", walked, failure);
            close(current);
            return false;
        }
        close(current);
        current = next;
        if (unreachableFolder_.empty() && fstat(current, &status) == 0 && !(status.st_mode & S_IXOTH))
            unreachableFolder_ = walked;
    }
    folder_ = current;
    return true;
}

// One viewer per socket: the lock file beside it is held for the viewer's
// life, so a second viewer is refused instead of taking the socket away.
// The lock is opened without waiting and without following a link, and only
// a regular file of the viewer's user or root will do.
bool ViewerChannel::TakeLock(std::string* error) {
    std::string lockName = name_ + ".lock", lockPath = path_ + ".lock";
    {
        ModeMask mask(022);
        lock_ = openat(folder_, lockName.c_str(),
                       O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    }
    struct stat status;
    if (lock_ < 0) {
        int failure = errno;
        if (failure == ELOOP && fstatat(folder_, lockName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
            *error = WrongKind(status, lockPath, "a regular file");
        else
            *error = Reason("cannot open the lock file", lockPath, failure);
        return false;
    }
    if (fstat(lock_, &status) != 0) {
        *error = Reason("cannot read the lock file", lockPath, errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = "the lock file " + lockPath + " is not a regular file";
        return false;
    }
    if (!IsTrustedOwner(status.st_uid)) {
        *error = "the lock file " + lockPath + " belongs to another user (uid " +
                 std::to_string(status.st_uid) + ")";
        return false;
    }
    if (flock(lock_, LOCK_EX | LOCK_NB) == 0) return true;
    *error = errno == EWOULDBLOCK ? "another qpdbgview is already reading " + path_
                                  : Reason("cannot lock", lockPath, errno);
    return false;
}

// With the lock held, a socket at the path is one that a killed viewer left
// behind, provided nobody is bound to it and the viewer's user or root made
// it. That alone is removed; anything else there stays and the viewer stops.
bool ViewerChannel::ClearStaleSocket(std::string* error) {
    struct stat status;
    if (fstatat(folder_, name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return true;
        *error = Reason("cannot look at", path_, errno);
        return false;
    }
    if (!S_ISSOCK(status.st_mode)) {
        *error =
            WrongKind(status, path_, "a socket") + "; qpdbgview replaces only a socket a viewer left behind";
        return false;
    }
    if (!IsTrustedOwner(status.st_uid)) {
        *error =
            "the socket " + path_ + " belongs to another user (uid " + std::to_string(status.st_uid) + ")";
        return false;
    }
    int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        *error = Reason("cannot make a socket for", path_, errno);
        return false;
    }
    socklen_t length;
    sockaddr_un address = SocketAddress(name_, &length);
    int connected = InFolder([&] { return connect(probe, reinterpret_cast<sockaddr*>(&address), length); });
    int failure = errno;
    close(probe);
    if (connected == 0) {
        *error = "another process is bound to " + path_;
        return false;
    }
    if (failure != ECONNREFUSED) {
        *error = Reason("cannot tell whether a process is bound to", path_, failure);
        return false;
    }
    if (unlinkat(folder_, name_.c_str(), 0) != 0 && errno != ENOENT) {
        *error = Reason("cannot remove the old socket", path_, errno);
        return false;
    }
    return true;
}

bool ViewerChannel::Bind(std::string* error) {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    if (socket_ < 0 || setsockopt(socket_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        *error = Reason("cannot make a socket for", path_, errno);
        return false;
    }
    socklen_t length;
    sockaddr_un address = SocketAddress(name_, &length);
    int bound;
    {
        // Readable and writable by every user (0666): services of any
        // account send to it.
        ModeMask mask(0111);
        bound = InFolder([&] { return bind(socket_, reinterpret_cast<sockaddr*>(&address), length); });
    }
    if (bound != 0) {
        *error = Reason("cannot bind", path_, errno);
        return false;
    }
    bound_ = true;
    struct stat status;
    if (fstatat(folder_, name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        boundDevice_ = status.st_dev;
        boundInode_ = status.st_ino;
    }
    return true;
}

// A socket address holds a path, not a folder's descriptor: the call runs
// with the folder as the working folder, which is then restored.
template <class Call>
int ViewerChannel::InFolder(Call call) {
    int previous = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    int result = -1;
    int failure = 0;
    if (fchdir(folder_) == 0) {
        result = call();
        failure = errno;
        if ((previous < 0 || fchdir(previous) != 0) && chdir("/") != 0) {
        }
    } else {
        failure = errno;
    }
    if (previous >= 0) close(previous);
    errno = failure;
    return result;
}

void ViewerChannel::Close() {
    // Only the socket this viewer bound: one that replaced it meanwhile is
    // not the viewer's to remove.
    struct stat status;
    if (bound_ && fstatat(folder_, name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_dev == boundDevice_ && status.st_ino == boundInode_)
        unlinkat(folder_, name_.c_str(), 0);
    bound_ = false;
    for (int* descriptor : {&socket_, &lock_, &folder_}) {
        if (*descriptor >= 0) close(*descriptor);
        *descriptor = -1;
    }
}

bool ViewerChannel::Receive(Message* message) {
    // One byte more than a sender sends, so that a longer datagram from a
    // foreign sender is cut rather than overflowing.
    static std::vector<char> buffer(NL_DEBUG_CHANNEL_MAX_MESSAGE + 1);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec part = {buffer.data(), buffer.size()};
    msghdr header = {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received = recvmsg(socket_, &header, MSG_CMSG_CLOEXEC);
    if (received < 0) return false;
    message->text.assign(buffer.data(), static_cast<size_t>(received));
    message->sender = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
            ucred credentials;
            memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
            message->sender = credentials.pid;
        }
    }
    return true;
}

}  // namespace qpdbgview
