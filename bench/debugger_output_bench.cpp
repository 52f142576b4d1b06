// What DebugStringToWindbg costs a caller: with nobody listening (the text
// is lost at once), and with a listener that drains the channel as
// qpdbgview does. Targets: under 2 us and under 5 us per message.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utilDebug.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string ChannelPath(const char* name) {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/utildebug-bench-" + std::to_string(getpid()) + name;
}

// A listener that reads and drops every message on its own thread.
class DrainingListener {
  public:
    explicit DrainingListener(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        unlink(path.c_str());
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        reader_ = std::thread([this] {
            char buffer[4096];
            pollfd wait = {fd_, POLLIN, 0};
            while (!stop_)
                if (poll(&wait, 1, 50) == 1) received_ += recv(fd_, buffer, sizeof buffer, 0) >= 0;
        });
    }
    ~DrainingListener() {
        stop_ = true;
        reader_.join();
        close(fd_);
        unlink(path_.c_str());
    }
    long received() const { return received_; }

  private:
    std::string path_;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<long> received_{0};
    std::thread reader_;
};

void BM_DebugStringNobodyListening(benchmark::State& state) {
    setenv("NL_DEBUG_CHANNEL", ChannelPath("-nobody.sock").c_str(), 1);
    int i = 0;
    for (auto _ : state) DebugStringToWindbg(L"worker %d: request %s done", ++i, L"GET /status");
    unsetenv("NL_DEBUG_CHANNEL");
}
BENCHMARK(BM_DebugStringNobodyListening);

void BM_DebugStringWithListener(benchmark::State& state) {
    std::string path = ChannelPath("-listener.sock");
    DrainingListener listener(path);
    setenv("NL_DEBUG_CHANNEL", path.c_str(), 1);
    int i = 0;
    for (auto _ : state) DebugStringToWindbg(L"worker %d: request %s done", ++i, L"GET /status");
    unsetenv("NL_DEBUG_CHANNEL");
    state.counters["delivered"] = benchmark::Counter(static_cast<double>(listener.received()) /
                                                     static_cast<double>(state.iterations()));
}
BENCHMARK(BM_DebugStringWithListener);

void BM_DebugStringOverloadWithListener(benchmark::State& state) {
    std::string path = ChannelPath("-listener2.sock");
    DrainingListener listener(path);
    setenv("NL_DEBUG_CHANNEL", path.c_str(), 1);
    std::wstring text = L"worker 7: request GET /status done";
    for (auto _ : state) DebugStringToWindbg(text);
    unsetenv("NL_DEBUG_CHANNEL");
}
BENCHMARK(BM_DebugStringOverloadWithListener);

}  // namespace
