// The product registry file: how cfg_ProductRegistry.txt is read, split into
// key/value pairs, and found beside an executable.
#include "ProductRegINIReader.h"

#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "test_env.h"

namespace {

using namespace nltest;

using Pairs = std::map<std::wstring, std::wstring>;
using Lines = std::vector<std::wstring>;

// Records what a line walk hands over.
class LineRecorder : public CProductRegINIReader::CIterateEachLineCallback {
  public:
    explicit LineRecorder(int stopAfter = -1) : stopAfter_(stopAfter) {}
    void OnBegin(int lineCount) override { events.push_back(L"begin " + std::to_wstring(lineCount)); }
    void OnEnd() override { events.push_back(L"end"); }
    bool OnLine(int index, const wchar_t* line) override {
        events.push_back(std::to_wstring(index) + L":" + line);
        return index != stopAfter_;
    }

    Lines events;

  private:
    int stopAfter_;
};

// Loads content as the registry file and walks its lines with `lines`.
void Walk(const std::string& content, CProductRegINIReader::CIterateEachLineCallback& lines) {
    TestEnv env;
    WriteFile(env.path("cfg_ProductRegistry.txt"), content);
    CProductRegINIReader reader;
    EXPECT_TRUE(reader.LoadFile(Widen(env.path("cfg_ProductRegistry.txt")).c_str()));
    reader.IterateEachLine(lines);
}

Pairs Parse(const std::string& content) {
    CRegLineReaderCB lines;
    Walk(content, lines);
    return lines.GetValues();
}

// ---- Reading the file into lines -------------------------------------------------

TEST(ProductRegistryFileTest, WalkHandsOverCountAndPiecesInOrderUntilStopped) {
    EXPECT_FALSE(CProductRegINIReader().LoadFile(L"/nonexistent/cfg_ProductRegistry.txt"));
    const std::string full(CProductRegINIReader::kMaxPieceLength, 'a');
    const std::string almostFull(CProductRegINIReader::kMaxPieceLength - 1, 'a');
    struct Case {
        std::string content;
        int stopAfter;
        Lines events;
    };
    const Case cases[] = {
        {"a\nb\nc", -1, {L"begin 3", L"0:a\n", L"1:b\n", L"2:c", L"end"}},
        {"a\nb\nc", 1, {L"begin 3", L"0:a\n", L"1:b\n", L"end"}},
        // A longer line continues as a new line.
        {full + "bc\nd\n", -1, {L"begin 3", L"0:" + Widen(full), L"1:bc\n", L"2:d\n", L"end"}},
        // The CR of a CRLF is dropped, even when it fills the piece and its LF waits in the stream.
        {almostFull + "\r\nb\r\n", -1, {L"begin 2", L"0:" + Widen(almostFull) + L"\n", L"1:b\n", L"end"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.size());
        LineRecorder recorder(c.stopAfter);
        Walk(c.content, recorder);
        EXPECT_EQ(recorder.events, c.events);
    }
}

// A line of `length` characters (line feed included) with its own key.
std::string PaddedLine(int number, int length) {
    std::string line = "K" + std::to_string(number) + "\t";
    return line + std::string(length - line.size() - 1, 'v') + "\n";
}

TEST(ProductRegistryFileTest, PieceCrossingTextCapacityEndsTheReading) {
    // Ten lines of 1023 characters count 10 * 1024: exactly the capacity. With
    // one character more in the first, the tenth crosses the limit, and the
    // short line after it, which would still fit, is ignored as well.
    for (int extra : {0, 1}) {
        SCOPED_TRACE(extra);
        std::string content = PaddedLine(0, 1023 + extra);
        for (int i = 1; i < 10; ++i) content += PaddedLine(i, 1023);
        const Pairs pairs = Parse(content + "Z\tz\n");
        EXPECT_EQ(pairs.size(), extra ? 9u : 10u);
        EXPECT_EQ(pairs.count(L"K9"), extra ? 0u : 1u);
        EXPECT_EQ(pairs.count(L"Z"), 0u);
    }
}

// ---- Key/value pairs --------------------------------------------------------------------

TEST(ProductRegistryFileTest, LinesYieldPairsByTheTokenAndQuoteRules) {
    const size_t kMax = CRegLineReaderTokenCB::kMaxQuotedValueLength;
    struct Case {
        std::string content;
        Pairs expected;
    };
    const Case cases[] = {
        // Consecutive lines, the last without a line feed.
        {"K1\tV1\nK2\tV2\nK3\tV3", {{L"K1", L"V1"}, {L"K2", L"V2"}, {L"K3", L"V3"}}},
        // Spaces are ordinary characters, also right before the TAB.
        {"RegValueDebugLevel \t Trace Level \n", {{L"RegValueDebugLevel ", L" Trace Level "}}},
        // Leading TABs and runs of TABs; tokens after the value are ignored.
        {"\tK\t\t\tV\t\textra\n", {{L"K", L"V"}}},
        // Quotes on both sides, the opening one only, a closing one alone, inner ones.
        {"A\t\"Trace Level\"\nB\t\"Trace\nC\tTrace\"\nD\t\"a\"b\"\n",
         {{L"A", L"Trace Level"}, {L"B", L"Trace"}, {L"C", L"Trace\""}, {L"D", L"a\"b"}}},
        // An empty quoted value and a lone quote yield nothing; a TAB ends even a quoted value.
        {"K\t\"\"\nL\t\"\nM\t\"a\tb\"\n", {{L"M", L"a"}}},
        // Comment lines, also after a TAB; a # elsewhere is ordinary.
        {"#RegValueDebugLevel\tTrace\n\t#RegValueDebugLevel\tTrace\nK#\t#V\n", {{L"K#", L"#V"}}},
        // A key alone yields nothing and never takes the next line's value; blank lines are skipped.
        {"KeyAlone\nK2\tV2\n\n\t\nLoneKey\n\tV\n", {{L"K2", L"V2"}}},
        // Keys are case-sensitive, and the last occurrence of one wins.
        {"Key\ta\nKEY\tb\nK\tfirst\nK\tsecond\nK\n", {{L"Key", L"a"}, {L"KEY", L"b"}, {L"K", L"second"}}},
        // A quoted value is cut to 1023 characters before its closing quote is
        // looked for; an unquoted one is not cut.
        {"K\t\"" + std::string(kMax - 2, 'x') + "\"yz\nL\t\"" + std::string(kMax - 1, 'x') + "\"yz\nM\t" +
             std::string(2000, 'x') + "\n",
         {{L"K", std::wstring(kMax - 2, L'x') + L"\"y"},
          {L"L", std::wstring(kMax - 1, L'x')},
          {L"M", std::wstring(2000, L'x')}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.content.substr(0, 60)));
        EXPECT_EQ(Parse(c.content), c.expected);
    }
}

// ---- The executable's directory ---------------------------------------------------------

TEST(ProductRegistryDirectoryTest, IsTheExecutablesDirectoryWithTrailingSeparator) {
    const std::string expected = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
    wchar_t buffer[MAX_PATH];
    ASSERT_TRUE(GetProcessDirectory(buffer, MAX_PATH));
    EXPECT_EQ(std::wstring(buffer), Widen(expected));
    ASSERT_TRUE(GetProcessDirectory(buffer, 5));
    EXPECT_EQ(std::wstring(buffer), Widen(expected.substr(0, 4)));
    EXPECT_FALSE(GetProcessDirectory(buffer, 0));
}

// ---- LoadProductRegistry, from a process's point of view --------------------------------

// Runs a copy of the probe executable in a private directory with the given
// registry files (null leaves a file out); the probe prints the six names it
// settled, under the C locale.
std::vector<std::string> LoadedNames(const char* inConfigFolder, const char* besideExecutable) {
    TestEnv env;
    std::filesystem::create_directories(env.path("bin/config"));
    std::filesystem::copy_file(PRODUCT_REGISTRY_PROBE, env.path("bin/probe"));
    if (inConfigFolder) WriteFile(env.path("bin/config/cfg_ProductRegistry.txt"), inConfigFolder);
    if (besideExecutable) WriteFile(env.path("bin/cfg_ProductRegistry.txt"), besideExecutable);
    std::string output;
    EXPECT_EQ(RunCommand("'" + env.path("bin/probe") + "'", &output), 0);
    std::vector<std::string> names;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) names.push_back(line);
    return names;
}

// Key path, then the HomeDir, DebugLevel, DebugLogCount, DebugModule and
// LogCriticalInfo value names: the defaults, with the given ones replaced.
std::vector<std::string> Names(std::map<size_t, std::string> replaced = {}) {
    std::vector<std::string> names = {"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion",
                                      "HomeDir",
                                      "DebugLevel",
                                      "DebugLogCount",
                                      "DebugModule",
                                      "LogCriticalInfo"};
    for (const auto& [index, name] : replaced) names[index] = name;
    return names;
}

TEST(ProductRegistryLoadTest, FileFoundBesideTheExecutableSetsTheNames) {
    // The last buffer is cut too: an unbounded copy would run past all six.
    const std::string longPath = "SOFTWARE\\" + std::string(291, 'k'), longName(300, 'n');
    const std::string overlong =
        "RegKeyProductCurrentVersion\t" + longPath + "\nRegValueLogCriticalInfo\t" + longName;
    struct Case {
        const char* rule;
        const char* inConfigFolder;    // null: no such file
        const char* besideExecutable;  // null: no such file
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"no file: all defaults", nullptr, nullptr, Names()},
        {"file beside the executable redirects all six",
         nullptr,
         "# redirected for the test bench\nRegKeyProductCurrentVersion\tSOFTWARE\\Norlake\\Bench\n"
         "RegValueHomeDir\tBenchHome\nRegValueDebugLevel\t\"Trace Level\"\nRegValueDebugLogCount\tBackups\n"
         "RegValueDebugModule\tModules\nRegValueLogCriticalInfo\tCritical\nUnknownKey\tIgnored\n",
         {"SOFTWARE\\Norlake\\Bench", "BenchHome", "Trace Level", "Backups", "Modules", "Critical"}},
        {"config/ wins and the other file is not read", "RegValueDebugLevel\tFromConfig\n",
         "RegValueDebugLevel\tBeside\nRegValueDebugModule\tBeside\n", Names({{2, "FromConfig"}})},
        {"an empty file in config/ still wins", "", "RegValueDebugLevel\tBeside\n", Names()},
        {"a UTF-8 file with BOM and CRLF, read under the C locale", nullptr,
         "\xEF\xBB\xBFRegKeyProductCurrentVersion\tSOFTWARE\\N\xC3\xB6rlake\\Qu\xC3\xAFllpost\r\n"
         "RegValueDebugLevel\t\"Trace\"\r\n",
         Names({{0, "SOFTWARE\\N\xC3\xB6rlake\\Qu\xC3\xAFllpost"}, {2, "Trace"}})},
        {"names are cut to 259 characters", nullptr, overlong.c_str(),
         Names({{0, longPath.substr(0, MAX_PATH - 1)}, {5, longName.substr(0, MAX_PATH - 1)}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        EXPECT_EQ(LoadedNames(c.inConfigFolder, c.besideExecutable), c.names);
    }
}

}  // namespace
