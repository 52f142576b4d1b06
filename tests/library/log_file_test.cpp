// The log file on disk: every record whole, with one write, however long and
// however many processes share the file and roll it; whole lines after a
// full disk; never past the process's file size limit; fixed modes whatever the umask;
// never through a planted link or into another user's file; a folder that
// cannot be written sends the records to the temporary directory, with one
// record saying why; log4cxx keeps quiet unless asked to speak; and what a
// local user or a bad file puts where the library looks.
#include "nltest.h"

namespace {

using namespace nltest;

const size_t kLimit = 10u * 1024 * 1024;

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
        ASSERT_TRUE(UseReadableLayout());
        probe_ = InstallProbe(env_, "bin/worker");
    }
    void UseHome() {
        RunCommand("mkdir -p '" + env_.path("home") + "'");
        ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(env_.path("home"))));
    }
    // Runs the probe with its standard error in the output; prefix is shell
    // text put before the command (a umask, a change of user). *status is its
    // exit status, 124 when it had to be killed: a process that waits for a
    // pipe would otherwise hang the test.
    std::string Run(const std::string& commands, const std::string& prefix = "", int* status = nullptr) {
        WriteFile(env_.path("commands.txt"), commands);
        std::string output;
        int exitStatus = RunCommand(
            prefix + " timeout 20 '" + probe_ + "' < '" + env_.path("commands.txt") + "' 2>&1", &output);
        if (status) *status = exitStatus;
        return output;
    }
    std::string HomeLog() const { return env_.path("home/Debug/worker.log"); }
    std::string TempLog(const std::string& name = "worker.log") const { return env_.path("tmp/" + name); }
    // The records of the file and its two backups, oldest first; each file
    // holds at most maxBytes. The files are removed.
    std::vector<Record> AllRecords(size_t maxBytes) {
        std::vector<Record> records = ReadRecordsWithBackups(HomeLog(), 2);
        for (const char* suffix : {".2", ".1", ""}) {
            EXPECT_LE(ReadFile(HomeLog() + suffix).size(), maxBytes) << suffix;
            std::remove((HomeLog() + suffix).c_str());
        }
        return records;
    }

    TestEnv env_;
    std::string probe_;
};

// Record i of a probe holds "<pid>:<i>:" and then one letter up to its length.
void ExpectWholeRecords(const std::vector<Record>& records, size_t length, size_t expected) {
    size_t whole = 0;
    for (const Record& r : records) {
        size_t first = r.text.find(':');
        size_t second = r.text.find(':', first + 1);
        if (r.text.size() != length || first == std::string::npos || second == std::string::npos) continue;
        int index = std::stoi(r.text.substr(first + 1, second - first - 1));
        if (r.text.find_first_not_of(static_cast<char>('a' + index % 26), second + 1) == std::string::npos &&
            std::to_string(r.processId) == r.text.substr(0, first))
            ++whole;
    }
    EXPECT_EQ(whole, expected);
    EXPECT_EQ(records.size(), expected);
}

// Processes of one executable share the file and roll it by its size on
// disk: each file stays within maxBytes, the two backups hold what the file
// held, every record of any length arrives whole and none is lost.
TEST_F(LogFileTest, ProcessesSharingTheFileRollItTogetherAndLoseNoRecord) {
    UseHome();
    ASSERT_TRUE(SetRegistryDword(L"DebugLogCount", 2));
    const struct {
        int processes, perProcess;
        size_t length;
    } cases[] = {{4, 3000, 2000}, {2, 150, 3000}, {2, 150, 49151}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        WriteFile(env_.path("commands.txt"),
                  "long " + std::to_string(c.perProcess) + " " + std::to_string(c.length) + "\n");
        RunCommand("for i in $(seq " + std::to_string(c.processes) + "); do '" + probe_ + "' < '" +
                   env_.path("commands.txt") + "' & done; wait");
        EXPECT_FALSE(FileExists(HomeLog() + ".3"));
        ExpectWholeRecords(AllRecords(kLimit + c.processes * (c.length + 200)), c.length,
                           c.processes * c.perProcess);
    }
}

