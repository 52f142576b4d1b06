// The product registry file: how cfg_ProductRegistry.txt is read, split into
// key/value pairs, and found beside an executable.
#include "ProductRegINIReader.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_env.h"

namespace {

using Pairs = std::map<std::wstring, std::wstring>;

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Records what a line walk hands over.
class LineRecorder : public CProductRegINIReader::CIterateEachLineCallback {
  public:
    explicit LineRecorder(int stopAfter = -1) : stopAfter_(stopAfter) {}
    void OnBegin(int lineCount) override { events.push_back(L"begin " + std::to_wstring(lineCount)); }
    void OnEnd() override { events.push_back(L"end"); }
    bool OnLine(int index, const wchar_t* line) override {
        events.push_back(std::to_wstring(index) + L":" + line);
        lines.push_back(line);
        return index != stopAfter_;
    }

    std::vector<std::wstring> events;
    std::vector<std::wstring> lines;

  private:
    int stopAfter_;
};

// Records the tokens of one line.
class TokenRecorder : public CProductRegINIReader::CIterateEachTokenCallback {
  public:
    TokenRecorder(const wchar_t* line, const wchar_t* delimiters)
        : CIterateEachTokenCallback(line, delimiters) {}
    bool OnToken(int, const wchar_t* token) override {
        tokens.push_back(token);
        return true;
    }

    std::vector<std::wstring> tokens;
};

class ProductRegistryFileTest : public ::testing::Test {
  protected:
    // The file must read the same whatever the process's locale: run under "C",
    // where the runtime's own conversion knows ASCII only.
    void SetUp() override { setlocale(LC_ALL, "C"); }

    std::wstring WriteRegistryFile(const std::string& content) {
        nltest::WriteFile(env_.path("cfg_ProductRegistry.txt"), content);
        return Widen(env_.path("cfg_ProductRegistry.txt"));
    }

    std::vector<std::wstring> StoredLines(const std::string& content) {
        CProductRegINIReader reader;
        EXPECT_TRUE(reader.LoadFile(WriteRegistryFile(content).c_str()));
        LineRecorder recorder;
        reader.IterateEachLine(recorder);
        return recorder.lines;
    }

    Pairs Parse(const std::string& content) {
        CProductRegINIReader reader;
        EXPECT_TRUE(reader.LoadFile(WriteRegistryFile(content).c_str()));
        CRegLineReaderCB lines;
        reader.IterateEachLine(lines);
        return lines.GetValues();
    }

