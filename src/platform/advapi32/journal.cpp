// Where a Windows program reports to the event log, a Linux one sends to
// systemd's journal: one structured entry per call, in the journal's native
// protocol, on a datagram socket of the process's own that never blocks. A
// journal that does not take an entry within a few milliseconds (journald
// stopped, or its queue full) refuses it, so that a stalled journal never
// stalls its caller; the caller then writes the record elsewhere.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include <windows.h>

namespace {

constexpr char kJournalSocket[] = "/run/systemd/journal/socket";
constexpr int kMostFields = 64;
// A field whose value holds a line break is "NAME\n", its length as 64
// little-endian bits, the value and "\n": five pieces; any other, two.
constexpr int kMostPieces = kMostFields * 5;

// The process's one socket: made once and never closed, so that no thread
// can send on a descriptor number that another has closed and the host has
// reused. It is connected again when the journal was restarted or came back.
std::atomic<int> g_socket{-1};
std::mutex g_connecting;
// Once an entry was not taken in time, the next ones do not wait: they are
// sent if the journal takes them at once, until one is.
std::atomic<bool> g_stalled{false};

int Connect(int fd) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, kJournalSocket, sizeof kJournalSocket);
    int rc;
    while ((rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) != 0 && errno == EINTR) {
    }
    return rc == 0 ? 0 : -errno;
}

// The socket, made and connected at the first entry; -errno when it cannot be.
int Socket() {
    int fd = g_socket.load(std::memory_order_acquire);
    if (fd >= 0) return fd;
    std::lock_guard<std::mutex> guard(g_connecting);
    fd = g_socket.load(std::memory_order_relaxed);
    if (fd >= 0) return fd;
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -errno;
    // Big entries need a big send buffer; the journal's own limit is larger.
    int size = 8 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    Connect(fd);
    g_socket.store(fd, std::memory_order_release);
    return fd;
}

int Reconnect(int fd) {
    std::lock_guard<std::mutex> guard(g_connecting);
    return Connect(fd);
}

// The entry's pieces; the lengths of binary fields are kept in *lengths.
int Pieces(const NL_JOURNAL_FIELD* fields, int count, iovec* pieces, uint64_t* lengths) {
    static char newline = '\n';
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const char* data = static_cast<const char*>(fields[i].data);
        size_t length = fields[i].length;
        const void* equals = std::memchr(data, '=', length);
        if (!equals) return -EINVAL;
        size_t name = static_cast<size_t>(static_cast<const char*>(equals) - data);
        if (!std::memchr(data, '\n', length)) {
            pieces[n++] = {const_cast<char*>(data), length};
            pieces[n++] = {&newline, 1};
            continue;
        }
        uint64_t valueLength = length - name - 1;
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&lengths[i]);
        for (int b = 0; b < 8; ++b) bytes[b] = static_cast<unsigned char>(valueLength >> (8 * b));
        pieces[n++] = {const_cast<char*>(data), name};
        pieces[n++] = {&newline, 1};
        pieces[n++] = {&lengths[i], 8};
        pieces[n++] = {const_cast<char*>(data) + name + 1, valueLength};
        pieces[n++] = {&newline, 1};
    }
    return n;
}

// One datagram, never waiting; -errno when it was not sent.
ssize_t Send(int fd, const msghdr& message) {
    ssize_t rc;
    while ((rc = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    return rc < 0 ? -errno : rc;
}

ssize_t SendPieces(int fd, iovec* pieces, int count) {
    msghdr message = {};
    message.msg_iov = pieces;
    message.msg_iovlen = static_cast<size_t>(count);
    return Send(fd, message);
}

// An entry too big for one datagram goes in a sealed memory file whose
// descriptor is sent instead, as the journal expects.
int SendInMemoryFile(int fd, iovec* pieces, int count) {
    int memory = memfd_create("journal-entry", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (memory < 0) return -errno;
    int result = 0;
    for (int i = 0; i < count && result == 0; ++i) {
        const char* data = static_cast<const char*>(pieces[i].iov_base);
        for (size_t done = 0; done < pieces[i].iov_len;) {
            ssize_t n = write(memory, data + done, pieces[i].iov_len - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                result = n < 0 ? -errno : -EIO;
                break;
            }
            done += static_cast<size_t>(n);
        }
    }
    if (result == 0 &&
        fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
        result = -errno;
    if (result == 0) {
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message = {};
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &memory, sizeof(int));
        ssize_t rc = Send(fd, message);
        result = rc < 0 ? static_cast<int>(rc) : 0;
    }
    close(memory);
    return result;
}

// Sends once, connecting again when the journal's socket was replaced (a
// restarted journald) or had gone.
int SendOnce(int fd, iovec* pieces, int count) {
    ssize_t rc = SendPieces(fd, pieces, count);
    if (rc == -ENOTCONN || rc == -ECONNREFUSED || rc == -ENOENT) {
        int connected = Reconnect(fd);
        if (connected != 0) return connected;
        rc = SendPieces(fd, pieces, count);
    }
    if (rc == -EMSGSIZE || rc == -ENOBUFS) return SendInMemoryFile(fd, pieces, count);
    return rc < 0 ? static_cast<int>(rc) : 0;
}

}  // namespace

extern "C" {

int NlJournalSend(const NL_JOURNAL_FIELD* fields, int count) {
    if (!fields || count <= 0 || count > kMostFields) return -EINVAL;
    iovec pieces[kMostPieces];
    uint64_t lengths[kMostFields];
    int pieceCount = Pieces(fields, count, pieces, lengths);
    if (pieceCount < 0) return pieceCount;
    int fd = Socket();
    if (fd < 0) return fd;
    int rc = SendOnce(fd, pieces, pieceCount);
    if (rc != -EAGAIN) {
        if (rc == 0) g_stalled.store(false, std::memory_order_relaxed);
        return rc;
    }
    // A full queue: the journal may be busy for a moment. Wait for it once,
    // for a bounded time, then not again until it has taken an entry.
    if (g_stalled.load(std::memory_order_relaxed)) return -EAGAIN;
    pollfd ready = {fd, POLLOUT, 0};
    if (poll(&ready, 1, NL_JOURNAL_WAIT_MS) > 0) rc = SendOnce(fd, pieces, pieceCount);
    g_stalled.store(rc == -EAGAIN, std::memory_order_relaxed);
    return rc;
}

}  // extern "C"