// A record that would pass RLIMIT_FSIZE rolls the file, and one that no file
// could take is dropped, which the diagnostics tell: the process is never
// killed by SIGXFSZ.
TEST_F(LogFileTest, TheFileSizeLimitOfTheProcessIsNeverPassed) {
    UseHome();
    ASSERT_TRUE(SetRegistryDword(L"DebugLogCount", 5));
    ASSERT_TRUE(SetRegistryDword(L"DebugLogDiagnostics", 1));
    std::string output =
        Run("long 60 300\nlong 1 30000\nlog after\npid\n", "umask 000; prlimit --fsize=20000 --");
    EXPECT_NE(output.find("pid="), std::string::npos) << output;
    // Fixed modes whatever the umask.
    EXPECT_EQ(ModeOf(env_.path("home/Debug")), 0755u);
    EXPECT_EQ(ModeOf(HomeLog()), 0644u);
    EXPECT_NE(output.find("file size limit"), std::string::npos) << output;
    std::vector<Record> records = AllRecords(20000);
    ASSERT_EQ(records.size(), 62u);
    EXPECT_EQ(records[60].level, "WARN");
    EXPECT_EQ(records[60].text,
              "1 record lost: the file would have passed the file size limit of the process (20000 bytes)");
    EXPECT_EQ(records.back().text, "after");
}

// Fifty processes under a 16 KB limit write one file, which rolls over a
// hundred times: none is killed by SIGXFSZ, no record is cut and no file
// passes the limit.
TEST_F(LogFileTest, ProcessesUnderAFileSizeLimitShareTheFileAndNoneIsKilled) {
    UseHome();
    WriteFile(env_.path("commands.txt"), "long 100 300\n");
    std::string output;
    RunCommand("for i in $(seq 50); do (prlimit --fsize=16384 -- '" + probe_ + "' < '" +
                   env_.path("commands.txt") + "'; echo status=$?) & done; wait",
               &output);
    EXPECT_EQ(output.size(), 50 * std::string("status=0\n").size()) << output;
    for (const std::string& path : {HomeLog(), HomeLog() + ".1"}) {
        EXPECT_LE(ReadFile(path).size(), 16384u) << path;
        for (const Record& r : ReadRecords(path))
            EXPECT_TRUE(r.level == "WARN" || r.text.size() == 300) << r.text;
    }
}

// A user who may only read the file holds a read lock on all of it while the
// writer fills and rolls it: the writer never waits for it (the reader gives
// up after 30 s, the writer after 20). The writers'
// locks are in a lock file that only those who may write the log can open.
TEST_F(LogFileTest, AReadersLockNeitherHoldsUpNorStopsTheRoll) {
    UseHome();
    RunCommand("mkdir -p '" + env_.path("home/Debug") + "'");
    WriteFile(HomeLog(), "");
    WriteFile(env_.path("reader.txt"), "readlock " + HomeLog() + "\ntouch " + env_.path("locked") +
                                           "\nwait " + env_.path("done") + "\n");
    WriteFile(env_.path("writer.txt"),
              "wait " + env_.path("locked") + "\nlong 5400 2000\ntouch " + env_.path("done") + "\n");
    int status = RunCommand("'" + probe_ + "' < '" + env_.path("reader.txt") + "' & timeout 20 '" + probe_ +
                            "' < '" + env_.path("writer.txt") + "'; status=$?; touch '" + env_.path("done") +
                            "'; wait; exit $status");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ModeOf(HomeLog() + ".lock"), 0600u);
    ExpectWholeRecords(AllRecords(kLimit + 2200), 2000, 5400);
}

