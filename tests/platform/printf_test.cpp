// Counted formatting: the Microsoft conventions in both widths, the legacy
// truncation contract, and text crossing widths as UTF-8 in the "C" locale.
#include <gtest/gtest.h>
#include <windows.h>

#include <errno.h>
#include <limits.h>
#include <locale.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Narrow(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return length < 0 ? "<overflow>" : std::string(buffer, length);
}

std::wstring Wide(const wchar_t* format, ...) {
    wchar_t buffer[1024];
    va_list args;
    va_start(args, format);
    int length = _vsnwprintf(buffer, 1024, format, args);
    va_end(args);
    return length < 0 ? L"<overflow>" : std::wstring(buffer, length);
}

// Each row formats at construction; the format is kept for the failure message.
template <typename String>
struct Row {
    String expected;
    String actual;
};
#define NARROW_ROW(expected, ...) \
    Row<std::string> { expected, Narrow(__VA_ARGS__) }
#define WIDE_ROW(expected, ...) \
    Row<std::wstring> { expected, Wide(__VA_ARGS__) }

template <typename String>
void ExpectRows(const std::vector<Row<String>>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].expected, rows[i].actual) << "row " << i;
}

void* const kPointer57 = reinterpret_cast<void*>(57);

TEST(FormatConventions, NarrowIntegers) {
    ExpectRows<std::string>({
        NARROW_ROW("42|-42", "%d|%i", 42, -42),
        NARROW_ROW("   42|42   |00042|-0042", "%5d|%-5d|%05d|%05d", 42, 42, 42, -42),
        NARROW_ROW("+42| 42|+42|  00042|", "%+d|% d|%+ d|%7.5d|%.0d", 42, 42, 42, 42, 0),
        NARROW_ROW("4294967295", "%u", -1),
        NARROW_ROW("ff|FF|0xff|0XFF|0", "%x|%X|%#x|%#X|%#x", 255, 255, 255, 255, 0),
        NARROW_ROW("17|017|0", "%o|%#o|%#o", 15, 15, 0),
        NARROW_ROW("-1|-1|255", "%hd|%hhd|%hhu", 65535, 255, 511),
        NARROW_ROW("9223372036854775807", "%ld", LONG_MAX),
        NARROW_ROW("-3|123|-7|-9", "%lld|%zu|%td|%jd", -3LL, size_t{123}, ptrdiff_t{-7}, intmax_t{-9}),
        NARROW_ROW("-8589934591", "%I64d", -8589934591LL),
        NARROW_ROW("18446744073709551615|4294967295|-1", "%I64u|%I32u|%I32d", ~0ULL, 0xffffffffu, -1),
        NARROW_ROW("ffffffffffffffff|-5", "%Ix|%Id", ~size_t{0}, ptrdiff_t{-5}),
        NARROW_ROW(" +00000100", "%+10.8I64d", 100LL),
        NARROW_ROW(" 0x00ffffffffffffff9c", "%#+21.18I64x", -100LL),
        NARROW_ROW("0001777777777777777777634", "%#.25I64o", -100LL),
        NARROW_ROW("+00100  ", "%#-+ 08.5I64d", 100LL),
        NARROW_ROW("   42|42   |", "%*d|%*d|", 5, 42, -5, 42),
        NARROW_ROW("42|100%", "%.*d|%d%%", -3, 42, 100),
    });
}

TEST(FormatConventions, NarrowPointersAndFloats) {
    ExpectRows<std::string>({
        NARROW_ROW("0000000000000039|0000000000000000", "%p|%p", kPointer57, nullptr),
        NARROW_ROW("  0X0000000000000039|0X0000000000000039  |", "%#020p|%#-020p|", kPointer57, kPointer57),
        NARROW_ROW("3.141593|  3.14|+1.0", "%f|%6.2f|%+.1f", 3.14159265, 3.14159, 1.0),
        NARROW_ROW("1.500000e+00|1.5E+10|0.0001", "%e|%.1E|%g", 1.5, 1.5e10, 0.0001),
        NARROW_ROW("2.50", "%.2Lf", 2.5L),
    });
}

