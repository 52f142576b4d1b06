// Another process holds the registry locked (a long write transaction), or
// the process has no descriptor left to open it with: a logging call waits a
// bounded time, a read that got no answer is not taken as a missing value,
// and the settings are read again within seconds.

#include "nltest.h"

namespace {

using namespace nltest;

// Holds the registry database with BEGIN EXCLUSIVE in a sqlite3 process
// until the object is destroyed (or at most 20 s).
class ExclusiveLock {
  public:
    explicit ExclusiveLock(const TestEnv& env) : ready_(env.path("locked")), release_(env.path("release")) {
        std::string script = "BEGIN EXCLUSIVE;\n.shell touch '" + ready_ + "'\n.shell i=0; while [ ! -e '" +
                             release_ + "' ] && [ $i -lt 2000 ]; do sleep 0.01; i=$((i+1)); done\nCOMMIT;\n";
        WriteFile(env.path("lock.sql"), script);
        // Not through a stdio pipe: the library's configuration load flushes
        // every stream, and a thread reading a pipe holds that stream's lock.
        std::string command =
            "sqlite3 '" + env.registryFile() + "' < '" + env.path("lock.sql") + "' > /dev/null";
        holder_ = std::thread([command] { (void)std::system(command.c_str()); });
        while (!FileExists(ready_)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~ExclusiveLock() {
        WriteFile(release_, "");
        holder_.join();
    }

  private:
    std::string ready_, release_;
    std::thread holder_;
};

// Logs an error record; the milliseconds the call took.
long MillisecondsToLog(const char* text) {
    auto start = std::chrono::steady_clock::now();
    DBG::DebugLogEx(DBG_THIS_MODULE, DBG_LEVEL_ERROR, "lock.cpp", 1, "%s", text);
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

using RegistryLockTest = ClockedLoggingProcess;

// A first record under the lock, and one at the set-up's retry while still
// locked, return within a second, and a read that got no answer switches
// nothing off; once the lock is gone the settings are read (the log file
// under HomeDir).
TEST_F(RegistryLockTest, AFirstRecordWaitsBrieflyAndTheSettingsAreReadOnceTheLockIsGone) {
    {
        ExclusiveLock lock(env_);
        EXPECT_LT(MillisecondsToLog("while locked"), 1000);
        EXPECT_TRUE(DBG::IsDebugEnabled());
        clock_.Advance(500);
        EXPECT_LT(MillisecondsToLog("still locked"), 1000);
        clock_.Advance(2500);
        EXPECT_LT(MillisecondsToLog("locked at the retry"), 1000);
    }
    clock_.Advance(2500);
    Log("after the lock", DBG_LEVEL_ERROR);
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_FALSE(FileExists(env_.path("tmp/utildebug_registry_lock_test.log")));
}

// A due refresh under the lock returns within a second; the new threshold is
// read within seconds after, not a minute later.
TEST_F(RegistryLockTest, ARefreshThatFindsTheRegistryLockedTriesAgainWithinSeconds) {
    RunSteps("log before; dword DebugLevel 1");
    {
        ExclusiveLock lock(env_);
        clock_.Advance(61000);
        EXPECT_LT(MillisecondsToLog("refresh under the lock"), 1000);
        EXPECT_TRUE(DBG::IsDebugEnabled());
    }
    clock_.Advance(2500);
    RunSteps(
        "error refreshed; log filtered; written before; written refresh under the lock; written refreshed; "
        "missing filtered");
}

// The registry could not be opened for want of descriptors: it is opened
// later.
TEST_F(RegistryLockTest, ARegistryThatCouldNotBeOpenedForWantOfDescriptorsIsOpenedLater) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's runtime needs descriptors of its own while the record is logged";
#endif
    std::vector<int> held;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) held.push_back(fd);
    Log("no descriptor left", DBG_LEVEL_ERROR);
    for (int fd : held) close(fd);
    EXPECT_TRUE(DBG::IsDebugEnabled());
    clock_.Advance(2500);
    Log("descriptors back", DBG_LEVEL_ERROR);
    std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "descriptors back");
}

}  // namespace
