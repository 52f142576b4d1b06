// The settings store: getters and setters, and the refresh that notices
// changed registry values at most once a minute.
#include <log4cxx/logger.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <condition_variable>
#include <iterator>
#include <future>
#include <mutex>
#include <thread>

#include "logging_process.h"

namespace {

using namespace nltest;

using SettingsTest = ClockedLoggingProcess;

// Code ported from Windows passes sizeof of its wchar_t array. A list that
// does not fit (here 25 characters into 16) is cut to what the buffer holds,
// and nothing beyond the buffer is touched.
TEST_F(SettingsTest, GetDebugModulesTakesTheSizeofOfTheCallersBuffer) {
    struct {
        wchar_t modules[16];
        wchar_t after[32];
    } memory;
    std::fill(std::begin(memory.modules), std::end(memory.modules), L'\0');
    std::fill(std::begin(memory.after), std::end(memory.after), L'#');
    DBG::GetDebugModules(memory.modules, sizeof memory.modules);
    EXPECT_EQ(std::wstring(memory.modules, 16), std::wstring(L"utildebug_setti") + L'\0');
    EXPECT_EQ(std::wstring(memory.after, 32), std::wstring(32, L'#'));

    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1;x=0"));
    DBG::GetDebugModules(memory.modules, sizeof memory.modules);
    EXPECT_STREQ(memory.modules, L"worker=1;x=0");
}

// Getters, setters and the refresh, as scripts of steps
// (LoggingProcess::RunSteps); "all": somebody else opens the module logger to
// every level; "backups N": the open appender keeps N backups.
class RefreshScript : public SettingsTest, public ::testing::WithParamInterface<const char*> {
  protected:
    bool Step(const std::string& word, const std::string& rest) override {
        if (word == "backups")
            return std::stoi(rest) ==
                   log4cxx::cast<log4cxx::rolling::RollingFileAppender>(
                       log4cxx::Logger::getRootLogger()->getAppender(LOG4CXX_STR("rootAppender")))
                       ->getMaxBackupIndex();
        if (word != "all") return false;
        log4cxx::Logger::getLogger("utildebug_settings_test")->setLevel(log4cxx::Level::getAll());
        return true;
    }
};

TEST_P(RefreshScript, Runs) { RunSteps(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Refresh, RefreshScript,
    ::testing::Values(
        // Getters read the registry, with their defaults; without DebugLevel
        // the process logs everything.
        "getmode 0; getcount 1; log debug record; written debug record; dword DebugLevel 2; "
        "dword DebugLogCount 7; getmode 2; getcount 7",
        // Setters write the registry and apply at once.
        "log set up; mode 1; count 4; modules someone_else=1; getmode 1; getcount 4; enabled 0; "
        "modules UTILDEBUG_SETTINGS_TEST=1; enabled 1; log rejected by mode 1; error error passes; "
        "missing rejected by mode 1; written error passes",
        // The refresh hands a changed log count to the open appender.
        "dword DebugLogCount 3; log first; backups 3; dword DebugLogCount 5; advance 60001; log second; "
        "backups 5",
        // Applied after a minute and not before.
        "log first; dword DebugLevel 1; advance 60000; log at 60000; advance 1; log at 60001; "
        "written at 60000; missing at 60001",
        // An unchanged value is not applied again over somebody else's level.
        "log first; dword DebugLevel 1; advance 60001; log rejected; all; advance 60001; log again; "
        "missing rejected; written again",
        // A change of letter case only is no change (the setter leaves the
        // refresh's memory at the old list).
        "log first; modules utildebug_settings_test=0; enabled 0; "
        "string DebugModule UTILDEBUG_SETTINGS_TEST=1; advance 60001; log still off; enabled 0; "
        "string DebugModule utildebug_settings_test=2; advance 60001; log on again; enabled 1; written on "
        "again",
        // A removed value leaves the last state; an empty list switches off.
        "dword DebugLevel 1; log first; delete DebugLevel; delete DebugModule; advance 60001; log rejected; "
        "enabled 1; missing rejected; string DebugModule ; advance 60001; log off; enabled 0",
        // LogCriticalInfo follows the registry: only 1 is on.
        "dword LogCriticalInfo 4294967295; log first; critical 0; dword LogCriticalInfo 1; advance 60001; "
        "log second; critical 1"));

// A refresh in progress on one thread does not hold up the records of others.
TEST_F(SettingsTest, ConcurrentRefreshesAreSkippedNotAwaited) {
    Log("first");
    static std::mutex mutex;
    static std::condition_variable released;
    static bool blocking = false;
    static std::atomic<std::thread::id> refresher;
    static std::atomic<int> refresherCalls{0};
    static std::atomic<DWORD> now{0};
    now = 20000000;
    // The refresher's second clock read comes after it took the refresh.
    NlSetTickSourceForTesting([]() -> DWORD {
        if (std::this_thread::get_id() == refresher && ++refresherCalls == 2) {
            std::unique_lock<std::mutex> lock(mutex);
            released.wait(lock, [] { return !blocking; });
        }
        return now.load();
    });
    blocking = true;
    std::thread slow([] {
        refresher = std::this_thread::get_id();
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "t.cpp", 1, "%s", "from the refreshing thread");
    });
    testing::AssertionResult refreshing =
        WaitUntil([] { return refresherCalls >= 2; }, "the first thread to take the refresh");
    bool finished = false;
    std::future<void> other;  // outlives the release below: its end waits for the call
    if (refreshing) {
        other = std::async(std::launch::async, [] {
            DBG::DebugLogEx(DBG_THIS_MODULE, 258, "t.cpp", 1, "%s", "from another thread");
        });
        finished = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        blocking = false;
    }
    released.notify_all();
    slow.join();
    ASSERT_TRUE(refreshing);
    EXPECT_TRUE(finished) << "a second thread waited for the refresh another thread was making";
    EXPECT_TRUE(Written("from another thread"));
    EXPECT_TRUE(Written("from the refreshing thread"));
}

// Without the right to write the registry a setter still changes the running
// process, and the refresh does not undo it.
TEST_F(SettingsTest, SettersWorkWithoutTheRightToWrite) {
    ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
    mkdir(env_.path("Debug").c_str(), 0777);
    chmod(env_.path("Debug").c_str(), 0777);
    if (geteuid() != 0) chmod(env_.registryFile().c_str(), 0444);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
        Log("first");
        DBG::SetDebugMode(2);
        if (DBG::GetDebugMode() != 3) _exit(11);
        clock_.Advance(60001);
        Log("debug after the setter");
        Log("error after the setter", 4098);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(Written("first"));
    EXPECT_FALSE(Written("debug after the setter"));
    EXPECT_TRUE(Written("error after the setter"));
}

}  // namespace
