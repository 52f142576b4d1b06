// Which processes log, and where: the module list, the installer processes
// and the log file's location, seen from processes of chosen names.

#include <thread>

#include "probe.h"
#include "vectors.h"

namespace {

using namespace nltest;

// A row of data/library/processes.txt (its header says what the fields are).
class ProcessTable : public ::testing::TestWithParam<Row> {};

TEST_P(ProcessTable, Runs) {
    TestEnv env;
    const Row& field = GetParam();
    ASSERT_EQ(field.size(), 5u);
    auto expand = [&](std::string text) {
        for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, env.dir());
        return text == "\"\"" ? std::string() : text;
    };
    RunCommand("mkdir -p '" + env.path("home") + "'");
    for (const auto& [name, value] : {std::pair(L"DebugModule", field[1]), std::pair(L"HomeDir", field[2])})
        ASSERT_TRUE(value == "-" || SetRegistryString(name, Widen(expand(value))));
    std::string output = RunProbe(env, InstallProbe(env, field[0]), "", field[3] == "-" ? "" : field[3]);
    if (field[4].rfind("log ", 0) == 0)
        EXPECT_EQ(ReadRecords(env.path(field[4].substr(4))).size(), 1u) << field[4];
    else
        EXPECT_NE(output.find(field[4]), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Data, ProcessTable, ::testing::ValuesIn(ReadRows("library/processes.txt", true)));

class LogPathTest : public ::testing::Test {
  protected:
    // Runs the probe as executable and returns the records at expectedLog.
    std::vector<Record> RunAndRead(const std::string& executable, const std::string& expectedLog,
                                   const std::string& environment = "") {
        std::string probe = InstallProbe(env_, executable);
        RunProbe(env_, probe, "", environment);
        return ReadRecords(expectedLog);
    }
    std::string Temp(const std::string& name) const { return env_.path("tmp/" + name); }

    TestEnv env_;
};

TEST_F(LogPathTest, HomeDirectoriesLongerThan129CharactersAreNotRead) {
    std::string home129 = env_.path("h");
    home129 += std::string(129 - home129.size(), 'a');
    std::string home130 = home129 + "b";
    RunCommand("mkdir -p '" + home129 + "' '" + home130 + "'");
    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
    ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(home129)));
    EXPECT_EQ(RunAndRead("bin/worker", home129 + "/Debug/worker.log").size(), 1u);
    ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(home130)));
    EXPECT_EQ(RunAndRead("bin/worker", Temp("worker.log")).size(), 1u);
    EXPECT_FALSE(FileExists(home130 + "/Debug"));
}

TEST_F(LogPathTest, TheProductRegistryFileRedirectsTheSettings) {
    const wchar_t* key = L"SOFTWARE\\Norlake\\Elsewhere";
    ASSERT_TRUE(SetRegistryString(L"Home", Widen(env_.path("home")), key));
    ASSERT_TRUE(SetRegistryString(L"Modules", L"worker=1", key));
    ASSERT_TRUE(SetRegistryDword(L"TraceLevel", 1, key));
    RunCommand("mkdir -p '" + env_.path("home") + "' '" + env_.path("bin/config") + "'");
    WriteFile(env_.path("bin/config/cfg_ProductRegistry.txt"),
              "RegKeyProductCurrentVersion\tSOFTWARE\\Norlake\\Elsewhere\r\n"
              "RegValueHomeDir\tHome\r\nRegValueDebugModule\t\"Modules\"\r\n"
              "RegValueDebugLevel\tTraceLevel\r\n");
    std::string probe = InstallProbe(env_, "bin/worker");
    std::string output = RunProbe(env_, probe, "log debug\nlevel 4098 error\nstate\n");
    EXPECT_NE(output.find("enabled=1 critical=0 mode=1"), std::string::npos) << output;
    std::vector<Record> records = ReadRecords(env_.path("home/Debug/worker.log"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "error");
}

// log4cxx refuses a backup count outside 1 to 13 with a complaint on standard
// error; the library hands it only counts it takes, so a process stays quiet
// whatever DebugLogCount holds, at start and when the count changes.
TEST(BackupCount, CountsTheAppenderRefusesAreHandledQuietly) {
    for (uint32_t count : {0u, 14u, 100u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        TestEnv env;
        ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(env.dir())));
        ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
        ASSERT_TRUE(SetRegistryDword(L"DebugLogCount", count));
        std::string probe = InstallProbe(env, "bin/worker");
        std::string started = env.path("started"), changed = env.path("changed");
        WriteFile(env.path("commands.txt"), "clock 1000\nlog first\ntouch " + started + "\nwait " + changed +
                                                "\nadvance 61000\nlog second\n");
        std::string output;
        std::thread run(
            [&] { RunCommand("'" + probe + "' < '" + env.path("commands.txt") + "' 2>&1", &output); });
        EXPECT_TRUE(WaitUntil([&] { return FileExists(started); }, "the worker to log its first record"));
        // The refresh hands the changed count to the open appender.
        EXPECT_TRUE(SetRegistryDword(L"DebugLogCount", count == 0 ? 20 : 0));
        WriteFile(changed, "");
        run.join();
        EXPECT_EQ(output, "");
        EXPECT_EQ(ReadRecords(env.path("Debug/worker.log")).size(), 2u);
    }
}

}  // namespace
