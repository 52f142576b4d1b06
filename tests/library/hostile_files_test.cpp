// What a local user or a bad file puts where the library looks, through
// processes of the probe: a pipe, a device or a folder at the name of the
// log file, the product registry file or the feature mapping file is never
// waited for nor read without end, and counts as missing; over-wide layouts
// and over-long lists are cut down to their documented limits;
// DebugLogDiagnostics says what was refused.
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "probe.h"

namespace {

using namespace nltest;

// The probe is killed after this long: a process that waits for a pipe
// would otherwise hang the test.
const char kTimeout[] = "timeout 20 ";

class HostileFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunCommand("mkdir -p '" + env_.path("home") + "' '" + env_.path("data/config") + "' '" +
                   env_.path("bin/config") + "'");
        ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
        ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(env_.path("home"))));
        ASSERT_TRUE(SetRegistryString(L"DataRootPath", Widen(env_.path("data"))));
        ASSERT_TRUE(SetRegistryDword(L"DebugLogDiagnostics", 1));
        probe_ = InstallProbe(env_, "bin/worker");
    }
    // Runs the probe, with its standard error in the output; *status is its
    // exit status (124 when it had to be killed).
    std::string Run(const std::string& commands, int* status) {
        WriteFile(env_.path("commands.txt"), commands);
        std::string output;
        *status =
            RunCommand(kTimeout + ("'" + probe_ + "' < '" + env_.path("commands.txt") + "' 2>&1"), &output);
        return output;
    }
    std::string HomeLog() const { return env_.path("home/Debug/worker.log"); }
    std::string MappingFile() const { return env_.path("data/config/dbglog_FeatureMapping.ini"); }
    std::string RegistryFile() const { return env_.path("bin/config/cfg_ProductRegistry.txt"); }
    // Puts a thing of a kind at the path: "fifo", "zero" (a link to
    // /dev/zero) or "folder".
    void Plant(const std::string& kind, const std::string& path) const {
        std::string command = kind == "fifo"   ? "mkfifo '" + path + "'"
                              : kind == "zero" ? "ln -s /dev/zero '" + path + "'"
                                               : "mkdir '" + path + "'";
        ASSERT_EQ(RunCommand("rm -rf '" + path + "' && " + command), 0) << command;
    }
    size_t RecordsSaying(const std::string& path, const std::string& text) const {
        return RecordsWithText(ReadRecords(path), text).size();
    }

    TestEnv env_;
    std::string probe_;
};

TEST_F(HostileFilesTest, APipeDeviceOrFolderAtAConfigurationFileCountsAsMissing) {
    for (const char* kind : {"fifo", "zero", "folder"}) {
        Plant(kind, RegistryFile());
        Plant(kind, MappingFile());
        std::remove(HomeLog().c_str());
        int status = 0;
        std::string output = Run("log probe record\n", &status);
        EXPECT_EQ(status, 0) << kind << ": " << output;
        EXPECT_EQ(RecordsSaying(HomeLog(), "probe record"), 1u) << kind;
        EXPECT_NE(output.find("utilDebug: the product registry file " + RegistryFile() + " is not read ("),
                  std::string::npos)
            << kind << ": " << output;
        EXPECT_NE(output.find("utilDebug: the feature mapping file " + MappingFile() + " is not read ("),
                  std::string::npos)
            << kind << ": " << output;
    }
}

