// The product registry file: how cfg_ProductRegistry.txt is read, split into
// key/value pairs, and found beside an executable.
#include "ProductRegINIReader.h"

#include "nltest.h"

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

// Undoes the escapes of data/library/product_registry.txt: its own x{N}, N
// times x, then those of every table.
std::string Unescape(std::string text) {
    for (size_t at; (at = text.find('{')) != std::string::npos;) {
        size_t end = text.find('}', at);
        text.replace(at, end - at + 1, std::stoul(text.substr(at + 1, end - at - 1)) - 1, text[at - 1]);
    }
    return nltest::Unescape(text);
}

// Runs a copy of the probe executable in a private directory with the given
// registry files ("-" leaves a file out); the six names it settled, under the
// C locale, separated by tabs.
std::string LoadedNames(const std::string& inConfigFolder, const std::string& besideExecutable) {
    TestEnv env;
    std::filesystem::create_directories(env.path("bin/config"));
    std::filesystem::copy_file(PRODUCT_REGISTRY_PROBE_PATH, env.path("bin/probe"));
    if (inConfigFolder != "-")
        WriteFile(env.path("bin/config/cfg_ProductRegistry.txt"), Unescape(inConfigFolder));
    if (besideExecutable != "-")
        WriteFile(env.path("bin/cfg_ProductRegistry.txt"), Unescape(besideExecutable));
    std::string output;
    EXPECT_EQ(RunCommand("'" + env.path("bin/probe") + "'", &output), 0);
    std::replace(output.begin(), output.end(), '\n', '\t');
    return output.substr(0, output.size() - 1);
}

// Each case of data/library/product_registry.txt (its header says how they read).
TEST(ProductRegistryFileTest, FilesGiveTheirLinesAndPairsAsTheDataSays) {
    EXPECT_FALSE(CProductRegINIReader().LoadFile(L"/nonexistent/cfg_ProductRegistry.txt"));
    std::istringstream lines(ReadFile(NL_TEST_DATA_DIR "/library/product_registry.txt"));
    std::vector<std::pair<std::string, std::string>> cases;  // the case's line, what it expects
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("walk ", 0) == 0 || line.rfind("file ", 0) == 0 || line.rfind("load ", 0) == 0)
            cases.push_back({line, ""});
        if (line.rfind("event ", 0) == 0 || line.rfind("pair ", 0) == 0 || line.rfind("names ", 0) == 0)
            cases.back().second += Unescape(line.substr(line.find(' ') + 1)) + "|";
    }
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line.substr(0, 60));
        std::string seen;
        if (line[0] == 'w') {
            LineRecorder recorder(std::stoi(line.substr(5)));
            Walk(Unescape(line.substr(line.find(' ', 5) + 1)), recorder);
            for (const std::wstring& event : recorder.events) seen += Narrow(event) + "|";
        } else if (line[0] == 'l') {
            size_t tab = line.find('\t');
            seen = LoadedNames(line.substr(5, tab - 5), line.substr(tab + 1)) + "|";
        } else {
            for (const auto& [key, value] : Parse(Unescape(line.substr(5))))
                seen += Narrow(key + L"\t" + value) + "|";
        }
        EXPECT_EQ(seen, expected);
    }
}

// ---- The executable's directory ---------------------------------------------------------

}  // namespace
