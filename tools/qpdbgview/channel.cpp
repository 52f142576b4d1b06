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

#include <vector>

namespace qpdbgview {

namespace {

std::string Reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + strerror(errno);
}

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the folder and its missing parents, readable by every user so that
// senders of any user reach the socket.
bool MakeFolders(const std::string& folder) {
    struct stat status;
    if (stat(folder.c_str(), &status) == 0) return S_ISDIR(status.st_mode) || (errno = ENOTDIR, false);
    if (folder != "/" && folder != "." && !MakeFolders(Folder(folder))) return false;
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
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
    if (!MakeFolders(Folder(path_))) {
        *error = Reason("cannot create the folder of", path_);
        return false;
    }
    return TakeLock(error) && Bind(error);
}

// One viewer per socket: the lock file beside it is held for the viewer's
// life, so a second viewer is refused instead of taking the socket away.
bool ViewerChannel::TakeLock(std::string* error) {
    std::string lockPath = path_ + ".lock";
    lock_ = open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (lock_ < 0) {
        *error = Reason("cannot open the lock file", lockPath);
        return false;
    }
    if (flock(lock_, LOCK_EX | LOCK_NB) == 0) return true;
    *error = errno == EWOULDBLOCK ? "another qpdbgview is already reading " + path_
                                  : Reason("cannot lock", lockPath);
    return false;
}

bool ViewerChannel::Bind(std::string* error) {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    if (socket_ < 0 || setsockopt(socket_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        *error = Reason("cannot make a socket for", path_);
        return false;
    }
    // A socket left by a viewer that was killed is stale: the lock says so.
    if (unlink(path_.c_str()) != 0 && errno != ENOENT) {
        *error = Reason("cannot remove the old socket", path_);
        return false;
    }
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    // Readable and writable by every user (0666): services of any account
    // send to it.
    mode_t previous = umask(0111);
    int bound = bind(socket_, reinterpret_cast<sockaddr*>(&address),
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_.size() + 1));
    umask(previous);
    if (bound != 0) {
        *error = Reason("cannot bind", path_);
        return false;
    }
    bound_ = true;
    return true;
}

void ViewerChannel::Close() {
    if (bound_) unlink(path_.c_str());
    bound_ = false;
    if (socket_ >= 0) close(socket_);
    if (lock_ >= 0) close(lock_);
    socket_ = lock_ = -1;
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
