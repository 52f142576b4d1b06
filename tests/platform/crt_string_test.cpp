// The CRT's string, path and stream functions: "C"-locale case folding,
// _wsplitpath, and _wfopen's text and Unicode modes.
#include "nltest.h"

namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

// ---- case folding -------------------------------------------------------------

// Both sides are lower-cased first, so 91-96 ("[\]^_`") sort before letters;
// only ASCII letters fold, whatever the process's locale: a UTF-8 locale would
// fold Ä with glibc's towlower, the CRT functions do not.
TEST(CaseFolding, FoldsAsTheCLocaleWhateverTheProcessLocale) {
    const std::vector<nltest::Row> rows = nltest::ReadRows("crt/strings.txt");
    for (const char* locale : {"C.UTF-8", "C"}) {
        ASSERT_NE(nullptr, setlocale(LC_ALL, locale));
        SCOPED_TRACE(locale);
        for (const nltest::Row& row : rows) {
            if (row[0] != "icmp") continue;
            std::wstring a = nltest::Wide(row[1]), b = nltest::Wide(row[2]);
            EXPECT_EQ(std::stoi(row[3]), Sign(_wcsicmp(a.c_str(), b.c_str()))) << row[1] << " vs " << row[2];
        }
        wchar_t text[] = L"MiXeD_[Path]\\ÄÖ";
        EXPECT_EQ(text, _wcslwr(text));
        EXPECT_STREQ(L"mixed_[path]\\ÄÖ", text);
    }
}

TEST(CaseFolding, CountedCompareStopsAtCountAndNullArgumentsAreInvalid) {
    EXPECT_EQ(0, _wcsnicmp(L"abcX", L"ABCy", 3));
    EXPECT_EQ(-1, Sign(_wcsnicmp(L"abcX", L"ABCy", 4)));
    errno = 0;
    EXPECT_EQ(_NLSCMPERROR, _wcsicmp(nullptr, L"a"));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(nullptr, _wcslwr(nullptr));
}

// ---- _wsplitpath ----------------------------------------------------------------

TEST(SplitPath, SplitsAsWindows) {
    for (const nltest::Row& row : nltest::ReadRows("crt/strings.txt")) {
        if (row[0] != "split") continue;
        wchar_t parts[4][_MAX_DIR];
        _wsplitpath(nltest::Wide(row[1]).c_str(), parts[0], parts[1], parts[2], parts[3]);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(nltest::Wide(row[i + 2]), parts[i]) << row[1] << ", part " << i;
    }
}

// Components longer than their _MAX_* buffers are cut and terminated; nothing
// is written past the buffer; a null output is skipped.
TEST(SplitPath, CutsOverlongComponents) {
    const std::wstring longName(300, L'n');
    const std::wstring path =
        L"/" + std::wstring(300, L'd') + L"/" + longName + L"." + std::wstring(300, L'e');
    wchar_t dir[_MAX_DIR + 4] = {}, fname[_MAX_FNAME + 4] = {}, ext[_MAX_EXT + 4] = {};
    for (wchar_t* buffer : {dir, fname, ext}) std::fill(buffer, buffer + _MAX_DIR + 4, L'#');
    _wsplitpath(path.c_str(), nullptr, dir, fname, ext);
    EXPECT_EQ(L"/" + std::wstring(_MAX_DIR - 2, L'd'), dir);
    EXPECT_EQ(std::wstring(_MAX_FNAME - 1, L'n'), fname);
    EXPECT_EQ(L"." + std::wstring(_MAX_EXT - 2, L'e'), ext);
    for (const wchar_t* buffer : {dir, fname, ext}) EXPECT_EQ(L'#', buffer[_MAX_DIR]);
}

// ---- _wfopen ---------------------------------------------------------------------

wchar_t* ReadLine(wchar_t* line, int size, FILE* file) { return fgetws(line, size, file); }
char* ReadLine(char* line, int size, FILE* file) { return fgets(line, size, file); }