    nltest::TestEnv env_;
};

// ---- Reading the file into lines -------------------------------------------------

TEST_F(ProductRegistryFileTest, MissingFileIsNotOpenedAndEmptyFileIs) {
    CProductRegINIReader reader;
    EXPECT_FALSE(reader.LoadFile(Widen(env_.path("absent.txt")).c_str()));
    EXPECT_TRUE(reader.LoadFile(WriteRegistryFile("").c_str()));
    LineRecorder recorder;
    reader.IterateEachLine(recorder);
    EXPECT_EQ(recorder.events, (std::vector<std::wstring>{L"begin 0", L"end"}));
}

TEST_F(ProductRegistryFileTest, WalkReportsCountLinesInOrderAndStopsWhenAsked) {
    CProductRegINIReader reader;
    ASSERT_TRUE(reader.LoadFile(WriteRegistryFile("a\nb\nc").c_str()));
    LineRecorder all;
    reader.IterateEachLine(all);
    EXPECT_EQ(all.events, (std::vector<std::wstring>{L"begin 3", L"0:a\n", L"1:b\n", L"2:c", L"end"}));

    LineRecorder stopped(/*stopAfter=*/1);
    reader.IterateEachLine(stopped);
    EXPECT_EQ(stopped.events, (std::vector<std::wstring>{L"begin 3", L"0:a\n", L"1:b\n", L"end"}));
}

TEST_F(ProductRegistryFileTest, LineOverMaxPieceLengthContinuesAsNewLine) {
    const std::string full(CProductRegINIReader::kMaxPieceLength, 'a');
    EXPECT_EQ(StoredLines(full + "bc\nd\n"), (std::vector<std::wstring>{Widen(full), L"bc\n", L"d\n"}));
    // Exactly one piece's worth before the line feed: the line feed alone follows.
    EXPECT_EQ(StoredLines(full + "\n"), (std::vector<std::wstring>{Widen(full), L"\n"}));
}

TEST_F(ProductRegistryFileTest, CarriageReturnOfCrlfIsDropped) {
    EXPECT_EQ(StoredLines("a\r\nb\rc\r\n\r\nd\r\r\n"),
              (std::vector<std::wstring>{L"a\n", L"b\rc\n", L"\n", L"d\r\n"}));
    // The CR fills the piece buffer and its LF waits in the stream: still one line.
    const std::string almostFull(CProductRegINIReader::kMaxPieceLength - 1, 'a');
    EXPECT_EQ(StoredLines(almostFull + "\r\nb\r\n"),
              (std::vector<std::wstring>{Widen(almostFull) + L"\n", L"b\n"}));
}

// A line of `length` characters (line feed included) with its own key.
std::string PaddedLine(int number, int length) {
    std::string line = "K" + std::to_string(number) + "\t";
    return line + std::string(length - line.size() - 1, 'v') + "\n";
}

TEST_F(ProductRegistryFileTest, PieceCrossingTextCapacityEndsTheReading) {
    // Ten lines of 1023 characters count 10 * 1024: exactly the capacity.
    std::string exactFit;
    for (int i = 0; i < 10; ++i) exactFit += PaddedLine(i, 1023);
    Pairs pairs = Parse(exactFit + "Z\tz\n");
    EXPECT_EQ(pairs.size(), 10u);
    EXPECT_EQ(pairs.count(L"K9"), 1u);
    EXPECT_EQ(pairs.count(L"Z"), 0u) << "nothing fits after the capacity is used up";

    // One character more in the first line: the tenth line crosses the limit,
    // and the short line after it, which would fit, is ignored as well.
    std::string crossing = PaddedLine(0, 1024);
    for (int i = 1; i < 10; ++i) crossing += PaddedLine(i, 1023);
    pairs = Parse(crossing + "Z\tz\n");
    EXPECT_EQ(pairs.size(), 9u);
    EXPECT_EQ(pairs.count(L"K8"), 1u);
    EXPECT_EQ(pairs.count(L"K9"), 0u);
    EXPECT_EQ(pairs.count(L"Z"), 0u);
}

// ---- Splitting a line into tokens ---------------------------------------------------

TEST(ProductRegistryTokenTest, SplitsAtRunsOfDelimitersAndLeavesTheLineUnchanged) {
    struct Case {
        const wchar_t* line;
        const wchar_t* delimiters;
        std::vector<std::wstring> tokens;
    };
    const Case cases[] = {
        {L"a\tb", L"\t\n", {L"a", L"b"}},
        {L"\t\ta\t\n\tb\n", L"\t\n", {L"a", L"b"}},
        {L"a b\tc\r", L"\t\n", {L"a b", L"c\r"}},
        {L"", L"\t\n", {}},
        {L"\t\n\t", L"\t\n", {}},
        {L"a,,b\tc", L",", {L"a", L"b\tc"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.line)));
        std::wstring line = c.line;
        const std::wstring original = line;
        TokenRecorder recorder(line.c_str(), c.delimiters);
        LineRecorder().IterateEachToken(recorder);
        EXPECT_EQ(recorder.tokens, c.tokens);
        EXPECT_EQ(line, original);
    }
}

// ---- Key/value pairs --------------------------------------------------------------------

