// Counted formatting: the Microsoft conventions in both widths, the legacy
// truncation contract, and text crossing widths as UTF-8 in the "C" locale.
#include <gtest/gtest.h>
#include <windows.h>

#include <errno.h>
#include <limits.h>
#include <locale.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

std::string Narrow(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return length < 0 ? "<overflow>" : std::string(buffer, length);
}

// _snprintf's contract, which code ported from Windows relies on through
// _vsnprintf.
int Snprintf(char* buffer, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return result;
}

std::wstring Wide(const wchar_t* format, ...) {
    wchar_t buffer[1024];
    va_list args;
    va_start(args, format);
    int length = _vsnwprintf(buffer, 1024, format, args);
    va_end(args);
    return length < 0 ? L"<overflow>" : std::wstring(buffer, length);
}

void* const kPointer57 = reinterpret_cast<void*>(57);

TEST(FormatConventions, NarrowNumbers) {
    EXPECT_EQ("   42|42   |00042|-0042|4294967295", Narrow("%5d|%-5d|%05d|%05i|%u", 42, 42, 42, -42, -1));
    EXPECT_EQ("+42| 42|+42|  00042|", Narrow("%+d|% d|%+ d|%7.5d|%.0d", 42, 42, 42, 42, 0));
    EXPECT_EQ("ff|FF|0xff|0XFF|0", Narrow("%x|%X|%#x|%#X|%#x", 255, 255, 255, 255, 0));
    // The longest digit string there is: 64 bits in octal.
    EXPECT_EQ("17|017|0|0001777777777777777777634", Narrow("%o|%#o|%#o|%#.25I64o", 15, 15, 0, -100LL));
    EXPECT_EQ("-1|-1|255", Narrow("%hd|%hhd|%hhu", 65535, 255, 511));
    EXPECT_EQ("9223372036854775807|-3|123|-7|-9",
              Narrow("%ld|%lld|%zu|%td|%jd", LONG_MAX, -3LL, size_t{123}, ptrdiff_t{-7}, intmax_t{-9}));
    EXPECT_EQ("-8589934591|18446744073709551615", Narrow("%I64d|%I64u", -8589934591LL, ~0ULL));
    EXPECT_EQ("4294967295|-1|ffffffffffffffff|-5",
              Narrow("%I32u|%I32d|%Ix|%Id", 0xffffffffu, -1, ~size_t{0}, ptrdiff_t{-5}));
    EXPECT_EQ(" 0x00ffffffffffffff9c|+00100  ", Narrow("%#+21.18I64x|%#-+ 08.5I64d", -100LL, 100LL));
    EXPECT_EQ("   42|42   |42|100%", Narrow("%*d|%*d|%.*d|%d%%", 5, 42, -5, 42, -3, 42, 100));
    EXPECT_EQ("0000000000000039|0000000000000000", Narrow("%p|%p", kPointer57, nullptr));
    EXPECT_EQ("  0X0000000000000039|0X0000000000000039  |",
              Narrow("%#020p|%#-020p|", kPointer57, kPointer57));
    EXPECT_EQ("3.141593|  3.14|+1.0|1.5E+10|0.0001|2.50",
              Narrow("%f|%6.2f|%+.1f|%.1E|%g|%.2Lf", 3.14159265, 3.14159, 1.0, 1.5e10, 0.0001, 2.5L));
}

TEST(FormatConventions, NarrowTextTakesNarrowUnlessToldOtherwise) {
    EXPECT_EQ("foo|fo|0foo|foo  |", Narrow("%s|%.2s|%04s|%*s|", "foo", "foo", "foo", -5, "foo"));
    EXPECT_EQ("wide|wide|wide|narrow", Narrow("%S|%ls|%ws|%hs", L"wide", L"wide", L"wide", "narrow"));
    EXPECT_EQ("(null)|(null)|(nu", Narrow("%s|%S|%.3s", (char*)nullptr, (wchar_t*)nullptr, (char*)nullptr));
    EXPECT_EQ("a|W|W|W|n", Narrow("%c|%C|%lc|%wc|%hc", 'a', L'W', L'W', L'W', 'n'));
    EXPECT_EQ("0001|1   |  a|xXx", Narrow("%04c|%-04c|%3c|x%cx", '1', '1', 'a', 0x100 + 'X'));
    EXPECT_EQ(std::string("a\0b", 3), Narrow("a%cb", 0));
}

