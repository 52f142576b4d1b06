// OutputDebugStringW: the debug-output channel, a
// local datagram socket that a viewer binds (see windows.h).
#include <windows.h>

#include <cxxabi.h>

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "common/unicode.h"

namespace {

// The sending socket, made on first use and shared by all threads; a forked
// child shares it too, and the kernel still stamps each datagram with the
// process that sends it.
std::atomic<int> g_sender{-1};

int SenderSocket() {
    int fd = g_sender.load(std::memory_order_acquire);
    if (fd >= 0) return fd;
    int created = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (created < 0) return -1;
    if (g_sender.compare_exchange_strong(fd, created, std::memory_order_acq_rel)) return created;
    close(created);
    return fd;
}

// A process that closed descriptors it did not open (a daemon detaching)
// takes the socket away; the next call makes a new one.
void ForgetSenderSocket(int fd) {
    int expected = fd;
    g_sender.compare_exchange_strong(expected, -1, std::memory_order_acq_rel);
}

// The channel's path: the environment's, or the default one. False when it
// does not fit a socket address.
bool ChannelPath(char (&path)[sizeof(sockaddr_un::sun_path)]) {
    wchar_t configured[sizeof path];
    DWORD size = GetEnvironmentVariableW(L"" NL_DEBUG_CHANNEL_VARIABLE, configured, sizeof path);
    if (size >= sizeof path) return false;
    std::string chosen =
        size > 0 ? nlplatform::WideToUtf8(configured, size) : std::string(NL_DEBUG_CHANNEL_PATH);
    if (chosen.size() >= sizeof path) return false;
    memcpy(path, chosen.c_str(), chosen.size() + 1);
    return true;
}

// Where the texts go: the socket's address, and a key of its path.
struct Channel {
    sockaddr_un address;
    socklen_t length;
    size_t key;
};

bool ResolveChannel(Channel* channel) {
    if (!ChannelPath(channel->address.sun_path)) return false;
    channel->address.sun_family = AF_UNIX;
    size_t pathLength = strlen(channel->address.sun_path);
    channel->length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + pathLength + 1);
    channel->key = std::hash<std::string_view>()(std::string_view(channel->address.sun_path, pathLength));
    return true;
}

// Nobody listening is the usual case, and a send costs a system call: after
// a send finds nobody, the channel stays quiet for a while and texts are
// dropped without trying. A viewer that starts meanwhile gets texts within
// kQuietMilliseconds. The two values are read without a lock: a torn pair
// costs at most one needless or one skipped send.
constexpr DWORD kQuietMilliseconds = 1000;
std::atomic<size_t> g_quietChannel{0};
std::atomic<DWORD> g_quietSince{0};
std::atomic<bool> g_quiet{false};

bool IsQuiet(const Channel& channel) {
    if (!g_quiet.load(std::memory_order_relaxed) ||
        g_quietChannel.load(std::memory_order_relaxed) != channel.key)
        return false;
    return GetTickCount() - g_quietSince.load(std::memory_order_relaxed) < kQuietMilliseconds;
}

void NoteSendResult(const Channel& channel, int error) {
    bool nobodyThere = error == ENOENT || error == ECONNREFUSED || error == ENOTDIR || error == EACCES;
    if (!nobodyThere) {
        if (g_quiet.load(std::memory_order_relaxed)) g_quiet.store(false, std::memory_order_relaxed);
        return;
    }
    g_quietChannel.store(channel.key, std::memory_order_relaxed);
    g_quietSince.store(GetTickCount(), std::memory_order_relaxed);
    g_quiet.store(true, std::memory_order_relaxed);
}

void SendToChannel(const Channel& channel, const char* text, size_t length) {
    int fd = SenderSocket();
    if (fd < 0) return;
    // MSG_DONTWAIT as well as the socket's own flag: a descriptor number
    // reused by another socket must not block either.
    ssize_t sent = sendto(fd, text, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&channel.address), channel.length);
    int error = sent < 0 ? errno : 0;
    if (error == EBADF || error == ENOTSOCK) ForgetSenderSocket(fd);
    NoteSendResult(channel, error);
}

// Encodes into a stack buffer for the usual short text; a longer one goes
// through the heap.
void SendWide(const Channel& channel, const wchar_t* text) {
    char local[2048];
    size_t used = 0;
    std::string heap;
    for (const wchar_t* p = text; *p; ++p) {
        char encoded[4];
        size_t n = nlplatform::EncodeUtf8(static_cast<char32_t>(*p), encoded);
        if (heap.empty() && used + n <= sizeof local) {
            memcpy(local + used, encoded, n);
            used += n;
            continue;
        }
        if (heap.empty()) heap.assign(local, used);
        if (heap.size() + n > NL_DEBUG_CHANNEL_MAX_MESSAGE) break;
        heap.append(encoded, n);
    }
    if (heap.empty())
        SendToChannel(channel, local, used);
    else
        SendToChannel(channel, heap.data(), heap.size());
}

class LastErrorKeeper {
  public:
    LastErrorKeeper() : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }

  private:
    DWORD saved_;
};

}  // namespace

extern "C" {

DWORD NlGetDebugChannelPath(LPSTR buffer, DWORD size) {
    char path[sizeof(sockaddr_un::sun_path)];
    if (!buffer || !ChannelPath(path)) return 0;
    size_t length = strlen(path);
    if (length >= size) return 0;
    memcpy(buffer, path, length + 1);
    return static_cast<DWORD>(length);
}

void OutputDebugStringW(LPCWSTR text) {
    if (!text) return;
    LastErrorKeeper keeper;
    try {
        Channel channel;
        if (ResolveChannel(&channel) && !IsQuiet(channel)) SendWide(channel, text);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // Out of memory for a long text: it is lost, as with nobody listening.
    }
}

}  // extern "C"
