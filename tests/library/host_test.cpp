// The library in hosts it does not own: a program that never linked it loads
// and unloads plugins that log, Python loads one through ctypes, a program
// carries its own Win32 shims. The host exits cleanly, records reach the
// file, each module logs under its own name, and the library never calls
// the host's functions.

#include "nltest.h"

namespace {

using namespace nltest;

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(env_.dir())));
        ASSERT_TRUE(SetRegistryString(L"DebugModule", L"plugin_host=1 " + Widen(PythonName()) + L"=1"));
        ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
        ASSERT_TRUE(UseReadableLayout());
    }
    static std::string PythonName() {
        std::string path;
        if (RunCommand("basename \"$(readlink -f \"$(command -v python3)\")\" 2>/dev/null", &path) != 0)
            return "python3";
        while (!path.empty() && path.back() == '\n') path.pop_back();
        return path.empty() ? "python3" : path;
    }
    // Runs the host with the steps; its exit status, its output in *output.
    int Host(const std::string& steps, std::string* output = nullptr) {
        return RunCommand("'" PLUGIN_HOST_PATH "' " + steps + " 2>&1", output);
    }
    std::vector<Record> Records(const std::string& process) const {
        return ReadRecords(env_.path("Debug/" + process + ".log"));
    }

    TestEnv env_;
};

// The host's own SetLastError is never called, whether it unloads the plugin or not.
TEST_F(HostTest, AHostThatLoadsAPluginExitsCleanlyWithOrWithoutUnloadingIt) {
    for (const char* close : {"", "close"}) {
        std::remove(env_.path("Debug/plugin_host.log").c_str());
        std::string output;
        EXPECT_EQ(
            Host("load '" TEST_PLUGIN_PATH "' log 'from the plugin' errors " + std::string(close), &output),
            0)
            << close << "\n"
            << output;
        EXPECT_NE(output.find("setlasterror=0\n"), std::string::npos) << output;
        std::vector<Record> records = Records("plugin_host");
        ASSERT_EQ(records.size(), 1u) << close;
        EXPECT_EQ(records[0].text, "from the plugin");
        EXPECT_EQ(records[0].logger, "libtest_plugin.so");
    }
}

TEST_F(HostTest, PythonLoadsAPluginThroughCtypesAndExitsCleanly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "python3 cannot load a plugin built with a sanitizer";
#endif
    std::string name = PythonName();
    if (RunCommand("command -v python3 > /dev/null") != 0) GTEST_SKIP() << "python3 is not installed";
    std::string output;
    int status = RunCommand("python3 -c \"import ctypes; ctypes.CDLL('" TEST_PLUGIN_PATH
                            "').PluginLog(b'from python')\" 2>&1",
                            &output);
    EXPECT_EQ(status, 0) << output;
    // The log is named as python3 was started (python3, or the version a
    // launcher such as pyenv runs), not always as the file it resolves to.
    std::string log;
    RunCommand("cd '" + env_.path("Debug") + "' && ls python*.log | head -1 | tr -d '\\n'", &log);
    std::vector<Record> records = ReadRecords(env_.path("Debug/" + log));
    ASSERT_EQ(records.size(), 1u) << name << " " << log;
    EXPECT_EQ(records[0].text, "from python");
}

// The second plugin lands where the first was unloaded (the host prints both
// addresses): its records carry its own name, and a disabled list that names
// it silences it.
TEST_F(HostTest, APluginLoadedWhereAnotherWasUnloadedLogsUnderItsOwnName) {
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", L"libother_plugin.so"));
    std::string output;
    ASSERT_EQ(Host("keep '" UTILDEBUG_PATH "' load '" TEST_PLUGIN_PATH
                   "' where log first close load '" OTHER_PLUGIN_PATH
                   "' where log second close load '" TEST_PLUGIN_PATH "' where log third",
                   &output),
              0)
        << output;
    size_t first = output.find("base=");
    size_t second = output.find("base=", first + 1);
    ASSERT_NE(second, std::string::npos) << output;
    if (output.substr(first, output.find('\n', first) - first) !=
        output.substr(second, output.find('\n', second) - second))
        GTEST_SKIP() << "the second plugin did not land at the first one's address:\n" << output;
    std::vector<Record> records = Records("plugin_host");
    ASSERT_EQ(records.size(), 2u) << output;
    EXPECT_EQ(records[0].text, "first");
    EXPECT_EQ(records[0].logger, "libtest_plugin.so");
    EXPECT_EQ(records[1].text, "third");
    EXPECT_EQ(records[1].logger, "libtest_plugin.so");
}

// Two plugins swapped in and out 1,500 times (each logging once a turn)
// leave the heap where 300 swaps left it: the replaced entries are freed.
TEST_F(HostTest, PluginsSwappedInTurnKeepTheHeapBounded) {
    std::string output;
    ASSERT_EQ(Host("keep '" UTILDEBUG_PATH "' swap '" TEST_PLUGIN_PATH "' '" OTHER_PLUGIN_PATH
                   "' 300 heap swap '" TEST_PLUGIN_PATH "' '" OTHER_PLUGIN_PATH "' 1500 heap",
                   &output),
              0)
        << output;
    size_t first = output.find("heap="), second = output.find("heap=", first + 1);
    ASSERT_NE(second, std::string::npos) << output;
    long long grown = std::stoll(output.substr(second + 5)) - std::stoll(output.substr(first + 5));
    EXPECT_LT(grown, 64 * 1024) << output;
}

}  // namespace
