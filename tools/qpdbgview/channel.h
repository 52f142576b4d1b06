// The viewer's end of the debug-output channel: the socket it binds, and the
// lock that keeps a second viewer off it.
#pragma once

#include <sys/types.h>

#include <string>

namespace qpdbgview {

struct Message {
    std::string text;
    pid_t sender = 0;  // from the kernel's credentials, never from the text
};

class ViewerChannel {
  public:
    ViewerChannel() = default;
    ~ViewerChannel();
    ViewerChannel(const ViewerChannel&) = delete;
    ViewerChannel& operator=(const ViewerChannel&) = delete;

    // Binds the channel's socket, making its folder when needed; false with
    // *error saying why (another viewer, no permission, a bad path).
    bool Open(std::string* error);
    // Removes the socket; the destructor does it too.
    void Close();

    const std::string& path() const { return path_; }
    int descriptor() const { return socket_; }
    // Takes one waiting message; false when none is waiting.
    bool Receive(Message* message);

  private:
    bool TakeLock(std::string* error);
    bool Bind(std::string* error);

    std::string path_;
    int socket_ = -1;
    int lock_ = -1;
    bool bound_ = false;
};

}  // namespace qpdbgview
