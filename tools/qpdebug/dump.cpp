// dump: asks running processes for the records their recorder keeps
// (DebugLogRecorder). The request is a file, /tmp/utildebug-dump-PID as the
// process sees /tmp, owned by the process's own user: a process whose
// recorder is on looks for it at its records, at most once a second, takes it
// away and writes its kept records into its log. Only root and the process's
// own user can leave such a file; root's is handed to the process's user.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "dbg_defaults.h"
#include "machine.h"
#include "output.h"

namespace qpdebug {

namespace {

// A process takes a request at its next record, within a second of it.
constexpr auto kAnswerTime = std::chrono::seconds(5);

// The effective user id of a process, or -1.
long EffectiveUserOf(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        unsigned long real = 0, effective = 0;
        if (std::sscanf(line.c_str(), "Uid: %lu %lu", &real, &effective) == 2)
            return static_cast<long>(effective);
    }
    return -1;
}

// Leaves the request; false, with the reason said, when it cannot.
bool LeaveRequest(const Process& p, const std::string& path) {
    long owner = EffectiveUserOf(p.pid);
    if (owner < 0 || (geteuid() != 0 && static_cast<uid_t>(owner) != geteuid())) {
        Error("pid " + std::to_string(p.pid) + " runs as another user: only root or that user can ask it");
        return false;
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        struct stat st {};
        // An earlier request that is still waiting is as good as a new one.
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == static_cast<uid_t>(owner))
            return true;
        Error(path + " is in the way: another user's file; remove it");
        return false;
    }
    if (fd < 0) {
        Error("cannot ask pid " + std::to_string(p.pid) + ": " + path + ": " + std::strerror(errno));
        return false;
    }
    bool handed = fchown(fd, static_cast<uid_t>(owner), static_cast<gid_t>(-1)) == 0;
    close(fd);
    if (!handed) {
        unlink(path.c_str());
        Error("cannot hand the request to pid " + std::to_string(p.pid) + "'s user: " + std::strerror(errno));
    }
    return handed;
}

}  // namespace

int Dump(const std::string& target) {
    std::vector<Process> targets;
    for (const Process& p : FindProcesses())
        if (IsProcessId(target) ? p.pid == std::atoi(target.c_str())
                                : p.otherRegistry.empty() &&
                                      _wcsicmp(FromUtf8(p.name).c_str(), FromUtf8(target).c_str()) == 0)
            targets.push_back(p);
    if (targets.empty()) {
        Error("no running process " + target + " has the debug library loaded");
        return kExitFailure;
    }
    // Every process is asked first, then each answer awaited.
    std::vector<std::string> requests;
    for (const Process& p : targets) {
        std::string path = "/proc/" + std::to_string(p.pid) + "/root" + dbg_internal::kDumpRequestPrefix +
                           std::to_string(p.pid);
        requests.push_back(LeaveRequest(p, path) ? path : std::string());
    }
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
    int status = 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        const Process& p = targets[i];
        if (requests[i].empty()) {
            status = kExitFailure;
            continue;
        }
        struct stat st {};
        while (lstat(requests[i].c_str(), &st) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (lstat(requests[i].c_str(), &st) != 0) {
            std::string log = p.openLog.empty() ? p.wouldUse : p.openLog;
            std::printf("pid %d (%s): its kept records are written into %s\n", p.pid, p.name.c_str(),
                        log.c_str());
            continue;
        }
        unlink(requests[i].c_str());
        Error(
            "pid " + std::to_string(p.pid) +
            " did not answer within 5 seconds: its recorder is off (DebugLogRecorder), or it logged nothing "
            "meanwhile (it looks for the request at its records)");
        status = kExitFailure;
    }
    return status;
}

}  // namespace qpdebug
