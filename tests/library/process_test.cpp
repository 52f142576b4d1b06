// Which processes log, and where: the module list, the installer processes
// and the log file's location, seen from processes of chosen names.
#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>
#include <thread>

#include "log_reader.h"
#include "probe.h"
#include "test_env.h"

namespace {

using nltest::Widen;

struct ModuleListCase {
    const char* executable;
    const wchar_t* moduleList;  // null: no DebugModule value
    bool enabled;
};

void PrintTo(const ModuleListCase& c, std::ostream* out) {
    *out << c.executable << " with ";
    if (c.moduleList)
        *out << "DebugModule \"" << std::string(c.moduleList, c.moduleList + wcslen(c.moduleList)) << "\"";
    else
        *out << "no DebugModule";
    *out << (c.enabled ? ": logs" : ": stays silent");
}

class ModuleListTest : public ::testing::TestWithParam<ModuleListCase> {};

// The case's name spells out the executable and the module list, so that it
// stays the same when cases are added or reordered:
// "worker_With_worker_eq_1", "Setup_exe_With_NoModuleList".
std::string CaseName(const ::testing::TestParamInfo<ModuleListCase>& info) {
    auto spell = [](std::string* name, wchar_t c) {
        if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'))
            *name += static_cast<char>(c);
        else
            *name += c == L'=' ? "_eq_" : c == L';' ? "_semicolon_" : c == L':' ? "_colon_" : "_";
    };
    std::string name;
    for (const char* c = info.param.executable; *c; ++c) spell(&name, static_cast<wchar_t>(*c));
    name += "_With_";
    if (!info.param.moduleList)
        name += "NoModuleList";
    else if (!*info.param.moduleList)
        name += "EmptyModuleList";
    for (const wchar_t* c = info.param.moduleList; c && *c; ++c) spell(&name, *c);
    std::string collapsed;
    for (char c : name)
        if (c != '_' || collapsed.empty() || collapsed.back() != '_') collapsed += c;
    while (!collapsed.empty() && collapsed.back() == '_') collapsed.pop_back();
    return collapsed;
}

TEST_P(ModuleListTest, DecidesWhetherTheProcessLogs) {
    const ModuleListCase& c = GetParam();
    nltest::TestEnv env;
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env.dir())));
    if (c.moduleList) {
        ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", c.moduleList));
    }
    std::string probe = nltest::InstallProbe(env, std::string("bin/") + c.executable);
    std::string output = nltest::RunProbe(env, probe);
    EXPECT_NE(output.find(c.enabled ? "enabled=1" : "enabled=0"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ModuleListTest,
    ::testing::Values(
        ModuleListCase{"worker", L"worker=1", true}, ModuleListCase{"worker", L"worker=0", false},
        ModuleListCase{"worker", nullptr, false}, ModuleListCase{"worker", L"", false},
        ModuleListCase{"worker", L"indexer=1", false},
        // Letter case plays no part.
        ModuleListCase{"worker", L"WORKER=1", true}, ModuleListCase{"Worker", L"worker=0", false},
        // Any one character separates; only "0" in the flag position is off.
        ModuleListCase{"worker", L"worker:0 indexer:1", false}, ModuleListCase{"worker", L"worker=00", false},
        ModuleListCase{"worker", L"worker01", true}, ModuleListCase{"worker", L"worker=", true},
        ModuleListCase{"worker", L"worker", true}, ModuleListCase{"indexer", L"worker=1;indexer=0", false},
        // The first occurrence decides, even inside a longer name.
        ModuleListCase{"worker", L"coworker=0;worker=1", false},
        ModuleListCase{"worker", L"worker=1;worker=0", true},
        // The name is the executable's file name without its extension.
        ModuleListCase{"worker.bin", L"worker=1", true}, ModuleListCase{"worker.bin", L"worker.bin=0", true},
        // Installers always log.
        ModuleListCase{"setup", L"setup=0", true}, ModuleListCase{"Setup.exe", nullptr, true},
        ModuleListCase{"MSIEXEC", L"", true}, ModuleListCase{"QpRemoteInstallAgent", nullptr, true},
        ModuleListCase{"instdeployhelper", nullptr, true}, ModuleListCase{"DeployLauncher", nullptr, true},
        ModuleListCase{"QpMFCApp", nullptr, true}, ModuleListCase{"setup2", nullptr, false}),
    CaseName);

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

TEST_F(LogPathTest, ProcessesLogIntoTheHomeDirectorysDebugFolder) {
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env_.path("home"))));
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1;indexer=1"));
    nltest::RunCommand("mkdir -p '" + env_.path("home") + "'");
    EXPECT_EQ(RunAndRead("opt/qp-1.2/bin/worker", env_.path("home/Debug/worker.log")).size(), 1u);
    EXPECT_EQ(
        RunAndRead("opt/qp-1.2/bin/worker", env_.path("home/Debug/worker-7.log"), "NL_DEBUG_LOG_OUTPUT_ID=7")
            .size(),
        1u);
    EXPECT_EQ(RunAndRead("bin/indexer.exe", env_.path("home/Debug/indexer-A.log"), "NL_DEBUG_LOG_OUTPUT_ID=A")
                  .size(),
              1u);
    // An empty run id adds nothing, not even the dash.
    EXPECT_EQ(
        RunAndRead("bin/indexer.exe", env_.path("home/Debug/indexer.log"), "NL_DEBUG_LOG_OUTPUT_ID=").size(),
        1u);
}

TEST_F(LogPathTest, AHomeDirectoryWithATrailingSeparatorGivesTheSameFolder) {
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env_.path("home/"))));
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1"));
    nltest::RunCommand("mkdir -p '" + env_.path("home") + "'");
    EXPECT_EQ(RunAndRead("bin/worker", env_.path("home/Debug/worker.log")).size(), 1u);
}

TEST_F(LogPathTest, WithoutAHomeDirectoryProcessesLogIntoTheTemporaryDirectory) {
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1"));
    EXPECT_EQ(RunAndRead("bin/worker", Temp("worker.log")).size(), 1u);
}

// log4cxx creates the folders of a log file that it cannot open, so a home
// directory that does not exist yet loses no records.
TEST_F(LogPathTest, AMissingHomeDirectoryIsCreatedRatherThanLosingRecords) {
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"worker=1"));
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env_.path("missing/home"))));
    EXPECT_EQ(RunAndRead("bin/worker", env_.path("missing/home/Debug/worker.log")).size(), 1u);
}

TEST_F(LogPathTest, InstallersLogIntoTheTemporaryDirectory) {
    ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env_.path("home"))));
    nltest::RunCommand("mkdir -p '" + env_.path("home") + "'");
    EXPECT_EQ(RunAndRead("bin/setup.exe", Temp("setup.log")).size(), 1u);
    EXPECT_EQ(RunAndRead("bin/MsiExec", Temp("MsiExec.log")).size(), 1u);
    // The installer's front end logs under the installer's name, unless a run
    // id makes its name its own.
    EXPECT_EQ(RunAndRead("bin/QpMFCApp.exe", Temp("Setup.log")).size(), 1u);
    EXPECT_EQ(RunAndRead("bin/QpMFCApp.exe", Temp("QpMFCApp-7.log"), "NL_DEBUG_LOG_OUTPUT_ID=7").size(), 1u);
}

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
