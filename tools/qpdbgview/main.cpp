// qpdbgview: shows the messages that the processes of this machine send to
// the debug-output channel (OutputDebugStringW, DebugStringToWindbg), one a
// line with the time it arrived and the sender's process id.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "channel.h"
#include "display.h"
#include "options.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// "HH:MM:SS.mmm [PID] TEXT", the text on one line whatever it holds.
bool PrintMessage(const qpdbgview::Message& message) {
    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    localtime_r(&now.tv_sec, &local);
    std::string text = qpdbgview::ShownText(message.text);
    char prefix[64];
    snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d [%d] ", local.tm_hour, local.tm_min, local.tm_sec,
             static_cast<int>(now.tv_usec / 1000), static_cast<int>(message.sender));
    std::string line = prefix + text + "\n";
    return fwrite(line.data(), 1, line.size(), stdout) == line.size() && fflush(stdout) == 0;
}

// Ctrl-C, kill and a closed terminal end the viewer through its loop, so
// that it always removes its socket.
int StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

// Shows messages until a stop signal, the count, or a closed output.
int View(qpdbgview::ViewerChannel& channel, const qpdbgview::Options& options, int stop) {
    unsigned long shown = 0;
    pollfd waits[2] = {{channel.descriptor(), POLLIN, 0}, {stop, POLLIN, 0}};
    while (options.maxCount == 0 || shown < options.maxCount) {
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            perror("qpdbgview: poll");
            return kExitFailure;
        }
        if (waits[1].revents) return 0;
        qpdbgview::Message message;
        while ((options.maxCount == 0 || shown < options.maxCount) && channel.Receive(&message)) {
            if (options.onlyProcess != 0 && message.sender != options.onlyProcess) continue;
            // A reader that went away (the end of a pipe) ends the viewer.
            if (!PrintMessage(message)) return errno == EPIPE ? 0 : kExitFailure;
            ++shown;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qpdbgview::Options options;
    std::string error;
    if (!qpdbgview::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        fprintf(stderr, "qpdbgview: %s\n%s", error.c_str(), qpdbgview::kUsage);
        return kExitUsage;
    }
    if (options.help || options.version) {
        fputs(options.help ? qpdbgview::kUsage : qpdbgview::kVersion, stdout);
        return 0;
    }
    signal(SIGPIPE, SIG_IGN);
    int stop = StopSignals();
    if (stop < 0) {
        perror("qpdbgview: signals");
        return kExitFailure;
    }
    qpdbgview::ViewerChannel channel;
    if (!channel.Open(&error)) {
        fprintf(stderr, "qpdbgview: %s\n", error.c_str());
        return kExitFailure;
    }
    fprintf(stderr, "qpdbgview: reading %s\n", channel.path().c_str());
    if (!channel.unreachableFolder().empty())
        fprintf(stderr, "qpdbgview: other users cannot pass through %s: their texts do not arrive\n",
                channel.unreachableFolder().c_str());
    int status = View(channel, options, stop);
    channel.Close();
    return status;
}
