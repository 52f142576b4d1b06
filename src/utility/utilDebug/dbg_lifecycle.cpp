// The gate of the library's calls, and the one object whose life spans the
// library's: built when the library is loaded, after every other static
// object of the library (this unit is linked last) and after log4cxx's own,
// and destroyed before them.
// On the library's ladder: the back end; it includes no unit above (scripts/ladder.sh).
#include "dbg_lifecycle.h"

#include <windows.h>

#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <log4cxx/spi/loggingevent.h>

#include <atomic>
#include <exception>
#include <memory>

#include "dbg_locks.h"

namespace dbg_internal {

namespace {

// Builds log4cxx's process-wide objects that a record uses, so that they are
// destroyed only after everything built later, at exit.
void WarmUpLog4cxx() {
    // Quiet from the start: the set-up lets log4cxx speak when asked to.
    log4cxx::helpers::LogLog::setQuietMode(true);
    try {
        log4cxx::Logger::getRootLogger();
        log4cxx::Level::getAll();
        log4cxx::Level::getDebug();
        log4cxx::Level::getInfo();
        log4cxx::Level::getWarn();
        log4cxx::Level::getError();
        log4cxx::Level::getFatal();
        log4cxx::Level::getOff();
        log4cxx::helpers::Pool pool;
        log4cxx::PatternLayout layout(LOG4CXX_STR("%d{yyyy/MM/dd HH:mm:ss Z} [%t] [%c][%F(%L)] [%-5p] %m%n"));
        auto event = std::make_shared<log4cxx::spi::LoggingEvent>(
            LOG4CXX_STR("utildebug"), log4cxx::Level::getDebug(), LOG4CXX_STR("warm-up"),
            log4cxx::spi::LocationInfo("dbg_lifecycle.cpp", "dbg_lifecycle.cpp", "", __LINE__));
        log4cxx::LogString text;
        layout.format(text, event, pool);
    } catch (const std::exception&) {
    }
}

// A call passes the gate by raising its thread's own flag and finding the
// gate open: no write to memory that other threads share, so that calls on
// many threads do not slow each other down. fork() and the teardown close
// the gate, then wait until every raised flag is lowered. A thread whose flag
// is unavailable (its destructors ran) passes by the shared lock instead,
// which the closer holds.
SRWLOCK g_gate;
std::atomic<bool> g_closed{false};
std::atomic<bool> g_tornDown{false};
// A call made from inside a call (the record that reports a re-created log
// file) passes without taking the gate again: a waiting fork() would hold it
// off.
thread_local int t_callDepth = 0;

struct CallFlag {
    std::atomic<bool> inside{false};
    bool listed = false;
    bool gone = false;
    CallFlag* next = nullptr;
    ~CallFlag();
};
thread_local CallFlag t_flag;

#if defined(__SANITIZE_THREAD__)
constexpr std::memory_order kFlagOrder = std::memory_order_seq_cst;
#else
constexpr std::memory_order kFlagOrder = std::memory_order_relaxed;
#endif

// The flags of the threads that ever passed the gate and still run.
CSLock& FlagListLock() {
    static CSLock* const lock = new CSLock;
    return *lock;
}
CallFlag* g_flags GUARDED_BY(FlagListLock()) = nullptr;

void List(CallFlag& flag) EXCLUDES(FlagListLock()) {
    CGuard<CSLock> guard(&FlagListLock());
    flag.next = g_flags;
    g_flags = &flag;
    flag.listed = true;
}

CallFlag::~CallFlag() {
    gone = true;
    if (!listed) return;
    CGuard<CSLock> guard(&FlagListLock());
    for (CallFlag** at = &g_flags; *at; at = &(*at)->next) {
        if (*at == this) {
            *at = next;
            break;
        }
    }
}

enum class FlagEntry { Inside, GateClosed, NoFlag };

FlagEntry EnterByFlag() {
    CallFlag& flag = t_flag;
    if (flag.gone) return FlagEntry::NoFlag;
    if (!flag.listed) List(flag);
    // The store and the load below need no fence of their own: the closer
    // makes every running thread pass one (FlushProcessWriteBuffers) between
    // its store of g_closed and its loads of the flags, so one of the two
    // sees the other. ThreadSanitizer cannot see that barrier.
    flag.inside.store(true, kFlagOrder);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (!g_closed.load(kFlagOrder)) return FlagEntry::Inside;
    flag.inside.store(false, std::memory_order_release);
    return FlagEntry::GateClosed;
}

void LeaveByFlag() { t_flag.inside.store(false, std::memory_order_release); }

// Turns calls by flag away and waits until none is inside. The caller holds
// the gate's lock, which turns the other calls away.
void CloseFlags() EXCLUDES(FlagListLock()) {
    g_closed.store(true, std::memory_order_seq_cst);
    FlushProcessWriteBuffers();
    CGuard<CSLock> guard(&FlagListLock());
    for (CallFlag* flag = g_flags; flag; flag = flag->next)
        while (flag->inside.load(std::memory_order_seq_cst)) Sleep(0);
}

void OpenFlags() { g_closed.store(false, std::memory_order_seq_cst); }

class CLibraryLifetime {
  public:
    CLibraryLifetime() {
        InitializeSRWLock(&g_gate);
        // fork() takes these in the order every call takes them: the gate's
        // lock, the gate itself, the list of flags, then the library's locks.
        NlKeepSRWLockAcrossFork(&g_gate);
        NlKeepStateAcrossFork(CloseFlags, OpenFlags);
        FlagListLock().KeepAcrossFork();
        SettingsLock().KeepAcrossFork();
        AdapterLock().KeepAcrossFork();
        // log4cxx's objects are built now, so that exit destroys them after
        // this object: records keep reaching the file until the teardown.
        WarmUpLog4cxx();
    }

    // Turns calls away from now on, and waits for those already inside.
    ~CLibraryLifetime() {
        g_tornDown.store(true, std::memory_order_seq_cst);
        AcquireSRWLockExclusive(&g_gate);
        CloseFlags();
        OpenFlags();
        ReleaseSRWLockExclusive(&g_gate);
    }
};

CLibraryLifetime g_lifetime;

}  // namespace

CLibraryCall::CLibraryCall() {
    if (t_callDepth > 0) {
        admitted_ = true;
    } else {
        for (;;) {
            if (g_tornDown.load(std::memory_order_seq_cst)) return;
            FlagEntry flag = EnterByFlag();
            if (flag == FlagEntry::Inside) {
                entry_ = Entry::Flag;
                break;
            }
            if (flag == FlagEntry::NoFlag) {
                AcquireSRWLockShared(&g_gate);
                entry_ = Entry::Lock;
                break;
            }
            // fork() or the teardown is closing the gate: the call waits
            // until it opens, away from the gate's lock, which fork() copies.
            while (g_closed.load(std::memory_order_acquire) && !g_tornDown.load(std::memory_order_relaxed))
                Sleep(0);
        }
        admitted_ = !g_tornDown.load(std::memory_order_seq_cst);
    }
    ++t_callDepth;
}

CLibraryCall::~CLibraryCall() {
    if (!admitted_ && entry_ == Entry::None) return;
    --t_callDepth;
    if (entry_ == Entry::Flag)
        LeaveByFlag();
    else if (entry_ == Entry::Lock)
        ReleaseSRWLockShared(&g_gate);
}

}  // namespace dbg_internal