// Runs in the "C" locale, in which the process starts: the streams must not
// depend on the process's locale.
class WideOpen : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_STREQ("C", setlocale(LC_ALL, "C")); }

    FILE* Open(const std::string& content, const wchar_t* mode) {
        nltest::WriteFile(narrowPath_, content);
        return _wfopen(path_.c_str(), mode);
    }

    // Every line the stream hands over until end of file, one after the other.
    template <typename CharT>
    static std::basic_string<CharT> ReadAll(FILE* file) {
        std::basic_string<CharT> text;
        if (!file) {
            ADD_FAILURE() << "not opened, errno " << errno;
            return text;
        }
        CharT line[256];
        while (ReadLine(line, 256, file)) text += line;
        EXPECT_FALSE(ferror(file));
        fclose(file);
        return text;
    }

    nltest::TestEnv env_;
    const std::string narrowPath_ = env_.path("file.txt");
    const std::wstring path_{narrowPath_.begin(), narrowPath_.end()};
};

// The "read" rows of data/crt/strings.txt.
TEST_F(WideOpen, UnicodeModeDecodesUtf8AndUtf16) {
    for (const nltest::Row& row : nltest::ReadRows("crt/strings.txt")) {
        if (row[0] != "read") continue;
        EXPECT_EQ(nltest::Wide(row[3]), ReadAll<wchar_t>(Open(row[1], nltest::Wide(row[2]).c_str())))
            << row[2];
    }
}

// Plain text mode drops the CR of CRLF but leaves the bytes, BOM included, to
// the locale; binary mode leaves everything.
TEST_F(WideOpen, TextModeDropsCarriageReturnsBinaryModeKeepsThem) {
    const std::string content = "\xEF\xBB\xBFkey\tvalue\r\nlone\rcr\r\n";
    EXPECT_EQ("\xEF\xBB\xBFkey\tvalue\nlone\rcr\n", ReadAll<char>(Open(content, L"r")));
    EXPECT_EQ(content, ReadAll<char>(Open(content, L"rb")));
}

// A file named by wide characters is the one named by their UTF-8 bytes. A
// Unicode-mode stream writes UTF-8 and starts only an empty file with a BOM;
// _flushall gets pending output into the file.
TEST_F(WideOpen, UnicodeModeWritesUtf8WithBomOnlyToEmptyFiles) {
    const std::wstring path = std::wstring(env_.dir().begin(), env_.dir().end()) + L"/naïve €.txt";
    FILE* file = _wfopen(path.c_str(), L"w, ccs=UTF-8");
    ASSERT_NE(nullptr, file);
    fputws(L"é€\n", file);
    fclose(file);
    file = _wfopen(path.c_str(), L"a, ccs=UTF-8");
    ASSERT_NE(nullptr, file);
    fputws(L"😀", file);
    _flushall();
    EXPECT_EQ("\xEF\xBB\xBF\xC3\xA9\xE2\x82\xAC\n\xF0\x9F\x98\x80",
              nltest::ReadFile(env_.path("naïve €.txt")));
    fclose(file);
}

TEST_F(WideOpen, RejectsInvalidArguments) {
    nltest::WriteFile(narrowPath_, "x");
    for (const wchar_t* mode : {L"q", L"rz", L"r, ccs=latin1", L"rb, ccs=UTF-8", L"w, ccs=UTF-16LE"}) {
        errno = 0;
        EXPECT_EQ(nullptr, _wfopen(path_.c_str(), mode)) << mode;
        EXPECT_EQ(EINVAL, errno) << mode;
    }
    errno = 0;
    EXPECT_EQ(nullptr, _wfopen(nullptr, L"r"));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(nullptr, _wfopen((path_ + L".missing").c_str(), L"r"));
    EXPECT_EQ(ENOENT, errno);
}

}  // namespace
