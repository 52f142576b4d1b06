// A process that logs on command, for tests that need a process of a given
// name or a second process. Commands come one per line on stdin:
//   log TEXT        a debug record (level 258) with TEXT
//   level CODE TEXT a record of level code CODE with TEXT
//   clock MS        from now on GetTickCount returns MS
//   advance MS      moves that clock on
//   touch PATH      creates PATH (tells the test a point was reached)
//   wait PATH       waits until PATH exists, for 30 seconds at most (then
//                   says so on stderr and exits with 3)
//   state           prints "enabled=E critical=C mode=M count=N"
//   banner          writes the stress banner
//   windbg TEXT     DebugStringToWindbg with TEXT (the string overload)
//   pid             prints "pid=PID"
//   threadid        prints "threadid=ID" three times, from NL_GetThreadId on
//                   the pseudo-handle
//   long N LENGTH   N debug records of LENGTH characters, each naming its
//                   process and number
//   temp            prints the temporary directory the library sees
//   getenv NAME     prints the variable as the library sees it
//   crash           dies of a SIGSEGV (a write to an address no page maps)
//   handler         installs a SIGSEGV handler of its own: it prints "host
//                   handler" and leaves the signal to its default action
//   forked N        forks a child that logs N debug records "child <i>" and
//                   an error "child error", and waits for it
//   every MS PATH   logs "tick <i>" every MS milliseconds (its clock moving on
//                   as much) until PATH exists
//   rss             prints "rss_kb=N": the process's resident memory
//   whoami          prints "secure=S euid=U pid=P": whether the process runs
//                   in secure-execution mode, as whom, and its process id
//   plugin PATH TEXT  loads the shared object PATH (the test plugin) and logs
//                   TEXT through its PluginLog, under its own module
//   fork N THREADS  forks N times while THREADS threads log; each child logs
//                   "child <i>" from its main thread and from another and
//                   exits, with status 0 when its logging is on as in its
//                   parent. A child still running 10 s after its fork counts
//                   as hung and is killed. Prints "forks=F hung=H failed=E".
//   readlock PATH   takes a read lock on the whole of PATH through a
//                   read-only descriptor, as any user who may read it can,
//                   and holds it until the probe ends
//   journal STEP    a journal of the probe's own at the journal's socket:
//                   "bind" one that takes entries but is never read (a
//                   stalled journald), "drain" reads what it holds and
//                   prints "entries=N", "gone" closes and removes it
//   cancel N THREADS N times: THREADS threads log without pause and are
//                   cancelled; prints "cancelled=C" (the threads that ended
//                   cancelled), then logs "after cancel"
//   exit THREADS US exits US microseconds after THREADS threads began to log;
//                   an atexit handler and a static destructor log one record
//                   each.
// Without commands it logs one record and prints the state.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utilDebug.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<DWORD> g_now{0};
DWORD ProbeClock() { return g_now.load(); }

void PrintState() {
    std::printf("enabled=%d critical=%d mode=%d count=%d\n", DBG::IsDebugEnabled() ? 1 : 0,
                DBG::IsCriticalLogEnabled() ? 1 : 0, DBG::GetDebugMode(), DBG::GetDebugLogCount());
}

void WaitFor(const std::string& path) {
    for (int waited = 0; access(path.c_str(), F_OK) != 0; waited += 2) {
        if (waited >= 30000) {
            std::fprintf(stderr, "log_probe: gave up after 30 s waiting for %s\n", path.c_str());
            std::exit(3);
        }
        usleep(2000);
    }
}

// Record i of this process: "<pid>:<i>:" and then letters up to length.
void LogLongRecords(int count, size_t length) {
    for (int i = 0; i < count; ++i) {
        std::string text = std::to_string(GetCurrentProcessId()) + ":" + std::to_string(i) + ":";
        text.resize(length, static_cast<char>('a' + i % 26));
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, __FILE__, __LINE__, "%s", text.c_str());
    }
}

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