TEST(FormatConventions, WideTextTakesWideUnlessToldOtherwise) {
    EXPECT_EQ(L"wide|narrow|narrow|wide|wide",
              Wide(L"%s|%S|%hs|%ls|%ws", L"wide", "narrow", "narrow", L"wide", L"wide"));
    EXPECT_EQ(L"W|n|n|W|W", Wide(L"%c|%C|%hc|%lc|%wc", L'W', 'n', 'n', L'W', L'W'));
    EXPECT_EQ(L"(null)|(null)|ab |00ab|  x",
              Wide(L"%s|%S|%-3.2s|%04S|%*c", (wchar_t*)nullptr, (char*)nullptr, L"abc", "ab", 3, L'x'));
    EXPECT_EQ(L"-8589934591|0000000000000039|3.14|0x1f",
              Wide(L"%I64d|%p|%.2f|%#x", -8589934591LL, kPointer57, 3.14159, 31));
}

// An unknown conversion and everything after it is copied as it stands, and
// no further argument is read.
TEST(FormatConventions, UnknownConversionEndsFormatting) {
    EXPECT_EQ("1 %y %d %s", Narrow("%d %y %d %s", 1, 2, "x"));
    EXPECT_EQ("%I64D|abc%", Narrow("%I64D|abc%", 1LL));
    EXPECT_EQ(L"a%yb%d", Wide(L"a%yb%d", 1));
}

// %n takes its pointer off the list without writing through it, so the
// arguments after it are still read in step.
TEST(FormatConventions, PercentNIsNeverExecuted) {
    int target = 12345;
    EXPECT_EQ("1|x|2|y", Narrow("%d%n|%s|%d%I64n|%s", 1, &target, "x", 2, &target, "y"));
    EXPECT_EQ(L"1|x|2", Wide(L"%d%hn|%s|%d", 1, &target, L"x", 2));
    EXPECT_EQ(12345, target);
}

// ---- truncation -------------------------------------------------------------

int FormatHello(char* buffer, size_t count) { return Snprintf(buffer, count, "%s%d", "hell", 0); }
int FormatHello(wchar_t* buffer, size_t count) { return _snwprintf(buffer, count, L"%s%d", L"hell", 0); }

// "hell0" is 5 characters: a terminator only when the count leaves room for
// it; -1 when the text did not fit; nothing ever written past count. A null
// buffer with a count of 0 measures; with another count, or with a null
// format, the call fails.
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
    EXPECT_EQ(5, FormatHello(static_cast<CharT*>(nullptr), 0));
    errno = 0;
    EXPECT_EQ(-1, FormatHello(static_cast<CharT*>(nullptr), 8));
    EXPECT_EQ(EINVAL, errno);
}

TEST(Truncation, FollowsTheLegacyContract) {
    ExpectLegacyTruncation<char>();
    ExpectLegacyTruncation<wchar_t>();
    wchar_t wide[8];
    errno = 0;
    EXPECT_EQ(-1, _snwprintf(wide, 8, nullptr));
    EXPECT_EQ(EINVAL, errno);
}

TEST(Truncation, EnormousFieldsAreMeasuredAndCut) {
    EXPECT_EQ(100000, Snprintf(nullptr, 0, "%100000d", 1));
    char buffer[20];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(-1, Snprintf(buffer, 16, "%100000d", 1));
    EXPECT_EQ(std::string(16, ' ') + "####", std::string(buffer, 20));
    EXPECT_EQ(std::string(697, ' ') + "1.0|", Narrow("%700.1f|", 1.0));
    // Measuring pads and fills nothing.
    EXPECT_EQ(5, Snprintf(nullptr, 0, "%5d", 1));
    EXPECT_EQ(7, _snwprintf(nullptr, 0, L"%07.2f", 1.0));
}

// A precision or width of any size costs what the stored output costs: the
// digits past what a double can hold are zeros, counted rather than rendered.
TEST(Truncation, HugePrecisionsAreCountedNotRendered) {
    EXPECT_EQ(1000000002, Snprintf(nullptr, 0, "%.*f", 1000000000, 1.0));
    char buffer[64];
    EXPECT_EQ(-1, Snprintf(buffer, sizeof buffer, "%.*e", 1000000000, -1.5));
    EXPECT_EQ("-1.5" + std::string(60, '0'), std::string(buffer, sizeof buffer));
    wchar_t wide[8];
    EXPECT_EQ(-1, _snwprintf(wide, 8, L"%#.*g|%.*a", INT_MAX, 0.5, INT_MAX, 1.0));
    EXPECT_EQ(L"0.50000", std::wstring(wide, 7));
}

