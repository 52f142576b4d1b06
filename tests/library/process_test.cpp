// Which processes log, and where: the module list, the installer processes
// and the log file's location, seen from processes of chosen names.

#include "nltest.h"

namespace {

using namespace nltest;

// A row of data/library/processes.txt (its header says what the fields are).
class ProcessTable : public ::testing::TestWithParam<Row> {};

TEST_P(ProcessTable, Runs) {
    TestEnv env;
    ASSERT_TRUE(UseReadableLayout());
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

TEST(LogPathTest, HomeDirectoriesLongerThan129CharactersAreNotRead) {
    TestEnv env;
    ASSERT_TRUE(UseReadableLayout());
    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
    std::string probe = InstallProbe(env, "bin/worker"), home129 = env.path("h");
    home129 += std::string(129 - home129.size(), 'a');
    const std::string home130 = home129 + "b";
    RunCommand("mkdir -p '" + home129 + "' '" + home130 + "'");
    for (const std::string& home : {home129, home130}) {
        ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(home)));
        RunProbe(env, probe);
    }
    EXPECT_EQ(ReadRecords(home129 + "/Debug/worker.log").size(), 1u);
    EXPECT_EQ(ReadRecords(env.path("tmp/worker.log")).size(), 1u);
    EXPECT_FALSE(FileExists(home130 + "/Debug"));
}

TEST(LogPathTest, TheProductRegistryFileRedirectsTheSettings) {
    TestEnv env;
    const wchar_t* key = L"SOFTWARE\\Norlake\\Elsewhere";
    ASSERT_TRUE(SetRegistryString(L"Home", Widen(env.path("home")), key));
    ASSERT_TRUE(SetRegistryString(L"Modules", L"worker=1", key));
    ASSERT_TRUE(SetRegistryDword(L"TraceLevel", 1, key));
    ASSERT_TRUE(UseReadableLayout());
    RunCommand("mkdir -p '" + env.path("home") + "' '" + env.path("bin/config") + "'");
    WriteFile(env.path("bin/config/cfg_ProductRegistry.txt"),
              "RegKeyProductCurrentVersion\tSOFTWARE\\Norlake\\Elsewhere\r\n"
              "RegValueHomeDir\tHome\r\nRegValueDebugModule\t\"Modules\"\r\n"
              "RegValueDebugLevel\tTraceLevel\r\n");
    std::string output =
        RunProbe(env, InstallProbe(env, "bin/worker"), "log debug\nlevel 4098 error\nstate\n");
    EXPECT_NE(output.find("enabled=1 critical=0 mode=1"), std::string::npos) << output;
    std::vector<Record> records = ReadRecords(env.path("home/Debug/worker.log"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "error");
}

// The recorder (DebugLogRecorder) at threshold 1, through processes of the probe.
class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(LogInto(env_, "worker"));
        ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 1));
        probe_ = InstallProbe(env_, "bin/worker");
    }
    // Runs the probe on the commands; its shell's exit status ($?).
    int Run(const std::string& commands, std::string* output = nullptr) {
        WriteFile(env_.path("commands.txt"), commands);
        std::string text;
        // Without a core dump; under AddressSanitizer, whose own handler would
        // end the process otherwise, a SIGSEGV takes its default action, and
        // freed memory is not held back.
        RunCommand("ulimit -c 0; ASAN_OPTIONS=\"$ASAN_OPTIONS:handle_segv=0:quarantine_size_mb=0\" '" +
                       probe_ + "' < '" + env_.path("commands.txt") + "'; echo \"status=$?\"",
                   &text);
        if (output) *output = text;
        return std::stoi(text.substr(text.rfind("status=") + 7));
    }
    // The log's lines, each block of kept records as one string of their
    // texts ("a,b,") after its first line.
    std::vector<std::string> Blocks() const {
        std::vector<std::string> blocks;
        std::istringstream lines(ReadFile(env_.path("Debug/worker.log")));
        Record record;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("~ utilDebug: the ", 0) == 0)
                blocks.push_back(line + "\n");
            else if (line.rfind("~ ", 0) == 0 && ParseRecord(line.substr(2), &record))
                blocks.back() += record.text + ",";
            else if (ParseRecord(line, &record))
                blocks.push_back(record.text);
        }
        return blocks;
    }
    // "NAME i" for i from from up to to, each after before and before after.
    static std::string Numbered(const std::string& name, int from, int to, const char* before = "log ",
                                const char* after = "\n") {
        std::string text;
        for (int i = from; i < to; ++i) text += before + name + " " + std::to_string(i) + after;
        return text;
    }

    TestEnv env_;
    std::string probe_;
};

