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
        ASSERT_TRUE(LogInto(env_, "plugin_host"));
        ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
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

// A host exits cleanly whether it unloads its plugin (and the library with
// it) or not, and its own SetLastError is never called. A plugin loaded where
// another was unloaded (the host prints both addresses) logs under its own
// name, and a disabled list that names the other silences only that one.
TEST_F(HostTest, PluginsLogUnderTheirOwnNamesAndTheHostExitsCleanly) {
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", L"libother_plugin.so"));
    std::string output, unloaded;
    EXPECT_EQ(Host("load '" TEST_PLUGIN_PATH "' log unloading errors close", &unloaded), 0) << unloaded;
    ASSERT_EQ(Host("keep '" UTILDEBUG_PATH "' load '" TEST_PLUGIN_PATH
                   "' where log first close load '" OTHER_PLUGIN_PATH
                   "' where log second close load '" TEST_PLUGIN_PATH "' where log third errors",
                   &output),
              0)
        << output;
    EXPECT_NE(unloaded.find("setlasterror=0\n"), std::string::npos) << unloaded;
    EXPECT_NE(output.find("setlasterror=0\n"), std::string::npos) << output;
    std::vector<Record> records = Records("plugin_host");
    ASSERT_EQ(records.size(), 3u) << output;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].text, std::vector<std::string>({"unloading", "first", "third"})[i]);
        EXPECT_EQ(records[i].logger, "libtest_plugin.so");
    }
    size_t first = output.find("base="), second = output.find("base=", first + 1);
    ASSERT_NE(second, std::string::npos) << output;
    if (output.substr(first, output.find('\n', first) - first) !=
        output.substr(second, output.find('\n', second) - second))
        GTEST_SKIP() << "the second plugin did not land at the first one's address:\n" << output;
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