void ForkWhileLogging(int iterations, int threads) {
    StartLoggingThreads(threads);
    int hung = 0;
    int failed = 0;
    for (int i = 0; i < iterations; ++i) {
        pid_t child = fork();
        if (child == 0) {
            signal(SIGALRM, SIG_DFL);
            alarm(10);  // a hung child ends by its own alarm
            DBG_LOG(DBG_LEVEL_ERROR, "child %d", i);
            auto logFromThread = [i] { DBG_LOG(DBG_LEVEL_ERROR, "child %d thread", i); };
            if (kChildMayStartThreads)
                std::thread(logFromThread).join();
            else
                logFromThread();
            _exit(DBG::IsDebugEnabled() ? 0 : 3);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
            ++hung;
        else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++failed;
    }
    DBG_LOG(DBG_LEVEL_ERROR, "parent done");
    g_stop = true;
    std::printf("forks=%d hung=%d failed=%d\n", iterations, hung, failed);
}

int g_journal = -1;

void OwnJournal(const std::string& step) {
    const char kPath[] = "/run/systemd/journal/socket";
    if (step == "bind") {
        unlink(kPath);
        g_journal = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {AF_UNIX, {}};
        std::memcpy(address.sun_path, kPath, sizeof kPath);
        if (bind(g_journal, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::exit(4);
    } else if (step == "drain") {
        static char entry[1 << 20];
        int entries = 0;
        while (recv(g_journal, entry, sizeof entry, MSG_DONTWAIT) >= 0) ++entries;
        std::printf("entries=%d\n", entries);
    } else if (step == "gone") {
        unlink(kPath);
        close(g_journal);
    }
}

// Its cancellation points are inside the library, but for one every 1,024
// records, in case records are not written.
void* LogUntilCancelled(void*) {
    for (unsigned n = 0;; ++n) {
        DBG_LOG(DBG_LEVEL_DEBUG, "until cancelled %u", n);
        if (n % 1024 == 0) pthread_testcancel();
    }
    return nullptr;
}

void CancelWhileLogging(int rounds, int threads) {
    int cancelled = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<pthread_t> started(static_cast<size_t>(threads));
        for (pthread_t& thread : started) pthread_create(&thread, nullptr, LogUntilCancelled, nullptr);
        usleep(static_cast<useconds_t>(200 + round * 97 % 2000));
        for (pthread_t thread : started) {
            pthread_cancel(thread);
            void* result = nullptr;
            pthread_join(thread, &result);
            cancelled += result == PTHREAD_CANCELED;
        }
    }
    std::printf("cancelled=%d\n", cancelled);
    DBG_LOG(DBG_LEVEL_ERROR, "after cancel");
}

bool g_logAtExit = false;
struct LogsWhenDestroyed {
    ~LogsWhenDestroyed() {
        if (g_logAtExit) DBG_LOG(DBG_LEVEL_ERROR, "from a static destructor");
    }
};
LogsWhenDestroyed g_logsWhenDestroyed;

void LogFromAtexit() { DBG_LOG(DBG_LEVEL_ERROR, "from atexit"); }

void ExitWhileLogging(int threads, int delayMicroseconds) {
    g_logAtExit = true;
    std::atexit(LogFromAtexit);
    StartLoggingThreads(threads);
    usleep(static_cast<useconds_t>(delayMicroseconds));
    std::exit(0);
}

void Run(const std::string& command, const std::string& argument) {
    // The argument's first word, and the rest of it.
    const size_t space = argument.find(' ');
    const std::string first = argument.substr(0, space),
                      rest = space == std::string::npos ? "" : argument.substr(space + 1);
    if (command == "log") {
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, __FILE__, __LINE__, "%s", argument.c_str());
    } else if (command == "level") {
        DBG::DebugLogEx(DBG_THIS_MODULE, std::stoi(first), __FILE__, __LINE__, "%s", rest.c_str());
    } else if (command == "clock") {
        g_now = static_cast<DWORD>(std::stoul(argument));
        NlSetTickSourceForTesting(ProbeClock);
    } else if (command == "advance") {
        g_now += static_cast<DWORD>(std::stoul(argument));
    } else if (command == "touch") {
        std::ofstream(argument.c_str()).put('\n');
    } else if (command == "wait") {
        WaitFor(argument);
    } else if (command == "state") {
        PrintState();
    } else if (command == "banner") {
        DBG::StressLogTitle();
    } else if (command == "windbg") {
        std::wstring text(argument.begin(), argument.end());
        DebugStringToWindbg(text);
    } else if (command == "pid") {
        std::printf("pid=%d\n", static_cast<int>(getpid()));
    } else if (command == "threadid") {
        for (int i = 0; i < 3; ++i) std::printf("threadid=%lu\n", DBG::NL_GetThreadId(GetCurrentThread()));
    } else if (command == "long") {
        LogLongRecords(std::stoi(first), std::stoul(rest));
    } else if (command == "temp") {
        wchar_t path[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, path);
        std::printf("%ls\n", path);
    } else if (command == "getenv") {
        wchar_t value[MAX_PATH] = {};
        std::wstring name(argument.begin(), argument.end());
        GetEnvironmentVariableW(name.c_str(), value, MAX_PATH);
        std::printf("%ls\n", value);
    } else if (command == "plugin") {
        void* plugin = dlopen(first.c_str(), RTLD_NOW);
        auto log = plugin ? reinterpret_cast<void (*)(const char*)>(dlsym(plugin, "PluginLog")) : nullptr;
        if (log) log(rest.c_str());
    } else if (command == "readlock") {
        struct flock lock = {};
        lock.l_type = F_RDLCK;
        int fd = open(argument.c_str(), O_RDONLY);
        if (fd < 0 || fcntl(fd, F_SETLK, &lock) != 0) std::exit(4);
    } else if (command == "journal") {
        OwnJournal(argument);
    } else if (command == "cancel") {
        CancelWhileLogging(std::stoi(first), std::stoi(rest));
    } else if (command == "fork") {
        ForkWhileLogging(std::stoi(first), std::stoi(rest));
    } else if (command == "exit") {
        ExitWhileLogging(std::stoi(first), std::stoi(rest));
    } else if (command == "crash") {
        // An address that no page maps; not null, which the undefined
        // behaviour sanitizer would stop before it faults.
        volatile uintptr_t unmapped = 16;
        *reinterpret_cast<volatile int*>(unmapped) = 1;
    } else if (command == "handler") {
        struct sigaction action {};
        action.sa_handler = [](int) {
            if (write(1, "host handler\n", 13) == 13) signal(SIGSEGV, SIG_DFL);
        };
        sigaction(SIGSEGV, &action, nullptr);
    } else if (command == "forked") {
        if (pid_t child = fork(); child == 0) {
            for (int i = 0; i < std::stoi(argument); ++i) DBG_LOG(DBG_LEVEL_DEBUG, "child %d", i);
            DBG_LOG(DBG_LEVEL_ERROR, "child error");
            _exit(0);
        } else {
            waitpid(child, nullptr, 0);
        }
    } else if (command == "every") {
        for (int i = 0; access(rest.c_str(), F_OK) != 0; ++i) {
            DBG_LOG(DBG_LEVEL_DEBUG, "tick %d", i);
            g_now += static_cast<DWORD>(std::stoi(first));
            usleep(static_cast<useconds_t>(std::stoi(first) * 1000));
        }
    } else if (command == "rss") {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) std::printf("rss_kb=%ld\n", std::stol(line.substr(6)));
    } else if (command == "whoami") {
        std::printf("secure=%lu euid=%u pid=%u\n", getauxval(AT_SECURE), static_cast<unsigned>(geteuid()),
                    static_cast<unsigned>(getpid()));
    }
}

}  // namespace

int main(int argc, char**) {
    // Each line printed reaches the test at once, and never twice through a fork.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    bool any = false;
    for (std::string line; argc == 1 && !isatty(0) && std::getline(std::cin, line); any = true) {
        size_t space = line.find(' ');
        Run(line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1));
    }
    if (!any) {
        Run("log", "probe record");
        PrintState();
    }
    return 0;
}
