// The CRT's string, path and stream functions: "C"-locale case folding,
// _wsplitpath, and _wfopen's text and Unicode modes.
#include <gtest/gtest.h>
#include <windows.h>

#include <errno.h>
#include <locale.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_env.h"

namespace {

// Runs a case under a given locale and restores the previous one.
class LocaleScope {
  public:
    explicit LocaleScope(const char* name) : saved_(setlocale(LC_ALL, nullptr)) {
        applied_ = setlocale(LC_ALL, name) != nullptr;
    }
    ~LocaleScope() { setlocale(LC_ALL, saved_.c_str()); }
    bool applied() const { return applied_; }

  private:
    std::string saved_;
    bool applied_;
};

int Sign(int value) { return (value > 0) - (value < 0); }

// ---- case folding -------------------------------------------------------------

struct FoldCase {
    const wchar_t* wideA;
    const wchar_t* wideB;
    const char* narrowA;
    const char* narrowB;
    int sign;
};

// Both sides are lower-cased first, so 91-96 ("[\]^_`") sort before letters;
// only ASCII letters fold.
const FoldCase kFoldCases[] = {
    {L"abc", L"ABC", "abc", "ABC", 0}, {L"abc", L"ABD", "abc", "ABD", -1},
    {L"ABD", L"abc", "ABD", "abc", 1}, {L"_", L"A", "_", "A", -1},
    {L"[", L"a", "[", "a", -1},        {L"`", L"B", "`", "B", -1},
    {L"Z", L"_", "Z", "_", 1},         {L"@", L"a", "@", "a", -1},
    {L"ab", L"ABC", "ab", "ABC", -1},  {L"", L"", "", "", 0},
    {L"ä", L"Ä", "ä", "Ä", 1},
};

void ExpectFoldCases() {
    for (const FoldCase& c : kFoldCases) {
        EXPECT_EQ(c.sign, Sign(_wcsicmp(c.wideA, c.wideB))) << c.narrowA << " vs " << c.narrowB;
        EXPECT_EQ(c.sign, Sign(_stricmp(c.narrowA, c.narrowB))) << c.narrowA << " vs " << c.narrowB;
    }
}

TEST(CaseFolding, ComparesAsCLocaleLowerCase) { ExpectFoldCases(); }

// A UTF-8 locale would fold Ä with glibc's towlower; the CRT functions do not.
TEST(CaseFolding, IgnoresTheProcessLocale) {
    LocaleScope utf8("C.UTF-8");
    if (!utf8.applied()) GTEST_SKIP() << "no C.UTF-8 locale";
    ExpectFoldCases();
    wchar_t text[] = L"ÄB";
    EXPECT_STREQ(L"Äb", _wcslwr(text));
}

TEST(CaseFolding, CountedCompareStopsAtCount) {
    EXPECT_EQ(0, _wcsnicmp(L"abcX", L"ABCy", 3));
    EXPECT_EQ(-1, Sign(_wcsnicmp(L"abcX", L"ABCy", 4)));
    EXPECT_EQ(0, _wcsnicmp(L"a", L"b", 0));
}

TEST(CaseFolding, LowerCasesInPlace) {
    wchar_t text[] = L"MiXeD_[Path]\\ÄÖ";
    EXPECT_EQ(text, _wcslwr(text));
    EXPECT_STREQ(L"mixed_[path]\\ÄÖ", text);
}

TEST(CaseFolding, NullArgumentsAreInvalid) {
    errno = 0;
    EXPECT_EQ(_NLSCMPERROR, _wcsicmp(nullptr, L"a"));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(nullptr, _wcslwr(nullptr));
}

// ---- _wsplitpath ----------------------------------------------------------------

struct SplitCase {
    const wchar_t* path;
    const wchar_t* drive;
    const wchar_t* dir;
    const wchar_t* fname;
    const wchar_t* ext;
};

const SplitCase kSplitCases[] = {
    {L"c:\\sample\\crt\\makepath.c", L"c:", L"\\sample\\crt\\", L"makepath", L".c"},
    {L"/opt/qp-1.2/bin/worker", L"", L"/opt/qp-1.2/bin/", L"worker", L""},
    {L"a.tar.gz", L"", L"", L"a.tar", L".gz"},
    {L".profile", L"", L"", L"", L".profile"},
    {L"C:\\tools.new\\worker", L"C:", L"\\tools.new\\", L"worker", L""},
    {L"C:/mixed\\sep/file.txt", L"C:", L"/mixed\\sep/", L"file", L".txt"},
    {L"1:rel.txt", L"1:", L"", L"rel", L".txt"},
    {L"x:", L"x:", L"", L"", L""},
    {L"dir/", L"", L"dir/", L"", L""},
    {L"name.", L"", L"", L"name", L"."},
    {L"", L"", L"", L"", L""},
};

TEST(SplitPath, SplitsAsWindows) {
    for (const SplitCase& c : kSplitCases) {
        wchar_t drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
        _wsplitpath(c.path, drive, dir, fname, ext);
        EXPECT_STREQ(c.drive, drive) << c.path;
        EXPECT_STREQ(c.dir, dir) << c.path;
        EXPECT_STREQ(c.fname, fname) << c.path;
        EXPECT_STREQ(c.ext, ext) << c.path;
    }
}

TEST(SplitPath, NullOutputsAreSkipped) {
    wchar_t fname[_MAX_FNAME];
    _wsplitpath(L"C:\\Apps\\Worker.exe", nullptr, nullptr, fname, nullptr);
    EXPECT_STREQ(L"Worker", fname);
}

// Components longer than their _MAX_* buffers are cut and terminated; nothing
// is written past the buffer.
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

class WideOpen : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(locale_.applied()); }

    std::wstring Write(const std::string& content) {
        nltest::WriteFile(env_.path("file.txt"), content);
        return WidePath();
    }
    std::wstring WidePath() const {
        std::string narrow = env_.path("file.txt");
        return std::wstring(narrow.begin(), narrow.end());
    }
    std::string Content() const { return nltest::ReadFile(env_.path("file.txt")); }

    // Every line fgetws hands over, until end of file.
    static std::vector<std::wstring> Lines(FILE* file) {
        std::vector<std::wstring> lines;
        if (!file) {
            ADD_FAILURE() << "not opened, errno " << errno;
            return lines;
        }
        wchar_t line[256];
        while (fgetws(line, 256, file)) lines.push_back(line);
        EXPECT_FALSE(ferror(file));
        fclose(file);
        return lines;
    }

    nltest::TestEnv env_;
    LocaleScope locale_{"C"};
};

