// OutputDebugStringW and OutputDebugStringA: the debug-output channel, a
// local datagram socket that a viewer binds (see windows.h).
#include <windows.h>

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <string>

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
    std::string chosen = size > 0 ? nlplatform::WideToUtf8(configured, size) : std::string(NL_DEBUG_CHANNEL_PATH);
    if (chosen.size() >= sizeof path) return false;
    memcpy(path, chosen.c_str(), chosen.size() + 1);
    return true;
}

bool ChannelAddress(sockaddr_un* address, socklen_t* length) {
    if (!ChannelPath(address->sun_path)) return false;
    address->sun_family = AF_UNIX;
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + strlen(address->sun_path) + 1);
    return true;
}

void SendToChannel(const char* text, size_t length) {
    sockaddr_un address;
    socklen_t addressLength;
    if (!ChannelAddress(&address, &addressLength)) return;
    int fd = SenderSocket();
    if (fd < 0) return;
    // MSG_DONTWAIT as well as the socket's own flag: a descriptor number
    // reused by another socket must not block either.
    ssize_t sent = sendto(fd, text, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&address), addressLength);
    if (sent < 0 && (errno == EBADF || errno == ENOTSOCK)) ForgetSenderSocket(fd);
}

// The UTF-8 length of text cut at NL_DEBUG_CHANNEL_MAX_MESSAGE bytes,
// without splitting a character.
size_t CutToMessageSize(const char* text, size_t length) {
    if (length <= NL_DEBUG_CHANNEL_MAX_MESSAGE) return length;
    length = NL_DEBUG_CHANNEL_MAX_MESSAGE;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    return length;
}

// Encodes into a stack buffer for the usual short text; a longer one goes
// through the heap.
void SendWide(const wchar_t* text) {
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
        SendToChannel(local, used);
    else
        SendToChannel(heap.data(), heap.size());
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
        SendWide(text);
    } catch (...) {
        // Out of memory for a long text: it is lost, as with nobody listening.
    }
}

void OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    LastErrorKeeper keeper;
    try {
        SendToChannel(text, CutToMessageSize(text, strlen(text)));
    } catch (...) {
    }
}

}  // extern "C"