// The disk fills while the process logs, then has space again: the record
// cut short ends its own line, and the first record written afterwards is a
// warning that counts the records lost.
TEST_F(LogFileTest, AfterAFullDiskEveryRecordHasItsOwnLineAndTheLossIsCounted) {
    if (geteuid() != 0 || RunCommand("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs a mount namespace of its own for a small file system";
    UseHome();
    RunCommand("mkdir -p '" + env_.path("home/Debug") + "'");
    WriteFile(env_.path("commands.txt"), "log before\nlong 20 2000\ntouch " + env_.path("full") + "\nwait " +
                                             env_.path("freed") + "\nlog after\n");
    std::string debug = env_.path("home/Debug");
    std::string script = "mount -t tmpfs -o size=64k tmpfs '" + debug + "' || exit 7; dd if=/dev/zero of='" +
                         debug + "/filler' bs=4096 count=12 2>/dev/null; '" + probe_ + "' < '" +
                         env_.path("commands.txt") + "' & until [ -e '" + env_.path("full") +
                         "' ]; do sleep 0.01; done; rm '" + debug + "/filler'; touch '" + env_.path("freed") +
                         "'; wait; cp '" + HomeLog() + "' '" + env_.path("kept.log") + "'";
    WriteFile(env_.path("full.sh"), script);
    int status = RunCommand("unshare -m sh '" + env_.path("full.sh") + "'");
    if (status == 7 << 8 || status == 7) GTEST_SKIP() << "no tmpfs could be mounted";
    std::string content = ReadFile(env_.path("kept.log"));
    std::vector<Record> records = ReadRecords(env_.path("kept.log"));
    ASSERT_GE(records.size(), 3u) << content;
    // Every line is a record of its own, with its time where a time belongs.
    EXPECT_EQ(static_cast<size_t>(std::count(content.begin(), content.end(), '\n')), records.size())
        << content;
    for (const Record& record : records) EXPECT_EQ(record.time.size(), records[0].time.size()) << record.time;
    EXPECT_EQ(records.front().text, "before");
    EXPECT_EQ(records.back().text, "after");
    const Record& notice = records[records.size() - 2];
    EXPECT_EQ(notice.level, "WARN");
    EXPECT_EQ(notice.logger, "libutildebug.so");
    size_t whole = 0;
    for (const Record& record : records) whole += record.text.size() == 2000 ? 1 : 0;
    EXPECT_EQ(notice.text, std::to_string(20 - whole) +
                               " records lost while the debug log file could not be written (a full disk)");
}

// The notice that opens a fall-back file, and the probe's own record.
void ExpectNoticeThenRecord(const std::string& path, const std::string& configured) {
    std::vector<Record> records = ReadRecords(path);
    ASSERT_EQ(records.size(), 2u) << path;
    EXPECT_EQ(records[0].level, "WARN");
    // Under the one logger name of all the library's own records.
    EXPECT_EQ(records[0].logger, "libutildebug.so");
    EXPECT_NE(records[0].text.find("Debug log file " + configured + " cannot be written"), std::string::npos)
        << records[0].text;
    EXPECT_NE(records[0].text.find("records go to " + path), std::string::npos) << records[0].text;
    EXPECT_EQ(records[1].text, "probe record");
}

TEST_F(LogFileTest, ALinkPlantedAtTheLogFileIsNeverFollowed) {
    UseHome();
    std::string secret = env_.path("secret");
    WriteFile(secret, "root:x:0:0\n");
    RunCommand("mkdir -p '" + env_.path("home/Debug") + "' && ln -s '" + secret + "' '" + HomeLog() + "'");
    Run("log probe record\n");
    EXPECT_EQ(ReadFile(secret), "root:x:0:0\n");
    ExpectNoticeThenRecord(TempLog(), HomeLog());
    EXPECT_NE(ReadRecords(TempLog())[0].text.find("a link, a pipe"), std::string::npos);
}

TEST_F(LogFileTest, InAWorldWritableFolderAnotherUsersFileOrLinkIsNeverWritten) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a file owned by another user";
    // No home directory: the process logs into the temporary directory,
    // which anyone may write, like /tmp.
    chmod(env_.path("tmp").c_str(), 01777);
    WriteFile(TempLog(), "planted\n");
    ASSERT_EQ(chown(TempLog().c_str(), 65534, 65534), 0);
    // The process's own name carries its process id ("pid=PID" the probe printed).
    auto ownLog = [&](const std::string& output) {
        return TempLog("worker." + std::to_string(std::stoi(output.substr(4))) + ".log");
    };
    ExpectNoticeThenRecord(ownLog(Run("pid\nlog probe record\n")), TempLog());
    EXPECT_EQ(ReadFile(TempLog()), "planted\n");

    // A link planted there is refused the same way.
    RunCommand("rm -f '" + env_.path("tmp") + "'/* && ln -s /dev/null '" + TempLog() + "'");
    ExpectNoticeThenRecord(ownLog(Run("pid\nlog probe record\n")), TempLog());
}

TEST_F(LogFileTest, Log4cxxSpeaksOnStandardErrorOnlyWhenAskedTo) {
    UseHome();
    // A pattern log4cxx cannot parse makes it complain.
    ASSERT_TRUE(SetRegistryString(L"DebugLogFormat", L"%d %q %m%n"));
    EXPECT_EQ(Run("log probe record\n"), "");
    ASSERT_TRUE(SetRegistryDword(L"DebugLogDiagnostics", 1));
    EXPECT_NE(Run("log probe record\n"), "");
}

// What a local user or a bad file puts where the library looks: a pipe, a
// device or a folder at the name of the log file, the product registry file
// or the feature mapping file is never waited for nor read without end, and
// counts as missing; over-wide layouts and over-long lists are cut down to
// their documented limits; DebugLogDiagnostics says what was refused.
class HostileFilesTest : public LogFileTest {
  protected:
    void SetUp() override {
        LogFileTest::SetUp();
        UseHome();
        RunCommand("mkdir -p '" + env_.path("data/config") + "' '" + env_.path("bin/config") + "'");
        ASSERT_TRUE(SetRegistryString(L"DataRootPath", Widen(env_.path("data"))));
        ASSERT_TRUE(SetRegistryDword(L"DebugLogDiagnostics", 1));
    }
    std::string MappingFile() const { return env_.path("data/config/dbglog_FeatureMapping.ini"); }
    std::string RegistryFile() const { return env_.path("bin/config/cfg_ProductRegistry.txt"); }
    size_t RecordsSaying(const std::string& path, const std::string& text) const {
        return RecordsWithText(ReadRecords(path), text).size();
    }
};

TEST_F(HostileFilesTest, APipeDeviceOrFolderAtAConfigurationFileCountsAsMissing) {
    for (const std::string kind : {"mkfifo", "ln -s /dev/zero", "mkdir"}) {
        for (const std::string& path : {RegistryFile(), MappingFile()})
            ASSERT_EQ(RunCommand("rm -rf '" + path + "' && " + kind + " '" + path + "'"), 0) << kind;
        std::remove(HomeLog().c_str());
        int status = 0;
        std::string output = Run("log probe record\n", "", &status);
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
    Run("log probe record\n", "", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(RecordsSaying(HomeLog(), "probe record"), 1u);

    // Within the limit the same feature silences the process.
    WriteFile(MappingFile(), early + "[late]\nworker\n");
    Run("log silenced record\n", "", &status);
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
                             "", &status);
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
        std::string output = Run("log probe record\n", "", &status);
        EXPECT_EQ(status, 0) << format;
        std::string log = ReadFile(HomeLog());
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << format;
        EXPECT_TRUE(log.size() < 1000u && log.size() > 13 &&
                    log.compare(log.size() - 13, 13, "probe record\n") == 0)
            << format << ": " << log;
        EXPECT_NE(output.find("utilDebug: DebugLogFormat is not used ("), std::string::npos) << format;
    }
}

}  // namespace
