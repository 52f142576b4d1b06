// The library in hosts it does not own: a program that never linked it loads
// and unloads plugins that log (as Python does through ctypes) and carries
// its own Win32 shims. The host exits cleanly, records reach the
// file, each module logs under its own name, and the library never calls
// the host's functions.

#include "nltest.h"

namespace {

using namespace nltest;

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(env_.dir())));
        ASSERT_TRUE(SetRegistryString(L"DebugModule", L"plugin_host=1"));
        ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
        ASSERT_TRUE(UseReadableLayout());
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
