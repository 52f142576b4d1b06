// Live changes: thresholds of existing loggers, and a second process
// changing the settings with qpreg (the backup count's are the settings
// scripts').
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