// 500 debug records, then a child forked; the child's first error writes its
// own records alone, the parent's error the last 100 of its own, oldest
// first, each once, and the ring starts empty after it.
TEST_F(RecorderTest, AnErrorWritesTheRecordsBeforeItOnce) {
    ASSERT_TRUE(SetRegistryDword(L"DebugLogRecorder", 100));
    EXPECT_EQ(Run(Numbered("debug", 0, 500) + "forked 3\nlevel 4098 the error\nlevel 4098 another\n"), 0);
    std::vector<std::string> expected = {
        "~ utilDebug: the 3 records kept before this error follow, oldest first (0 dropped before them since "
        "the last write-out)\n" +
            Numbered("child", 0, 3, "", ","),
        "child error",
        "~ utilDebug: the 100 records kept before this error follow, oldest first (400 dropped before them "
        "since the last write-out)\n" +
            Numbered("debug", 400, 500, "", ","),
        "the error", "another"};
    EXPECT_EQ(Blocks(), expected);
}

// A process that dies of SIGSEGV leaves its kept records in its log, and
// still dies of SIGSEGV, its own handler run first.
TEST_F(RecorderTest, ACrashWritesTheKeptRecordsAndTheProcessStillDies) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer takes SIGSEGV for its own and ends the process otherwise";
#endif
    ASSERT_TRUE(SetRegistryDword(L"DebugLogRecorder", 50));
    std::string output;
    EXPECT_EQ(Run("handler\nlevel 4098 started\n" + Numbered("debug", 0, 200) + "crash\n", &output),
              128 + SIGSEGV);
    EXPECT_NE(output.find("host handler"), std::string::npos) << output;
    std::vector<std::string> expected = {
        "started",
        "~ utilDebug: the 50 records kept before this crash (signal 11) follow, oldest first (150 dropped "
        "before them since the last write-out)\n" +
            Numbered("debug", 150, 200, "", ",")};
    EXPECT_EQ(Blocks(), expected);
    // Without the recorder, the crash writes nothing, nor does the error.
    ASSERT_TRUE(SetRegistryDword(L"DebugLogRecorder", 0));
    RunCommand("rm -f '" + env_.path("Debug/worker.log") + "'");
    EXPECT_EQ(Run(Numbered("debug", 0, 3) + "level 4098 error\ncrash\n"), 128 + SIGSEGV);
    EXPECT_EQ(Blocks(), std::vector<std::string>{"error"});
}

// Records of 8,000 characters: each is kept cut to 1 KiB and marked, and the
// ring of 2,000 grows the process by about 2 MB, not the 16 MB they hold.
TEST_F(RecorderTest, LongRecordsAreCutAndTheRingStaysWithinItsBound) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's shadow memory grows with every page touched";
#endif
    ASSERT_TRUE(SetRegistryDword(L"DebugLogRecorder", 2000));
    std::string output;
    Run("level 4098 start\nrss\nlong 5000 8000\nrss\nlevel 4098 end\n", &output);
    size_t first = output.find("rss_kb="), second = output.find("rss_kb=", first + 1);
    ASSERT_NE(second, std::string::npos) << output;
    long grown = std::stol(output.substr(second + 7)) - std::stol(output.substr(first + 7));
#if defined(__SANITIZE_ADDRESS__)
    const long slack = 2048;  // and the sanitizer's shadow and allocator
#else
    const long slack = 1024;
#endif
    EXPECT_LT(grown, 2000 + slack) << "kilobytes";
    std::istringstream lines(ReadFile(env_.path("Debug/worker.log")));
    int kept = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("~ 20", 0) != 0) continue;
        ++kept;
        EXPECT_LE(line.size() + 1, 2u + 1024u);
        EXPECT_EQ(line.substr(line.size() - 6), " [cut]");
    }
    EXPECT_EQ(kept, 2000);
}

}  // namespace
