// Live changes: thresholds of existing loggers, the backup count of the open
// appender, and a second process changing the settings with qpreg.
#include <gtest/gtest.h>
#include <log4cxx/logger.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <utilDebug.h>
#include <windows.h>

#include <thread>

#include "logging_process.h"
#include "probe.h"

extern "C" void PluginLog(const char* text);

namespace {

using nltest::Widen;

using nltest::ReadRecords;
using nltest::RecordsWithText;

// "plugin TEXT": the plugin logs.
class ReconfigurationTest : public nltest::LoggingProcess {
  protected:
    bool Step(const std::string& word, const std::string& rest) override {
        if (word != "plugin") return false;
        PluginLog(rest.c_str());
        return true;
    }
};

TEST_F(ReconfigurationTest, ModeChangesReachEveryLiveLogger) {
    RunSteps(
        "log exe before; plugin plugin before; mode 1; log exe at 1; plugin plugin at 1; mode 3; "
        "log exe at 3; plugin plugin at 3; missing exe at 1; missing plugin at 1; written exe at 3; "
        "written plugin at 3");
}

// A logger switched off stays off; a module logging for the first time
// follows the root logger.
TEST_F(ReconfigurationTest, SwitchedOffLoggersStayOff) {
    RunSteps(
        "log before; mode 4; mode 3; log after; plugin plugin after; missing after; written plugin after");
}

TEST_F(ReconfigurationTest, ChangesBeforeTheFirstRecordWaitForTheSetUp) {
    DBG::SetDebugLogCount(3);
    RunSteps("mode 1; log debug at 1; error error at 1; missing debug at 1; written error at 1");
}

TEST_F(ReconfigurationTest, TheBackupCountChangesOnTheOpenAppender) {
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLogCount", 5));
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
    EXPECT_TRUE(nltest::FileExists(LogPath() + ".1"));
    EXPECT_TRUE(nltest::FileExists(LogPath() + ".2"));
    EXPECT_FALSE(nltest::FileExists(LogPath() + ".3"));
}

// While one process logs, qpreg changes its settings; the process applies
// them at its next due refresh.
TEST(SeveralProcesses, ALoggingProcessAppliesQpregChanges) {
    nltest::TestEnv env;
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env.dir())));
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1;indexer=1"));
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLevel", 3));
    std::string worker = nltest::InstallProbe(env, "bin/worker");
    std::string indexer = nltest::InstallProbe(env, "bin/indexer");
    const std::string script =
        "clock 5000000\nlog first\ntouch " + env.path("ready") + "\nwait " + env.path("go") +
        "\nadvance 30000\nlog half a minute later\nadvance 30001\nlog after the refresh\n"
        "error error after the refresh\nstate\n";
    std::string workerOutput, indexerOutput;
    std::thread workerRun([&] { workerOutput = nltest::RunProbe(env, worker, script); });
    testing::AssertionResult workerReady = nltest::WaitUntil(
        [&] { return nltest::FileExists(env.path("ready")); }, "the worker to log its first record");
    std::thread indexerRun([&] {
        std::string commands = env.path("indexer-commands.txt");
        nltest::WriteFile(commands, "clock 5000000\nlog indexer first\ntouch " + env.path("ready2") +
                                        "\nwait " + env.path("go") +
                                        "\nadvance 60001\nlog indexer after\nstate\n");
        nltest::RunCommand("'" + indexer + "' < '" + commands + "'", &indexerOutput);
    });
    testing::AssertionResult indexerReady = nltest::WaitUntil(
        [&] { return nltest::FileExists(env.path("ready2")); }, "the indexer to log its first record");

    const std::string key = "\"HKLM\\SOFTWARE\\Norlake\\Quillpost\\CurrentVersion\"";
    int moduleListSet = -1, levelSet = -1;
    if (workerReady && indexerReady) {
        moduleListSet = nltest::RunCommand(QPREG_PATH " add " + key +
                                           " /v DebugModule /t REG_SZ /d \"worker=1;indexer=0\" /f");
        levelSet = nltest::RunCommand(QPREG_PATH " add " + key + " /v DebugLevel /t REG_DWORD /d 1 /f");
    }
    // Both processes go on, and end, whatever happened above.
    nltest::WriteFile(env.path("go"), "");
    workerRun.join();
    indexerRun.join();
    ASSERT_TRUE(workerReady);
    ASSERT_TRUE(indexerReady);
    ASSERT_EQ(moduleListSet, 0);
    ASSERT_EQ(levelSet, 0);

    std::vector<nltest::Record> workerRecords = ReadRecords(env.path("Debug/worker.log"));
    EXPECT_EQ(RecordsWithText(workerRecords, "half a minute later").size(), 1u);
    EXPECT_EQ(RecordsWithText(workerRecords, "after the refresh").size(), 0u);
    EXPECT_EQ(RecordsWithText(workerRecords, "error after the refresh").size(), 1u);
    EXPECT_NE(workerOutput.find("enabled=1"), std::string::npos) << workerOutput;

    std::vector<nltest::Record> indexerRecords = ReadRecords(env.path("Debug/indexer.log"));
    EXPECT_EQ(RecordsWithText(indexerRecords, "indexer first").size(), 1u);
    EXPECT_EQ(RecordsWithText(indexerRecords, "indexer after").size(), 0u);
    EXPECT_NE(indexerOutput.find("enabled=0"), std::string::npos) << indexerOutput;
}

}  // namespace
