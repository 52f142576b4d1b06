// A process whose threads log while its main thread forks or exits.
//   lifecycle_probe fork ITERATIONS THREADS
//       forks ITERATIONS times while THREADS threads log; each child logs
//       "child <i>" and exits, with status 0 when its logging is on as in
//       its parent. A child still running 10 s after its fork counts as hung
//       and is killed. Prints "forks=F hung=H failed=E slowest_ms=M".
//   lifecycle_probe exit THREADS DELAY_US
//       returns from main DELAY_US microseconds after THREADS threads began
//       to log; an atexit handler and a static destructor log one record each.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utilDebug.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr int kChildDeadlineMs = 10000;
#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer does not let a child of a multithreaded process start threads.
constexpr bool kChildMayStartThreads = false;
#else
constexpr bool kChildMayStartThreads = true;
#endif

std::atomic<bool> g_stop{false};

void LogForever(int thread) {
    for (unsigned n = 0; !g_stop.load(std::memory_order_relaxed); ++n) {
        DBG_LOG(DBG_LEVEL_DEBUG, "thread %d record %u", thread, n);
        // Enough records to keep a lock busy at any moment, not so many
        // that the file rolls the children's records away.
        if (n % 16 == 0) usleep(100);
    }
}

void StartLoggingThreads(int count) {
    for (int t = 0; t < count; ++t) std::thread(LogForever, t).detach();
    // Every thread has logged once: the back end is set up and in use.
    DBG_LOG(DBG_LEVEL_DEBUG, "threads started");
    usleep(20000);
}

// Waits for the child up to the deadline; false when it had to be killed.
bool ReapChild(pid_t child, long* elapsedMs, int* status) {
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (waitpid(child, status, WNOHANG) == child) break;
        *elapsedMs = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count());
        if (*elapsedMs > kChildDeadlineMs) {
            kill(child, SIGKILL);
            waitpid(child, status, 0);
            return false;
        }
        usleep(500);
    }
    return true;
}

int ForkWhileLogging(int iterations, int threads) {
    StartLoggingThreads(threads);
    int hung = 0;
    int failed = 0;
    long slowestMs = 0;
    for (int i = 0; i < iterations; ++i) {
        pid_t child = fork();
        if (child == 0) {
            DBG_LOG(DBG_LEVEL_ERROR, "child %d", i);
            auto logFromThread = [i] { DBG_LOG(DBG_LEVEL_ERROR, "child %d thread", i); };
            if (kChildMayStartThreads)
                std::thread(logFromThread).join();
            else
                logFromThread();
            _exit(DBG::IsDebugEnabled() ? 0 : 3);
        }
        long elapsedMs = 0;
        int status = 0;
        if (!ReapChild(child, &elapsedMs, &status))
            ++hung;
        else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++failed;
        if (elapsedMs > slowestMs) slowestMs = elapsedMs;
    }
    DBG_LOG(DBG_LEVEL_ERROR, "parent done");
    g_stop = true;
    std::printf("forks=%d hung=%d failed=%d slowest_ms=%ld\n", iterations, hung, failed, slowestMs);
    return 0;
}

struct LogsWhenDestroyed {
    ~LogsWhenDestroyed() { DBG_LOG(DBG_LEVEL_ERROR, "from a static destructor"); }
};
LogsWhenDestroyed g_logsWhenDestroyed;

void LogFromAtexit() { DBG_LOG(DBG_LEVEL_ERROR, "from atexit"); }

int ExitWhileLogging(int threads, int delayMicroseconds) {
    std::atexit(LogFromAtexit);
    StartLoggingThreads(threads);
    usleep(static_cast<useconds_t>(delayMicroseconds));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "fork" && argc == 4) return ForkWhileLogging(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "exit" && argc == 4) return ExitWhileLogging(std::atoi(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr, "usage: lifecycle_probe fork ITERATIONS THREADS | exit THREADS DELAY_US\n");
    return 2;
}
