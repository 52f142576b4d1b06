// The stress banner and StressLogEx: the records, their order, location and
// level, the values they carry, and the gating every record obeys.
#include "nltest.h"

DBG_FILE_VERSION(2, 7, 5, 1234);

namespace {

using namespace nltest;

const std::string kStars(70, '*');
// The library's own logger: its file name in lower case.
const char kLibraryLogger[] = "libutildebug.so";

struct BannerLine {
    int line;
    std::string text;  // as the log shows it, without its own line end
    bool endsWithLineFeed;
};

// The banner of data/library/banner.txt with the values of the moment filled in.
std::vector<BannerLine> ExpectedBanner(const std::string& version, const std::string& build,
                                       const std::string& machine, unsigned long pid, unsigned long tid) {
    const std::pair<std::string, std::string> values[] = {
        {"{stars}", kStars},    {"{version}", version},         {"{build}", build},
        {"{machine}", machine}, {"{pid}", std::to_string(pid)}, {"{tid}", std::to_string(tid)}};
    std::vector<BannerLine> banner;
    for (Row r : ReadRows("library/banner.txt", true)) {
        for (const auto& [name, value] : values)
            if (size_t at = r[2].find(name); at != std::string::npos) r[2].replace(at, name.size(), value);
        banner.push_back({std::stoi(r[0]), r[2], r[1] == "1"});
    }
    return banner;
}

// The banner's records among the others: those of the banner's location.
std::vector<Record> BannerRecords(const std::string& logPath) {
    std::vector<Record> banner;
    for (const Record& r : ReadRecords(logPath))
        if (r.file == "dbg_ns_debug.cpp") banner.push_back(r);
    return banner;
}

void ExpectBanner(const std::string& logPath, const std::vector<BannerLine>& expected) {
    std::vector<Record> records = BannerRecords(logPath);
    ASSERT_EQ(records.size(), expected.size());
    std::string log = ReadFile(logPath);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(records[i].line, expected[i].line) << i;
        EXPECT_EQ(records[i].level, "DEBUG") << i;
        EXPECT_EQ(records[i].logger, kLibraryLogger) << i;
        // The start time is checked by its case; a machine left as {machine}
        // is this one's, whose name the cases of chosen names check.
        if (i != 1 && expected[i].text.find("{machine}") == std::string::npos) {
            EXPECT_EQ(records[i].text, expected[i].text) << i;
        }
        // A text ending in a line feed leaves an empty line after its record.
        if (expected[i].endsWithLineFeed) {
            EXPECT_NE(log.find("|" + expected[i].text + "\n\n"), std::string::npos) << i;
        }
    }
}

std::string StartedAt(time_t when) {
    tm local;
    localtime_r(&when, &local);
    char text[64];
    strftime(text, sizeof text, "Started at   : %y/%m/%d %H:%M:%S", &local);
    return text;
}

using BannerTest = LoggingProcess;

TEST_F(BannerTest, SixteenRecordsWithTheExecutablesVersionInModeThreeOnly) {
    for (int mode : {2, 1, 0}) {
        DBG::SetDebugMode(mode);
        DBG::StressLogTitle();
        DBG::DebugLogEx(DBG_THIS_MODULE, 65537, "t.cpp", 1, "fatal marker");
    }
    EXPECT_TRUE(BannerRecords(LogPath()).empty());
    DBG::SetDebugMode(3);
    time_t before = time(nullptr);
    DBG::StressLogTitle();
    time_t after = time(nullptr);
    ExpectBanner(LogPath(),
                 ExpectedBanner("2.7", "1234", "{machine}", GetCurrentProcessId(), GetCurrentThreadId()));
    std::vector<Record> records = BannerRecords(LogPath());
    ASSERT_EQ(records.size(), 16u);
    // Two-digit year, month and day with leading zeros, then the time.
    // time() reads the coarse clock, which may lag the banner's by a tick.
    std::string started = records[1].text;
    EXPECT_TRUE(started == StartedAt(before) || started == StartedAt(after) ||
                started == StartedAt(after + 1))
        << started;
}

// An executable without a version shows zeros. The machine's name as the
// banner gets it: 15 characters do not fit with the terminator, and leave
// the label alone.
TEST_F(BannerTest, AProbeWithoutVersionOnMachinesOfManyNames) {
    ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"stressprobe=1"));
    std::string probe = InstallProbe(env_, "bin/stressprobe"), log = env_.path("Debug/stressprobe.log");
    WriteFile(env_.path("commands"), "pid\nbanner\n");
    const std::string cases[][2] = {{"fourteen-chars.example", "FOURTEEN-CHARS"},
                                    {"fifteen-chars-x", ""},
                                    {"a-much-longer-host-name", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        unlink(log.c_str());
        std::string output, run = "'" + probe + "' < '" + env_.path("commands") + "'";
        if (!RunWithHostName(c[0], run, &output)) GTEST_SKIP() << "no UTS namespace here";
        ASSERT_EQ(output.compare(0, 4, "pid="), 0) << output;
        unsigned long pid = std::stoul(output.substr(4));
        ExpectBanner(log, ExpectedBanner("0.0", "0", c[1], pid, pid));
        EXPECT_EQ(BannerRecords(log).at(13).threadId, pid);  // the probe's main thread
    }
}

// StressLogEx writes its text as it stands. The banner belongs to the
// library's own logger, so naming the library in the disabled DLL list
// silences the banner alone.
TEST_F(BannerTest, StressLogExWritesItsTextAsItStandsAndTheBannerIsTheLibrarys) {
    ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", Widen(kLibraryLogger)));
    DBG::StressLogTitle();
    // Directives that would read arguments, or write through one, stay text.
    const wchar_t* texts[] = {L"100% done", L"%s %d %n %p %ls %S %I64x %*d %", L"plain"};
    for (const wchar_t* text : texts) StressLogEx(4098, L"C:\\stress\\driver.cpp", 42, text);
    StressLogEx(4098, L"driver.cpp", 43, nullptr);
    std::vector<Record> records = ReadRecords(LogPath());
    ASSERT_EQ(records.size(), 3u);
    for (size_t i = 0; i < records.size(); ++i) {
        std::wstring text = texts[i];
        EXPECT_EQ(records[i].text, std::string(text.begin(), text.end()));
        EXPECT_EQ(records[i].logger, "unknown");
        EXPECT_EQ(records[i].level, "ERROR");
        EXPECT_EQ(records[i].file, "driver.cpp");
        EXPECT_EQ(records[i].line, 42);
    }
}

}  // namespace
