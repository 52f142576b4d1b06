// A listener on a private debug-output channel: binds a socket at path and
// points NL_DEBUG_CHANNEL at it for the life of the object (then back). The tests read
// its messages; the benchmark lets a thread of its own drain them.
#pragma once

#include <poll.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace nltest {

class DebugListener {
  public:
    explicit DebugListener(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {AF_UNIX, {}};
        strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        unlink(path.c_str());
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (const char* previous = getenv("NL_DEBUG_CHANNEL")) previous_ = previous;
        setenv("NL_DEBUG_CHANNEL", path.c_str(), 1);
    }
    ~DebugListener() {
        stop_ = true;
        if (drainer_.joinable()) drainer_.join();
        previous_.empty() ? unsetenv("NL_DEBUG_CHANNEL") : setenv("NL_DEBUG_CHANNEL", previous_.c_str(), 1);
        close(fd_);
        unlink(path_.c_str());
    }
    DebugListener(const DebugListener&) = delete;
    DebugListener& operator=(const DebugListener&) = delete;

    bool bound() const { return bound_; }
    // The next message, or false when none comes within timeoutMs.
    bool Receive(std::string* message, int timeoutMs = 2000) {
        pollfd wait = {fd_, POLLIN, 0};
        if (poll(&wait, 1, timeoutMs) != 1) return false;
        std::string buffer(1 << 17, '\0');
        ssize_t received = recv(fd_, &buffer[0], buffer.size(), 0);
        if (received < 0) return false;
        message->assign(buffer, 0, static_cast<size_t>(received));
        return true;
    }
    // Whether a message is waiting.
    bool Pending() {
        pollfd wait = {fd_, POLLIN, 0};
        return poll(&wait, 1, 0) == 1;
    }
    // From now on a thread reads and drops every message, as a viewer does.
    void StartDraining() {
        drainer_ = std::thread([this] {
            std::string message;
            while (!stop_)
                if (Receive(&message, 50)) ++received_;
        });
    }
    long received() const { return received_; }

  private:
    std::string path_, previous_;
    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<long> received_{0};
    std::thread drainer_;
};

}  // namespace nltest
