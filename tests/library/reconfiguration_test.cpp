// Live changes: thresholds of existing loggers, the backup count of the open
// appender, and a second process changing the settings with qpreg.
#include <log4cxx/logger.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include "nltest.h"

extern "C" void PluginLog(const char* text);

namespace {

using namespace nltest;

// "plugin TEXT": the plugin logs.
class ReconfigurationTest : public LoggingProcess {
  protected:
    bool Step(const std::string& word, const std::string& rest) override {
        if (word != "plugin") return false;
        PluginLog(rest.c_str());
        return true;
    }
};

// The scripts of data/library/reconfiguration_scripts.txt.
class ReconfigurationScript : public ReconfigurationTest,
                              public ::testing::WithParamInterface<std::string> {};
TEST_P(ReconfigurationScript, Runs) { RunSteps(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Live, ReconfigurationScript,
                         ::testing::ValuesIn(ReadScripts("library/reconfiguration_scripts.txt")));

TEST_F(ReconfigurationTest, TheBackupCountChangesOnTheOpenAppender) {
    ASSERT_TRUE(SetRegistryDword(L"DebugLogCount", 5));
    Log("earliest record");
    auto appender = log4cxx::cast<log4cxx::rolling::RollingFileAppender>(
        log4cxx::Logger::getRootLogger()->getAppender(LOG4CXX_STR("rootAppender")));
    ASSERT_TRUE(appender);
    EXPECT_EQ(appender->getMaxBackupIndex(), 5);
    DBG::SetDebugLogCount(2);
    EXPECT_EQ(appender->getMaxBackupIndex(), 2);
    Log("after the change");
    EXPECT_TRUE(Written("earliest record"));
    EXPECT_TRUE(Written("after the change"));
    // Roll over a few times: two backups are kept, no third.
    std::string big(40000, 'b');
    for (int i = 0; i < 800; ++i) DBG::DebugLogEx(DBG_THIS_MODULE, 258, "t.cpp", 1, "%s", big.c_str());
    EXPECT_TRUE(FileExists(LogPath() + ".1"));
    EXPECT_TRUE(FileExists(LogPath() + ".2"));
    EXPECT_FALSE(FileExists(LogPath() + ".3"));
}

// While a process logs, qpreg changes its settings; the process applies them
// at its next due refresh, not before.
TEST(SeveralProcesses, ALoggingProcessAppliesQpregChanges) {
    TestEnv env;
    ASSERT_TRUE(UseReadableLayout());
    ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(env.dir())));
    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
    ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
    std::string output, worker = InstallProbe(env, "bin/worker");
    std::thread run([&] {
        output =
            RunProbe(env, worker,
                     "clock 5000000\nlog first\ntouch " + env.path("ready") + "\nwait " + env.path("go") +
                         "\nadvance 30000\nlog half a minute later\nadvance 30001\nlog after the refresh\n"
                         "level 4098 error after the refresh\nstate\n");
    });
    bool ready = WaitUntil([&] { return FileExists(env.path("ready")); }, "the worker's first record");
    int status = ready ? RunCommand(QPREG_PATH
                                    " add \"HKLM\\SOFTWARE\\Norlake\\Quillpost\\CurrentVersion\" "
                                    "/v DebugLevel /t REG_DWORD /d 1 /f")
                       : -1;
    // The worker goes on, and ends, whatever happened above.
    WriteFile(env.path("go"), "");
    run.join();
    ASSERT_EQ(status, 0);
    std::vector<Record> records = ReadRecords(env.path("Debug/worker.log"));
    EXPECT_EQ(RecordsWithText(records, "half a minute later").size(), 1u);
    EXPECT_EQ(RecordsWithText(records, "after the refresh").size(), 0u);
    EXPECT_EQ(RecordsWithText(records, "error after the refresh").size(), 1u);
    EXPECT_NE(output.find("enabled=1 critical=0 mode=1"), std::string::npos) << output;
}

}  // namespace