TEST_F(ProductRegistryFileTest, LinesYieldPairsByTheTokenAndQuoteRules) {
    struct Case {
        const char* rule;
        std::string content;
        Pairs expected;
    };
    const Case cases[] = {
        {"consecutive lines", "K1\tV1\nK2\tV2\nK3\tV3\n", {{L"K1", L"V1"}, {L"K2", L"V2"}, {L"K3", L"V3"}}},
        {"last line without line feed", "K\tV", {{L"K", L"V"}}},
        {"space before TAB stays in the key",
         "RegValueDebugLevel \tTraceLevel\n",
         {{L"RegValueDebugLevel ", L"TraceLevel"}}},
        {"spaces are ordinary characters", "Key Name\t Value  \n", {{L"Key Name", L" Value  "}}},
        {"runs of TABs and leading TABs", "\tK\t\t\tV\n", {{L"K", L"V"}}},
        {"tokens after the value ignored", "K\tV\textra\n", {{L"K", L"V"}}},
        {"quoted value", "K\t\"Trace Level\"\n", {{L"K", L"Trace Level"}}},
        {"opening quote only", "K\t\"Trace\n", {{L"K", L"Trace"}}},
        {"closing quote alone is kept", "K\tTrace\"\n", {{L"K", L"Trace\""}}},
        {"inner quotes are kept", "K\t\"a\"b\"\n", {{L"K", L"a\"b"}}},
        {"empty quoted value yields nothing", "K\t\"\"\n", {}},
        {"lone quote yields nothing", "K\t\"\n", {}},
        {"a TAB ends even a quoted value", "K\t\"a\tb\"\n", {{L"K", L"a"}}},
        {"comment line", "#RegValueDebugLevel\tTrace\n", {}},
        {"TAB before the comment mark", "\t#RegValueDebugLevel\tTrace\n", {}},
        {"# elsewhere is ordinary", "K#\t#V\n", {{L"K#", L"#V"}}},
        {"key alone, then a pair", "KeyAlone\nK2\tV2\n", {{L"K2", L"V2"}}},
        {"a value never comes from the next line", "KeyAlone\n\tV\n", {}},
        {"blank lines", "\n\n\t\nK\tV\n\n", {{L"K", L"V"}}},
        {"keys are case-sensitive", "Key\ta\nKEY\tb\n", {{L"Key", L"a"}, {L"KEY", L"b"}}},
        {"last occurrence wins", "K\tfirst\nK\tsecond\nK\n", {{L"K", L"second"}}},
        {"CRLF line ends", "K1\tV1\r\nK2\t\"V2\"\r\n", {{L"K1", L"V1"}, {L"K2", L"V2"}}},
        {"UTF-8 with byte-order mark",
         "\xEF\xBB\xBFSchl\xC3\xBCssel\tN\xC3\xB6rlake\n",
         {{L"Schl\u00FCssel", L"N\u00F6rlake"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        EXPECT_EQ(Parse(c.content), c.expected);
    }
}

TEST_F(ProductRegistryFileTest, QuotedValueIsCutBeforeItsClosingQuoteIsLookedFor) {
    const size_t kMax = CRegLineReaderTokenCB::kMaxQuotedValueLength;
    struct Case {
        std::string value;
        std::wstring expected;
    };
    const Case cases[] = {
        {"\"" + std::string(kMax - 1, 'x') + "\"", std::wstring(kMax - 1, L'x')},
        {"\"" + std::string(kMax, 'x') + "\"", std::wstring(kMax, L'x')},
        {"\"" + std::string(kMax - 2, 'x') + "\"yz", std::wstring(kMax - 2, L'x') + L"\"y"},
        {"\"" + std::string(kMax - 1, 'x') + "\"yz", std::wstring(kMax - 1, L'x')},
        {"\"" + std::string(1500, 'x'), std::wstring(kMax, L'x')},
        {std::string(2000, 'x'), std::wstring(2000, L'x')},  // unquoted: not cut
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.size());
        EXPECT_EQ(Parse("K\t" + c.value + "\n"), (Pairs{{L"K", c.expected}}));
    }
}

// ---- The executable's directory ---------------------------------------------------------

TEST(ProductRegistryDirectoryTest, IsTheExecutablesDirectoryWithTrailingSeparator) {
    const std::string expected = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
    wchar_t buffer[MAX_PATH];
    ASSERT_TRUE(GetProcessDirectory(buffer, MAX_PATH));
    EXPECT_EQ(std::wstring(buffer), Widen(expected));

    wchar_t small[5];
    ASSERT_TRUE(GetProcessDirectory(small, 5));
    EXPECT_EQ(std::wstring(small), Widen(expected.substr(0, 4)));
    EXPECT_FALSE(GetProcessDirectory(small, 0));
}

// ---- LoadProductRegistry, from a process's point of view --------------------------------

// A copy of the probe executable in a private directory, beside which a case
// places its registry files; the probe prints the six names it settled.
class ProductRegistryLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(env_.path("bin/config"));
        std::filesystem::copy_file(PRODUCT_REGISTRY_PROBE, env_.path("bin/probe"));
    }

    // Runs the probe with the given files in place; null leaves a file out.
    std::vector<std::string> LoadedNames(const char* inConfigFolder, const char* besideExecutable) {
        PlaceFile("bin/config/cfg_ProductRegistry.txt", inConfigFolder);
        PlaceFile("bin/cfg_ProductRegistry.txt", besideExecutable);
        std::string output;
        EXPECT_EQ(nltest::RunCommand("'" + env_.path("bin/probe") + "'", &output), 0);
        std::vector<std::string> names;
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) names.push_back(line);
        return names;
    }

    void PlaceFile(const std::string& relative, const char* content) {
        std::filesystem::remove(env_.path(relative));
        if (content) nltest::WriteFile(env_.path(relative), content);
    }

    nltest::TestEnv env_;
};

