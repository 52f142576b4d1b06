// The product registry file: how cfg_ProductRegistry.txt is read, split into
// key/value pairs, and found beside an executable.
#include "ProductRegINIReader.h"

#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "test_env.h"

using namespace dbg_internal;

namespace {

using namespace nltest;

using Pairs = std::map<std::wstring, std::wstring>;
using Lines = std::vector<std::wstring>;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

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

// Undoes the escapes of data/library/product_registry.txt.
std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{') {
            size_t end = text.find('}', i);
            out.append(std::stoul(text.substr(i + 1, end - i - 1)) - 1, out.back());
            i = end;
        } else if (text[i] == '\\') {
            char c = text[++i];
            out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Each case of data/library/product_registry.txt (its header says how they read).
TEST(ProductRegistryFileTest, FilesGiveTheirLinesAndPairsAsTheDataSays) {
    EXPECT_FALSE(CProductRegINIReader().LoadFile(L"/nonexistent/cfg_ProductRegistry.txt"));
    std::istringstream lines(ReadFile(DATA_DIR "/product_registry.txt"));
    std::vector<std::pair<std::string, std::string>> cases;  // the case's line, what it expects
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("walk ", 0) == 0 || line.rfind("file ", 0) == 0) cases.push_back({line, ""});
        if (line.rfind("event ", 0) == 0 || line.rfind("pair ", 0) == 0)
            cases.back().second += Unescape(line.substr(line.find(' ') + 1)) + "|";
    }
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line.substr(0, 60));
        std::string seen;
        if (line[0] == 'w') {
            LineRecorder recorder(std::stoi(line.substr(5)));
            Walk(Unescape(line.substr(line.find(' ', 5) + 1)), recorder);
            for (const std::wstring& event : recorder.events) seen += Narrow(event) + "|";
        } else {
            for (const auto& [key, value] : Parse(Unescape(line.substr(5))))
                seen += Narrow(key + L"\t" + value) + "|";
        }
        EXPECT_EQ(seen, expected);
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
