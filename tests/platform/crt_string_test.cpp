// The CRT's string, path and stream functions: "C"-locale case folding,
// _wsplitpath, and _wfopen's text and Unicode modes.
#include "nltest.h"

namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

// ---- case folding -------------------------------------------------------------

TEST(CaseFolding, CountedCompareStopsAtCountAndNullArgumentsAreInvalid) {
    EXPECT_EQ(0, _wcsnicmp(L"abcX", L"ABCy", 3));
    EXPECT_EQ(-1, Sign(_wcsnicmp(L"abcX", L"ABCy", 4)));
    errno = 0;
    EXPECT_EQ(_NLSCMPERROR, _wcsicmp(nullptr, L"a"));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(nullptr, _wcslwr(nullptr));
}

// ---- _wsplitpath ----------------------------------------------------------------

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
    static std::wstring ReadAll(FILE* file) {
        std::wstring text;
        if (!file) {
            ADD_FAILURE() << "not opened, errno " << errno;
            return text;
        }
        wchar_t line[256];
        while (fgetws(line, 256, file)) text += line;
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
        EXPECT_EQ(nltest::Wide(row[3]), ReadAll(Open(row[1], nltest::Wide(row[2]).c_str()))) << row[2];
    }
}

}  // namespace