struct LoadCase {
    const char* rule;
    const char* inConfigFolder;    // null: no such file
    const char* besideExecutable;  // null: no such file
    // Key path, then the HomeDir, DebugLevel, DebugLogCount, DebugModule and
    // LogCriticalInfo value names.
    std::vector<std::string> names;
};

const LoadCase kLoadCases[] = {
    {"no file: all defaults",
     nullptr,
     nullptr,
     {"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion", "HomeDir", "DebugLevel", "DebugLogCount", "DebugModule",
      "LogCriticalInfo"}},
    {"file beside the executable redirects all six",
     nullptr,
     "# redirected for the test bench\n"
     "RegKeyProductCurrentVersion\tSOFTWARE\\Norlake\\Bench\n"
     "RegValueHomeDir\tBenchHome\n"
     "RegValueDebugLevel\t\"Trace Level\"\n"
     "RegValueDebugLogCount\tBackups\n"
     "RegValueDebugModule\tModules\n"
     "RegValueLogCriticalInfo\tCritical\n"
     "UnknownKey\tIgnored\n",
     {"SOFTWARE\\Norlake\\Bench", "BenchHome", "Trace Level", "Backups", "Modules", "Critical"}},
    {"each name on its own; an empty value keeps the default",
     nullptr,
     "RegValueLogCriticalInfo\tCritical\nRegValueDebugModule\t\"\"\n",
     {"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion", "HomeDir", "DebugLevel", "DebugLogCount", "DebugModule",
      "Critical"}},
    {"config/ wins and the other file is not read",
     "RegValueDebugLevel\tFromConfig\n",
     "RegValueDebugLevel\tBeside\nRegValueDebugModule\tBeside\n",
     {"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion", "HomeDir", "FromConfig", "DebugLogCount", "DebugModule",
      "LogCriticalInfo"}},
    {"an empty file in config/ still wins",
     "",
     "RegValueDebugLevel\tBeside\n",
     {"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion", "HomeDir", "DebugLevel", "DebugLogCount", "DebugModule",
      "LogCriticalInfo"}},
    {"a file written on Windows, read under the C locale",
     nullptr,
     "\xEF\xBB\xBFRegKeyProductCurrentVersion\tSOFTWARE\\N\xC3\xB6rlake\\Qu\xC3\xAFllpost\r\n"
     "RegValueDebugLevel\tTrace\r\n",
     {"SOFTWARE\\N\xC3\xB6rlake\\Qu\xC3\xAFllpost", "HomeDir", "Trace", "DebugLogCount", "DebugModule",
      "LogCriticalInfo"}},
};

TEST_F(ProductRegistryLoadTest, FileFoundBesideTheExecutableSetsTheNames) {
    for (const LoadCase& c : kLoadCases) {
        SCOPED_TRACE(c.rule);
        EXPECT_EQ(LoadedNames(c.inConfigFolder, c.besideExecutable), c.names);
    }
}

TEST_F(ProductRegistryLoadTest, NamesAreCutTo259Characters) {
    const std::string longPath = "SOFTWARE\\" + std::string(291, 'k');
    const std::string longName(300, 'n');  // the last buffer: an unbounded copy would run past all six
    const std::vector<std::string> names = LoadedNames(
        nullptr,
        ("RegKeyProductCurrentVersion\t" + longPath + "\nRegValueLogCriticalInfo\t" + longName).c_str());
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names.front(), longPath.substr(0, MAX_PATH - 1));
    EXPECT_EQ(names.back(), longName.substr(0, MAX_PATH - 1));
}

}  // namespace