TEST(FormatConventions, NarrowTextTakesNarrowUnlessToldOtherwise) {
    ExpectRows<std::string>({
        NARROW_ROW("foo|fo|0foo|foo  |", "%s|%.2s|%04s|%*s|", "foo", "foo", "foo", -5, "foo"),
        NARROW_ROW("wide|wide|wide|narrow", "%S|%ls|%ws|%hs", L"wide", L"wide", L"wide", "narrow"),
        NARROW_ROW("wide      |", "%-10ws|", L"wide"),
        NARROW_ROW("(null)|(null)|(nu", "%s|%S|%.3s", (char*)nullptr, (wchar_t*)nullptr, (char*)nullptr),
        NARROW_ROW("a|W|W|W|n", "%c|%C|%lc|%wc|%hc", 'a', L'W', L'W', L'W', 'n'),
        NARROW_ROW("0001|1   |  a|xXx", "%04c|%-04c|%3c|x%cx", '1', '1', 'a', 0x100 + 'X'),
        NARROW_ROW(std::string("a\0b", 3), "a%cb", 0),
    });
}

TEST(FormatConventions, WideTextTakesWideUnlessToldOtherwise) {
    ExpectRows<std::wstring>({
        WIDE_ROW(L"wide|narrow|narrow|wide|wide", L"%s|%S|%hs|%ls|%ws", L"wide", "narrow", "narrow", L"wide",
                 L"wide"),
        WIDE_ROW(L"W|n|n|W|W", L"%c|%C|%hc|%lc|%wc", L'W', 'n', 'n', L'W', L'W'),
        WIDE_ROW(L"(null)|(null)", L"%s|%S", (wchar_t*)nullptr, (char*)nullptr),
        WIDE_ROW(L"ab |00ab|  x", L"%-3.2s|%04S|%*c", L"abc", "ab", 3, L'x'),
        WIDE_ROW(L"-8589934591|   42|0000000000000039", L"%I64d|%*d|%p", -8589934591LL, 5, 42, kPointer57),
        WIDE_ROW(L"3.14|1.5e+00|0x1f", L"%.2f|%.1e|%#x", 3.14159, 1.5, 31),
    });
}

// An unknown conversion and everything after it is copied as it stands, and
// no further argument is read.
TEST(FormatConventions, UnknownConversionEndsFormatting) {
    ExpectRows<std::string>({
        NARROW_ROW("1 %y %d %s", "%d %y %d %s", 1, 2, "x"),
        NARROW_ROW("%I64D", "%I64D", 1LL),
        NARROW_ROW("abc%", "abc%", 0),
        NARROW_ROW("x%-5", "x%-5", 0),
    });
    EXPECT_EQ(L"a%yb%d", Wide(L"a%yb%d", 1));
}

// %n takes its pointer off the list without writing through it, so the
// arguments after it are still read in step.
TEST(FormatConventions, PercentNIsNeverExecuted) {
    const char* formats[] = {"%d%n|%s|%d", "%d%hn|%s|%d", "%d%lln|%s|%d", "%d%I64n|%s|%d"};
    for (const char* format : formats) {
        int target = 12345;
        EXPECT_EQ("1|x|2", Narrow(format, 1, &target, "x", 2)) << format;
        EXPECT_EQ(12345, target) << format;
    }
    int target = 12345;
    EXPECT_EQ(L"1|x|2", Wide(L"%d%n|%s|%d", 1, &target, L"x", 2));
    EXPECT_EQ(12345, target);
}

// ---- truncation -------------------------------------------------------------

template <typename CharT>
int FormatHello(CharT* buffer, size_t count);
template <>
int FormatHello(char* buffer, size_t count) {
    return _snprintf(buffer, count, "%s%d", "hell", 0);
}
template <>
int FormatHello(wchar_t* buffer, size_t count) {
    return _snwprintf(buffer, count, L"%s%d", L"hell", 0);
}