const char kUtf8WithBom[] = "\xEF\xBB\xBFh\xC3\xA9llo \xE2\x82\xAC\r\n\xF0\x9F\x98\x80 two\r\nlone\rcr\n";
const std::vector<std::wstring> kUtf8Lines = {L"héllo €\n", L"😀 two\n", L"lone\rcr\n"};

TEST_F(WideOpen, UnicodeModeReadsUtf8WithBomAndCrlf) {
    for (const wchar_t* mode : {L"r, ccs=UTF-8", L"r,ccs=utf-8", L"rt , CCS = UTF-8 ", L"r, ccs=UNICODE"}) {
        FILE* file = _wfopen(Write(kUtf8WithBom).c_str(), mode);
        ASSERT_NE(nullptr, file) << mode;
        EXPECT_EQ(kUtf8Lines, Lines(file)) << mode;
    }
}

TEST_F(WideOpen, UnicodeModeReadsUtf16) {
    const std::string withBom("\xFF\xFEh\0\xE9\0\x3D\xD8\x00\xDE\r\0\n\0", 14);
    EXPECT_EQ(std::vector<std::wstring>{L"hé😀\n"}, Lines(_wfopen(Write(withBom).c_str(), L"r, ccs=UTF-8")));
    const std::string withoutBom("o\0k\0\n\0", 6);
    EXPECT_EQ(std::vector<std::wstring>{L"ok\n"},
              Lines(_wfopen(Write(withoutBom).c_str(), L"r, ccs=UNICODE")));
}

// Plain text mode drops the CR of CRLF but leaves the bytes, BOM included, to
// the locale; binary mode leaves everything.
TEST_F(WideOpen, TextModeDropsCarriageReturnsBinaryModeKeepsThem) {
    const std::string content = "\xEF\xBB\xBFkey\tvalue\r\nnext\r\n";
    char line[64];
    FILE* text = _wfopen(Write(content).c_str(), L"r");
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ("\xEF\xBB\xBFkey\tvalue\n", fgets(line, sizeof line, text));
    fclose(text);
    EXPECT_EQ(std::vector<std::wstring>{L"next\n"}, Lines(_wfopen(Write("next\r\n").c_str(), L"rt")));

    FILE* binary = _wfopen(WidePath().c_str(), L"rb");
    ASSERT_NE(nullptr, binary);
    EXPECT_STREQ("next\r\n", fgets(line, sizeof line, binary));
    fclose(binary);
}

TEST_F(WideOpen, UnicodeModeWritesBomOnlyToEmptyFiles) {
    FILE* file = _wfopen(WidePath().c_str(), L"w, ccs=UTF-8");
    ASSERT_NE(nullptr, file);
    fputws(L"é€\n", file);
    fclose(file);
    EXPECT_EQ("\xEF\xBB\xBF\xC3\xA9\xE2\x82\xAC\n", Content());

    file = _wfopen(WidePath().c_str(), L"a, ccs=UTF-8");
    fputws(L"😀", file);
    fclose(file);
    EXPECT_EQ("\xEF\xBB\xBF\xC3\xA9\xE2\x82\xAC\n\xF0\x9F\x98\x80", Content());
}

TEST_F(WideOpen, NamesTheFileByItsUtf8Bytes) {
    const std::string narrow = env_.path("naïve €.txt");
    FILE* file =
        _wfopen((std::wstring(env_.dir().begin(), env_.dir().end()) + L"/naïve €.txt").c_str(), L"w");
    ASSERT_NE(nullptr, file);
    fclose(file);
    EXPECT_TRUE(nltest::FileExists(narrow));
}

TEST_F(WideOpen, RejectsInvalidArguments) {
    const std::wstring path = Write("x");
    for (const wchar_t* mode :
         {L"", L"q", L"rz", L"r, ccs=latin1", L"r, foo=UTF-8", L"rb, ccs=UTF-8", L"w, ccs=UTF-16LE"}) {
        errno = 0;
        EXPECT_EQ(nullptr, _wfopen(path.c_str(), mode)) << mode;
        EXPECT_EQ(EINVAL, errno) << mode;
    }
    errno = 0;
    EXPECT_EQ(nullptr, _wfopen(nullptr, L"r"));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(nullptr, _wfopen((path + L".missing").c_str(), L"r"));
    EXPECT_EQ(ENOENT, errno);
}

TEST_F(WideOpen, FlushAllWritesPendingOutput) {
    FILE* file = _wfopen(WidePath().c_str(), L"w");
    ASSERT_NE(nullptr, file);
    fputs("pending", file);
    _flushall();
    EXPECT_EQ("pending", Content());
    fclose(file);
}

}  // namespace
