// fork(), exit and cancellation while other threads log: a child never hangs
// and logs as its parent does; exit never crashes, and records logged at exit
// reach the file; a cancelled thread ends, and the process logs on.

#include "nltest.h"

namespace {

using namespace nltest;

class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(LogInto(env_, "lifecycle_probe"));
        ASSERT_TRUE(SetRegistryDword(L"DebugLogCount", 12));
        probe_ = InstallProbe(env_, "lifecycle_probe");
    }
    std::string LogPath() const { return env_.path("Debug/lifecycle_probe.log"); }

    TestEnv env_;
    std::string probe_;
};

TEST_F(LifecycleTest, AChildForkedWhileThreadsLogNeverHangsAndLogs) {
    const int forks = 200;
    std::string output;
    // The watchdog of the whole run; each child has its own in the probe.
    int status =
        RunCommand("echo 'fork " + std::to_string(forks) + " 4' | timeout 600 '" + probe_ + "'", &output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("hung=0 failed=0\n"), std::string::npos) << output;
    // The threads log on for as long as the forks take (minutes under the
    // sanitizers): the records of the first children may have rolled away.
    std::vector<Record> records = ReadRecordsWithBackups(LogPath(), 13);
    for (int i = forks - 20; i < forks; ++i) {
        EXPECT_EQ(RecordsWithText(records, "child " + std::to_string(i)).size(), 1u) << i;
        EXPECT_EQ(RecordsWithText(records, "child " + std::to_string(i) + " thread").size(), 1u) << i;
    }
    EXPECT_EQ(RecordsWithText(records, "parent done").size(), 1u);
    std::printf("%s", output.c_str());
}

TEST_F(LifecycleTest, ExitWhileThreadsLogNeverCrashesAndKeepsTheLastRecords) {
    const int runs = 100;
    int crashes = 0;
    for (int run = 0; run < runs; ++run) {
        std::remove(LogPath().c_str());
        int delayMicroseconds = (run * 7919) % 20000;
        std::string output;
        int status = RunCommand(
            "echo 'exit 4 " + std::to_string(delayMicroseconds) + "' | '" + probe_ + "' 2>&1", &output);
        if (status != 0) {
            ++crashes;
            ADD_FAILURE() << "run " << run << " ended with " << status << ":\n" << output;
            continue;
        }
        for (const char* text : {"from atexit", "from a static destructor"})
            EXPECT_EQ(RecordsWithText(ReadRecords(LogPath()), text).size(), 1u) << run << text;
    }
    EXPECT_EQ(crashes, 0);
}

// Cancelled inside a write, a lock or a roll (the probe's threads have no
// other cancellation point), each thread ends as cancelled, releasing what it
// held: the process neither aborts nor hangs, and logs on.
TEST_F(LifecycleTest, AThreadCancelledWhileLoggingEndsAndTheProcessLogsOn) {
    ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
    std::string output;
    int status = RunCommand("echo 'cancel 30 3' | timeout 300 '" + probe_ + "' 2>&1", &output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("cancelled=90\n"), std::string::npos) << output;
    EXPECT_EQ(RecordsWithText(ReadRecords(LogPath()), "after cancel").size(), 1u);
}

}  // namespace
