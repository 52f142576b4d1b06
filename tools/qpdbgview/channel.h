// The viewer's end of the debug-output channel: the socket it binds, and the
// lock that keeps a second viewer off it.
//
// The channel may lie in a folder that other users write to (/tmp), so the
// viewer touches only what it made: every folder on the way is opened
// without following a link, and at the socket's path it removes nothing but
// a socket that a viewer of its own user (or root) left behind.
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

    // Binds the channel's socket, making its missing folders (0755) when
    // needed; false with *error saying why (another viewer, no permission, a
    // link or a foreign file on the way, a bad path).
    bool Open(std::string* error);
    // Removes the socket, if it is still the one this viewer bound; the
    // destructor does it too.
    void Close();

    const std::string& path() const { return path_; }
    int descriptor() const { return socket_; }
    // Set by Open when other users cannot reach the socket through its
    // folders, with the folder that stops them.
    const std::string& unreachableFolder() const { return unreachableFolder_; }
    // Takes one waiting message; false when none is waiting.
    bool Receive(Message* message);

  private:
    bool OpenFolder(std::string* error);
    bool TakeLock(std::string* error);
    bool ClearStaleSocket(std::string* error);
    bool Bind(std::string* error);
    // Runs a call that takes a path relative to the socket's folder.
    template <class Call>
    int InFolder(Call call);

    std::string path_;
    std::string name_;  // the socket's name inside its folder
    std::string unreachableFolder_;
    int folder_ = -1;  // the socket's folder, opened without following links
    int socket_ = -1;
    int lock_ = -1;
    bool bound_ = false;
    dev_t boundDevice_ = 0;
    ino_t boundInode_ = 0;
};

}  // namespace qpdbgview
