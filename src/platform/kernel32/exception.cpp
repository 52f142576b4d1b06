// Unhandled exceptions: the fatal signals, seen by a filter before the
// process goes on dying as it would have without it; and the append that such
// a filter may call from inside the signal handler.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_filter{nullptr};
// The actions in place before the layer's handlers: written under the lock
// while no handler of the layer is installed, only read by the handlers.
struct sigaction g_previous[kSignalCount];
bool g_installed = false;
std::mutex g_installLock;
// The filter runs once per process: a second fatal signal, on its own thread
// or another, goes straight on.
std::atomic<bool> g_filterRan{false};

int IndexOf(int signal) {
    for (int i = 0; i < kSignalCount; ++i)
        if (kFatalSignals[i] == signal) return i;
    return 0;
}

DWORD ExceptionCodeOf(int signal) {
    switch (signal) {
        case SIGSEGV:
            return EXCEPTION_ACCESS_VIOLATION;
        case SIGBUS:
            return EXCEPTION_IN_PAGE_ERROR;
        case SIGILL:
            return EXCEPTION_ILLEGAL_INSTRUCTION;
        case SIGFPE:
            return EXCEPTION_INT_DIVIDE_BY_ZERO;
        default:
            return STATUS_FATAL_APP_EXIT;
    }
}

// The signal goes where it would have gone without the layer: to the
// previous handler, or to its default action. For the default action the
// previous disposition is put back; a fault then happens again when the
// handler returns, and a signal that was sent is sent again, to arrive (it is
// blocked while its handler runs) once the handler returns.
void PassOn(int signal, siginfo_t* info, void* context) {
    const struct sigaction& previous = g_previous[IndexOf(signal)];
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL &&
        previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    sigaction(signal, &previous, nullptr);
    if (info->si_code <= 0) raise(signal);
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
    int savedErrno = errno;
    LPTOP_LEVEL_EXCEPTION_FILTER filter = g_filter.load(std::memory_order_acquire);
    if (filter && !g_filterRan.exchange(true, std::memory_order_acq_rel)) {
        EXCEPTION_RECORD record{};
        record.ExceptionCode = ExceptionCodeOf(signal);
        record.ExceptionAddress = info->si_addr;
        record.NumberParameters = 1;
        record.ExceptionInformation[0] = static_cast<ULONG_PTR>(signal);
        EXCEPTION_POINTERS pointers{&record, context};
        filter(&pointers);
    }
    PassOn(signal, info, context);
    errno = savedErrno;
}

void Install() {
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFatalSignals[i], &action, &g_previous[i]);
    g_installed = true;
}

// Puts each previous action back where the layer's handler is still the one
// installed.
void Uninstall() {
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        if (sigaction(kFatalSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
            current.sa_sigaction == OnFatalSignal)
            sigaction(kFatalSignals[i], &g_previous[i], nullptr);
    }
    g_installed = false;
}

}  // namespace

extern "C" {

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    std::lock_guard<std::mutex> guard(g_installLock);
    LPTOP_LEVEL_EXCEPTION_FILTER previous = g_filter.exchange(filter, std::memory_order_acq_rel);
    if (filter && !g_installed) Install();
    if (!filter && g_installed) Uninstall();
    return previous;
}

BOOL NlAppendToFileFromSignal(LPCSTR path, LPCVOID buffer, DWORD size) {
    if (!path || (!buffer && size)) return FALSE;
    int fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return FALSE;
    const char* at = static_cast<const char*>(buffer);
    DWORD left = size;
    while (left > 0) {
        ssize_t n = write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += n;
        left -= static_cast<DWORD>(n);
    }
    close(fd);
    return left == 0;
}

}  // extern "C"