// Just past the bound the C library still renders every digit itself: the
// counted zeros must land where it puts them, padding and signs included.
TEST(Truncation, CountedZerosMatchFullRendering) {
    const char* formats[] = {"%.1200f",   "%.1200e",    "%-1300.1150E", "%+01300.1150f",
                             "%#.1200g",  "%.1200g",    "%.1200a",      "% 01250.1200A",
                             "%#1.1100e", "%-+1.1101f", "%.1101Lf"};
    const double values[] = {1.5, -0.1, 5e-324, 1.7976931348623157e308, 0.0, INFINITY, -NAN};
    for (const char* format : formats) {
        for (double value : values) {
            SCOPED_TRACE(std::string(format) + " " + std::to_string(value));
            std::string expected(8192, '\0');
            bool isLong = strchr(format, 'L') != nullptr;
            int length =
                isLong ? snprintf(&expected[0], expected.size(), format, static_cast<long double>(value))
                       : snprintf(&expected[0], expected.size(), format, value);
            expected.resize(length);
            if (std::isnan(value)) continue;  // Windows spells it differently
            std::string ours(8192, '\0');
            int oursLength = isLong ? Snprintf(&ours[0], ours.size(), format, static_cast<long double>(value))
                                    : Snprintf(&ours[0], ours.size(), format, value);
            ASSERT_GE(oursLength, 0);
            ours.resize(oursLength);
            EXPECT_EQ(expected, ours);
        }
    }
}

TEST(FormatConventions, NegativeNanPrintsAsTheIndeterminateValue) {
    volatile double zero = 0.0;
    EXPECT_EQ("-nan(ind)|-NAN(IND)|-nan(ind)|   -nan(ind)|nan",
              Narrow("%f|%E|%g|%12.3e|%f", zero / zero, -NAN, -NAN, -NAN, NAN));
    EXPECT_EQ(L"-nan(ind) |   -NAN(IND)", Wide(L"%-10a|%012A", -NAN, -NAN));
}

// ---- arguments from slots ------------------------------------------------------

// Slots stand for the arguments a 64-bit Windows caller passes: integers and
// pointers as they are, doubles as their bits; past the last slot every
// argument is zero, so no format can read what was not given.
TEST(ArgumentSlots, ConversionsPastTheLastSlotReadZero) {
    const wchar_t* text = L"text";
    ULONG_PTR one[] = {reinterpret_cast<ULONG_PTR>(text)};
    wchar_t wide[128];
    int length = NlFormatSlotsW(wide, 128, L"%s|%s|%d|%p|%.1f|%c%S|%*d", one, 1);
    ASSERT_GE(length, 0);
    EXPECT_EQ(std::wstring(L"text|(null)|0|0000000000000000|0.0|") + L'\0' + L"(null)|0",
              std::wstring(wide, length));
    std::wstring many;
    for (int i = 0; i < 16; ++i) many += L"%s";
    ASSERT_GE(NlFormatSlotsW(wide, 128, many.c_str(), one, 1), 0);
    std::wstring expected = L"text";
    for (int i = 1; i < 16; ++i) expected += L"(null)";
    EXPECT_EQ(expected, wide);

    double half = -0.5;
    ULONG_PTR slots[4] = {0xFFFFFFFF, 0, 0, reinterpret_cast<ULONG_PTR>("narrow")};
    memcpy(&slots[1], &half, sizeof half);
    slots[2] = 3;
    char narrow[64];
    EXPECT_EQ(14, NlFormatSlots(narrow, sizeof narrow, "%d|%.2f|%.*s|%I64u", slots, 4));
    EXPECT_STREQ("-1|-0.50|nar|0", narrow);
    EXPECT_EQ(6, NlFormatSlots(narrow, sizeof narrow, "%s", nullptr, 0));
    EXPECT_STREQ("(null)", narrow);
}

// ---- text across widths --------------------------------------------------------

// The conversions must not depend on the process's locale: they run in the
// "C" locale, where glibc itself cannot convert non-ASCII text. (The process
// starts in "C", so the test leaves it as it found it.)
TEST(CrossWidthText, ConvertsAsUtf8UnderTheCLocale) {
    ASSERT_STREQ("C", setlocale(LC_ALL, "C"));
    EXPECT_EQ("é€😀|é€😀|€|😀|é€😀", Narrow("%ls|%S|%lc|%C|%s", L"é€😀", L"é€😀", L'€', L'😀', "é€😀"));
    // Width and precision of wide text count its characters, not the bytes
    // they become.
    EXPECT_EQ("é€|é||    ä|é   |  €|",
              Narrow("%.2ls|%.1ls|%.0ls|%5ls|%-4ls|%3lc|", L"é€😀", L"é€😀", L"é", L"ä", L"é", L'€'));
    EXPECT_EQ("\xEF\xBF\xBD", Narrow("%ls", L"\xD800"));
    EXPECT_EQ(L"é€😀|é€😀|é€😀", Wide(L"%S|%hs|%s", "é€😀", "é€😀", L"é€😀"));
    EXPECT_EQ(L"é€|  €|", Wide(L"%.2hs|%3S|", "é€😀", "€"));
    EXPECT_EQ(L"A|\xFFFD|a\xFFFDz", Wide(L"%C|%C|%S", 'A', '\xE9', "a\xFFz"));
}

}  // namespace