// "hell0" is 5 characters: a terminator only when the count leaves room for
// it; -1 when the text did not fit; nothing ever written past count.
template <typename CharT>
void ExpectLegacyTruncation() {
    struct Case {
        size_t count;
        size_t stored;
        int result;
        bool terminated;
    };
    const Case cases[] = {{0, 0, -1, false}, {4, 4, -1, false}, {5, 5, 5, false}, {6, 5, 5, true}};
    const CharT sentinel = '#';
    const CharT expected[] = {'h', 'e', 'l', 'l', '0'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        CharT buffer[10];
        std::fill(std::begin(buffer), std::end(buffer), sentinel);
        EXPECT_EQ(c.result, FormatHello(buffer, c.count));
        EXPECT_TRUE(std::equal(buffer, buffer + c.stored, expected));
        EXPECT_EQ(c.terminated ? CharT(0) : sentinel, buffer[c.stored]);
        EXPECT_TRUE(std::all_of(buffer + c.count, std::end(buffer), [&](CharT e) { return e == sentinel; }));
    }
}

TEST(Truncation, FollowsTheLegacyContract) {
    ExpectLegacyTruncation<char>();
    ExpectLegacyTruncation<wchar_t>();
}

TEST(Truncation, NullBufferWithZeroCountMeasures) {
    EXPECT_EQ(5, FormatHello<char>(nullptr, 0));
    EXPECT_EQ(5, FormatHello<wchar_t>(nullptr, 0));
    errno = 0;
    EXPECT_EQ(-1, FormatHello<char>(nullptr, 8));
    EXPECT_EQ(EINVAL, errno);
}

TEST(Truncation, NullFormatFails) {
    char narrow[8];
    wchar_t wide[8];
    errno = 0;
    EXPECT_EQ(-1, _snprintf(narrow, 8, nullptr));
    EXPECT_EQ(EINVAL, errno);
    errno = 0;
    EXPECT_EQ(-1, _snwprintf(wide, 8, nullptr));
    EXPECT_EQ(EINVAL, errno);
}

TEST(Truncation, EnormousFieldsAreMeasuredAndCut) {
    EXPECT_EQ(100000, _snprintf(nullptr, 0, "%100000d", 1));
    EXPECT_EQ(602, _snprintf(nullptr, 0, "%.600f", 1.0));
    char buffer[20];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(-1, _snprintf(buffer, 16, "%100000d", 1));
    EXPECT_EQ(std::string(16, ' ') + "####", std::string(buffer, 20));

    std::string wideField = Narrow("%700.1f|", 1.0);
    EXPECT_EQ(std::string(697, ' ') + "1.0|", wideField);
}

// ---- text across widths --------------------------------------------------------

// The conversions must not depend on the process's locale: everything here
// runs in the "C" locale, where glibc itself cannot convert non-ASCII text.
class CrossWidthText : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = setlocale(LC_ALL, nullptr);
        ASSERT_NE(nullptr, setlocale(LC_ALL, "C"));
    }
    void TearDown() override { setlocale(LC_ALL, saved_.c_str()); }

  private:
    std::string saved_;
};

TEST_F(CrossWidthText, WideTextBecomesUtf8) {
    ExpectRows<std::string>({
        NARROW_ROW("é€😀|é€😀|€|😀", "%ls|%S|%lc|%C", L"é€😀", L"é€😀", L'€', L'😀'),
        NARROW_ROW("é€😀", "%s", "é€😀"),
        // A precision counts bytes but never splits a character.
        NARROW_ROW("é€|é||", "%.5ls|%.4ls|%.1ls|", L"é€😀", L"é€😀", L"é"),
        NARROW_ROW("    é|é  |", "%6ls|%-4ls|", L"é", L"é"),
        NARROW_ROW("\xEF\xBF\xBD", "%ls", L"\xD800"),
    });
}

TEST_F(CrossWidthText, NarrowTextIsDecodedFromUtf8) {
    ExpectRows<std::wstring>({
        WIDE_ROW(L"é€😀|é€😀|é€😀", L"%S|%hs|%s", "é€😀", "é€😀", L"é€😀"),
        WIDE_ROW(L"é€|  €|", L"%.2hs|%3S|", "é€😀", "€"),
        WIDE_ROW(L"A|\xFFFD|a\xFFFDz", L"%C|%C|%S", 'A', '\xE9', "a\xFFz"),
    });
}

}  // namespace
