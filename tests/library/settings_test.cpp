// The settings store: getters and setters, and the refresh that notices
// changed registry values at most once a minute.
#include <gtest/gtest.h>
#include <log4cxx/logger.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utilDebug.h>
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <future>
#include <mutex>
#include <thread>

#include "log_reader.h"
#include "test_env.h"

namespace {

using nltest::Widen;

using nltest::ReadRecords;
using nltest::RecordsWithText;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env_.dir())));
        ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"utildebug_settings_test=1"));
    }

    void Log(const char* text, int level = 258) {
        DBG::DebugLogEx(DBG_THIS_MODULE, level, "t.cpp", 1, "%s", text);
    }
    bool Written(const char* text) const {
        return !RecordsWithText(ReadRecords(env_.path("Debug/utildebug_settings_test.log")), text).empty();
    }

    nltest::TestEnv env_;
    nltest::FakeClock clock_;
};

TEST_F(SettingsTest, GettersReadTheRegistryWithTheirDefaults) {
    EXPECT_EQ(DBG::GetDebugMode(), 0);
    EXPECT_EQ(DBG::GetDebugLogCount(), 1);
    wchar_t modules[64] = {};
    DBG::GetDebugModules(modules, sizeof modules);
    EXPECT_STREQ(modules, L"utildebug_settings_test=1");

    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLevel", 2));
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLogCount", 7));
    EXPECT_EQ(DBG::GetDebugMode(), 2);
    EXPECT_EQ(DBG::GetDebugLogCount(), 7);
}

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

    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1;x=0"));
    DBG::GetDebugModules(memory.modules, sizeof memory.modules);
    EXPECT_STREQ(memory.modules, L"worker=1;x=0");
}

TEST_F(SettingsTest, WithoutDebugLevelTheProcessLogsEverything) {
    Log("debug record");
    EXPECT_TRUE(Written("debug record"));
    EXPECT_EQ(DBG::GetDebugMode(), 0);
}

TEST_F(SettingsTest, SettersWriteTheRegistryAndApplyAtOnce) {
    Log("set up");
    DBG::SetDebugMode(1);
    DBG::SetDebugLogCount(4);
    DBG::SetDebugModules(L"someone_else=1");
    EXPECT_EQ(DBG::GetDebugMode(), 1);
    EXPECT_EQ(DBG::GetDebugLogCount(), 4);
    EXPECT_FALSE(DBG::IsDebugEnabled());
    DBG::SetDebugModules(L"UTILDEBUG_SETTINGS_TEST=1");
    EXPECT_TRUE(DBG::IsDebugEnabled());
    Log("rejected by mode 1");
    Log("error passes", 4098);
    EXPECT_FALSE(Written("rejected by mode 1"));
    EXPECT_TRUE(Written("error passes"));
}

TEST_F(SettingsTest, ARegistryChangeIsAppliedAfterAMinuteAndNotBefore) {
    Log("first");
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLevel", 1));
    clock_.Advance(60000);
    Log("at 60000 ms");
    clock_.Advance(1);
    Log("at 60001 ms");
    EXPECT_TRUE(Written("at 60000 ms"));
    EXPECT_FALSE(Written("at 60001 ms"));
}

TEST_F(SettingsTest, AnUnchangedValueIsNotAppliedAgain) {
    Log("first");
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLevel", 1));
    clock_.Advance(60001);
    Log("rejected");
    // Somebody else raises the threshold; the next refresh finds the value it
    // already applied and leaves the live level alone.
    log4cxx::Logger::getLogger("utildebug_settings_test")->setLevel(log4cxx::Level::getAll());
    clock_.Advance(60001);
    Log("written again");
    EXPECT_FALSE(Written("rejected"));
    EXPECT_TRUE(Written("written again"));
}

TEST_F(SettingsTest, ModuleListChangesOfLetterCaseOnlyAreIgnored) {
    Log("first");
    // The setter leaves the refresh's memory at the old list.
    DBG::SetDebugModules(L"utildebug_settings_test=0");
    ASSERT_FALSE(DBG::IsDebugEnabled());
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"UTILDEBUG_SETTINGS_TEST=1"));
    clock_.Advance(60001);
    Log("still off");
    EXPECT_FALSE(DBG::IsDebugEnabled());
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"utildebug_settings_test=2"));
    clock_.Advance(60001);
    Log("on again");
    EXPECT_TRUE(DBG::IsDebugEnabled());
    EXPECT_TRUE(Written("on again"));
}

TEST_F(SettingsTest, ARemovedValueLeavesTheLastStateInForce) {
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLevel", 1));
    Log("first");
    ASSERT_TRUE(nltest::DeleteRegistryValue(L"DebugLevel"));
    ASSERT_TRUE(nltest::DeleteRegistryValue(L"DebugModule"));
    clock_.Advance(60001);
    Log("still rejected");
    EXPECT_TRUE(DBG::IsDebugEnabled());
    EXPECT_FALSE(Written("still rejected"));
    // An empty list is a list: it switches the process off.
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L""));
    clock_.Advance(60001);
    Log("off");
    EXPECT_FALSE(DBG::IsDebugEnabled());
}

TEST_F(SettingsTest, CriticalInfoFollowsTheRegistry) {
    ASSERT_TRUE(nltest::SetRegistryDword(L"LogCriticalInfo", 0xFFFFFFFFu));
    Log("first");
    EXPECT_FALSE(DBG::IsCriticalLogEnabled());
    ASSERT_TRUE(nltest::SetRegistryDword(L"LogCriticalInfo", 1));
    clock_.Advance(60001);
    Log("second");
    EXPECT_TRUE(DBG::IsCriticalLogEnabled());
}

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
        nltest::WaitUntil([] { return refresherCalls >= 2; }, "the first thread to take the refresh");
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
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLevel", 3));
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