// The mapping file is read up to its first MiB: a feature that begins
// beyond it does not exist, and a 100 MB file costs no more than that.
TEST_F(HostileFilesTest, AMappingFileIsReadUpToItsFirstMiB) {
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledFeatures", L"early;late"));
    std::string early = "[early]\nnobody.so\n";
    WriteFile(MappingFile(), early + std::string(1024 * 1024 - early.size(), ';') + "\n[late]\nworker\n");
    ASSERT_EQ(truncate(MappingFile().c_str(), 100 * 1024 * 1024), 0);
    int status = 0;
    Run("log probe record\n", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(RecordsSaying(HomeLog(), "probe record"), 1u);

    // Within the limit the same feature silences the process.
    WriteFile(MappingFile(), early + "[late]\nworker\n");
    Run("log silenced record\n", &status);
    EXPECT_EQ(RecordsSaying(HomeLog(), "silenced record"), 0u);
}

// A pipe that replaces a deleted log file is never opened for waiting: the
// three-second check takes it for missing and the records go on elsewhere,
// and the process exits.
TEST_F(HostileFilesTest, APipeReplacingTheLogFileIsNeitherWaitedForNorWritten) {
    std::thread planter([&] {
        if (!WaitUntil([&] { return FileExists(env_.path("logged")); }, "the first record")) return;
        std::remove(HomeLog().c_str());
        mkfifo(HomeLog().c_str(), 0666);
        WriteFile(env_.path("planted"), "");
    });
    int status = 0;
    std::string output = Run("clock 1000\nlog first record\ntouch " + env_.path("logged") + "\nwait " +
                                 env_.path("planted") + "\nadvance 4000\nlog second record\n",
                             &status);
    planter.join();
    EXPECT_EQ(status, 0) << output;
    struct stat planted;
    ASSERT_EQ(stat(HomeLog().c_str(), &planted), 0);
    EXPECT_TRUE(S_ISFIFO(planted.st_mode));
    // The temporary directory takes the records, with a notice saying why.
    std::string fallBack = env_.path("tmp/worker.log");
    EXPECT_EQ(RecordsSaying(fallBack, "second record"), 1u) << output;
    EXPECT_EQ(RecordsSaying(fallBack, "Debug log file re-created!"), 1u);
    EXPECT_NE(output.find("utilDebug: the log file " + HomeLog() + " is opened anew (a link, a pipe"),
              std::string::npos)
        << output;
}

// Widths are bounded on both ways of writing a record, and a format that
// gives too wide a field, or a number beyond an int, is not used at all.
TEST_F(HostileFilesTest, AnOverWideOrOverflowingLayoutGivesWayToTheDefaultLayout) {
    const char* const formats[] = {
        "%-99999999m%n", "%d %-99999999c %m%n", "%.123456789012345678901m%n", "%123456789012345678901m%n",
        "[%.m]%n",
    };
    for (const char* format : formats) {
        std::remove(HomeLog().c_str());
        ASSERT_TRUE(SetRegistryString(L"DebugLogFormat", Widen(format)));
        int status = 0;
        std::string output = Run("log probe record\n", &status);
        EXPECT_EQ(status, 0) << format;
        std::vector<Record> records = ReadRecords(HomeLog());
        ASSERT_EQ(records.size(), 1u) << format;
        EXPECT_EQ(records[0].text, "probe record") << format;
        EXPECT_LT(ReadFile(HomeLog()).size(), 1000u) << format;
        EXPECT_NE(output.find("utilDebug: DebugLogFormat is not used ("), std::string::npos) << format;
    }
}

// A list longer than its reading limit is cut there, not ignored.
TEST_F(HostileFilesTest, LongListsAreReadUpToTheirLimit) {
    struct Case {
        const wchar_t* value;
        std::wstring text;
        bool logs;
    };
    const std::wstring padding(4400, L'x');
    const std::wstring longPadding(30000, L'x');
    const Case cases[] = {
        {L"DebugLogDisabledDlls", L"worker;" + padding, false},
        {L"DebugLogDisabledFeatures", L"quiet;" + padding, false},
        {L"DebugModule", L"worker=1;" + longPadding, true},
        // Beyond the first 2,047 characters a name counts for nothing.
        {L"DebugLogDisabledDlls", std::wstring(2047, L';') + L"worker", true},
    };
    WriteFile(MappingFile(), "[quiet]\nworker\n");
    for (const Case& c : cases) {
        std::remove(HomeLog().c_str());
        ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
        ASSERT_TRUE(SetRegistryString(c.value, c.text));
        int status = 0;
        Run("log probe record\n", &status);
        EXPECT_EQ(RecordsSaying(HomeLog(), "probe record"), c.logs ? 1u : 0u)
            << std::string(c.value, c.value + wcslen(c.value)) << " of " << c.text.size();
        ASSERT_TRUE(DeleteRegistryValue(c.value));
    }
}

}  // namespace
