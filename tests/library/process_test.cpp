// Which processes log, and where: the module list, the installer processes
// and the log file's location, seen from processes of chosen names.
#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>
#include <thread>

#include "probe.h"

namespace {

using nltest::Widen;

using nltest::ProbeCase;

class ProbeTable : public ::testing::TestWithParam<ProbeCase> {};
TEST_P(ProbeTable, Runs) { nltest::RunProbeCase(GetParam()); }

const std::pair<std::wstring, std::string> kHome{L"HomeDir", "{dir}/home"};

// Whether a process of a given name logs: the module list.
ProbeCase Logs(const char* executable, const wchar_t* moduleList, bool enabled) {
    ProbeCase c;
    c.executable = std::string("bin/") + executable;
    c.strings = {kHome};
    if (moduleList)
        c.strings.emplace_back(L"DebugModule", std::string(moduleList, moduleList + wcslen(moduleList)));
    c.output = enabled ? "enabled=1" : "enabled=0";
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    ModuleList, ProbeTable,
    ::testing::Values(Logs("worker", L"worker=1", true), Logs("worker", L"worker=0", false),
                      Logs("worker", nullptr, false), Logs("worker", L"", false),
                      Logs("worker", L"indexer=1", false),
                      // Letter case plays no part.
                      Logs("worker", L"WORKER=1", true), Logs("Worker", L"worker=0", false),
                      // Any one character separates; only "0" in the flag position is off.
                      Logs("worker", L"worker:0 indexer:1", false), Logs("worker", L"worker=00", false),
                      Logs("worker", L"worker01", true), Logs("worker", L"worker=", true),
                      Logs("worker", L"worker", true), Logs("indexer", L"worker=1;indexer=0", false),
                      // The first occurrence decides, even inside a longer name.
                      Logs("worker", L"coworker=0;worker=1", false),
                      Logs("worker", L"worker=1;worker=0", true),
                      // The name is the executable's file name without its extension.
                      Logs("worker.bin", L"worker=1", true), Logs("worker.bin", L"worker.bin=0", true),
                      // Installers always log.
                      Logs("setup", L"setup=0", true), Logs("Setup.exe", nullptr, true),
                      Logs("MSIEXEC", L"", true), Logs("QpRemoteInstallAgent", nullptr, true),
                      Logs("instdeployhelper", nullptr, true), Logs("DeployLauncher", nullptr, true),
                      Logs("QpMFCApp", nullptr, true), Logs("setup2", nullptr, false)));

// Where a process logs: executable, HomeDir, environment, the log file.
ProbeCase LogsTo(const std::string& executable, const std::string& home, const std::string& log,
                 const std::string& environment = "") {
    ProbeCase c;
    c.executable = executable;
    c.strings = {{L"DebugModule", "worker=1;indexer=1"}};
    c.environment = environment;
    if (!home.empty()) c.strings.emplace_back(L"HomeDir", home);
    c.log = log;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    LogPath, ProbeTable,
    ::testing::Values(
        LogsTo("opt/qp-1.2/bin/worker", "{dir}/home", "home/Debug/worker.log"),
        LogsTo("opt/qp-1.2/bin/worker", "{dir}/home", "home/Debug/worker-7.log", "NL_DEBUG_LOG_OUTPUT_ID=7"),
        LogsTo("bin/indexer.exe", "{dir}/home", "home/Debug/indexer-A.log", "NL_DEBUG_LOG_OUTPUT_ID=A"),
        // An empty run id adds nothing, not even the dash.
        LogsTo("bin/indexer.exe", "{dir}/home", "home/Debug/indexer.log", "NL_DEBUG_LOG_OUTPUT_ID="),
        LogsTo("bin/worker", "{dir}/home/", "home/Debug/worker.log"),
        LogsTo("bin/worker", "", "tmp/worker.log"),
        // log4cxx creates the folders of a log file it cannot open.
        LogsTo("bin/worker", "{dir}/missing/home", "missing/home/Debug/worker.log"),
        // Installers log into the temporary directory; the installer's front
        // end under the installer's name, unless a run id makes it its own.
        LogsTo("bin/setup.exe", "{dir}/home", "tmp/setup.log"),
        LogsTo("bin/MsiExec", "{dir}/home", "tmp/MsiExec.log"),
        LogsTo("bin/QpMFCApp.exe", "{dir}/home", "tmp/Setup.log"),
        LogsTo("bin/QpMFCApp.exe", "{dir}/home", "tmp/QpMFCApp-7.log", "NL_DEBUG_LOG_OUTPUT_ID=7"),
        // A name too long for the library leaves it to the back end's own:
        // the home directory's Debug folder and the plain name.
        LogsTo("bin/worker", "{dir}/home", "home/Debug/worker.log",
               "NL_DEBUG_LOG_OUTPUT_ID=" + std::string(250, 'r'))));

class LogPathTest : public ::testing::Test {
  protected:
    // Runs the probe as executable and returns the records at expectedLog.
    std::vector<nltest::Record> RunAndRead(const std::string& executable, const std::string& expectedLog,
                                           const std::string& environment = "") {
        std::string probe = nltest::InstallProbe(env_, executable);
        nltest::RunProbe(env_, probe, "", environment);
        return nltest::ReadRecords(expectedLog);
    }
    std::string Temp(const std::string& name) const { return env_.path("tmp/" + name); }

    nltest::TestEnv env_;
};

TEST_F(LogPathTest, HomeDirectoriesLongerThan129CharactersAreNotRead) {
    std::string home129 = env_.path("h");
    home129 += std::string(129 - home129.size(), 'a');
    std::string home130 = home129 + "b";
    nltest::RunCommand("mkdir -p '" + home129 + "' '" + home130 + "'");
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1"));
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(home129)));
    EXPECT_EQ(RunAndRead("bin/worker", home129 + "/Debug/worker.log").size(), 1u);
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(home130)));
    EXPECT_EQ(RunAndRead("bin/worker", Temp("worker.log")).size(), 1u);
    EXPECT_FALSE(nltest::FileExists(home130 + "/Debug"));
}

TEST_F(LogPathTest, TheProductRegistryFileRedirectsTheSettings) {
    const wchar_t* key = L"SOFTWARE\\Norlake\\Elsewhere";
    ASSERT_TRUE(nltest::SetRegistryString(L"Home", Widen(env_.path("home")), key));
    ASSERT_TRUE(nltest::SetRegistryString(L"Modules", L"worker=1", key));
    ASSERT_TRUE(nltest::SetRegistryDword(L"TraceLevel", 1, key));
    nltest::RunCommand("mkdir -p '" + env_.path("home") + "' '" + env_.path("bin/config") + "'");
    nltest::WriteFile(env_.path("bin/config/cfg_ProductRegistry.txt"),
                      "RegKeyProductCurrentVersion\tSOFTWARE\\Norlake\\Elsewhere\r\n"
                      "RegValueHomeDir\tHome\r\nRegValueDebugModule\t\"Modules\"\r\n"
                      "RegValueDebugLevel\tTraceLevel\r\n");
    std::string probe = nltest::InstallProbe(env_, "bin/worker");
    std::string output = nltest::RunProbe(env_, probe, "log debug\nerror error\nstate\n");
    EXPECT_NE(output.find("enabled=1 critical=0 mode=1"), std::string::npos) << output;
    std::vector<nltest::Record> records = nltest::ReadRecords(env_.path("home/Debug/worker.log"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "error");
}

}  // namespace

namespace {

// log4cxx refuses a backup count outside 1 to 13 with a complaint on standard
// error; the library hands it only counts it takes, so a process stays quiet
// whatever DebugLogCount holds, at start and when the count changes.
TEST(BackupCount, CountsTheAppenderRefusesAreHandledQuietly) {
    for (uint32_t count : {0u, 14u, 100u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        nltest::TestEnv env;
        ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env.dir())));
        ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1"));
        ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLogCount", count));
        std::string probe = nltest::InstallProbe(env, "bin/worker");
        std::string started = env.path("started"), changed = env.path("changed");
        nltest::WriteFile(env.path("commands.txt"), "clock 1000\nlog first\ntouch " + started + "\nwait " +
                                                        changed + "\nadvance 61000\nlog second\n");
        std::string output;
        std::thread run([&] {
            nltest::RunCommand("'" + probe + "' < '" + env.path("commands.txt") + "' 2>&1", &output);
        });
        EXPECT_TRUE(nltest::WaitUntil([&] { return nltest::FileExists(started); },
                                      "the worker to log its first record"));
        // The refresh hands the changed count to the open appender.
        EXPECT_TRUE(nltest::SetRegistryDword(L"DebugLogCount", count == 0 ? 20 : 0));
        nltest::WriteFile(changed, "");
        run.join();
        EXPECT_EQ(output, "");
        EXPECT_EQ(nltest::ReadRecords(env.path("Debug/worker.log")).size(), 2u);
    }
}

}  // namespace
