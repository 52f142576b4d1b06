// Counted formatting: the Microsoft conventions in both widths, the legacy
// truncation contract, and text crossing widths as UTF-8 in the "C" locale.
#include "nltest.h"

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

// Each row of data/printf/formats.txt through the argument slots, the
// engine _vsnprintf also runs on, in the "C" locale, where glibc itself
// cannot convert non-ASCII text (the process starts in it).
TEST(FormatConventions, FormatsAsTheTableSays) {
    ASSERT_STREQ("C", setlocale(LC_ALL, "C"));
    for (const nltest::Row& row : nltest::ReadRows("printf/formats.txt")) {
        SCOPED_TRACE(row[2]);
        std::vector<ULONG_PTR> slots;
        std::deque<std::string> narrow;
        std::deque<std::wstring> wide;
        for (size_t i = 3; i < row.size(); ++i) {
            const std::string& a = row[i];
            std::string text = a.size() > 1 && a[1] == ':' ? a.substr(2) : a;
            if (a[0] == 'f') {
                double value = strtod(text.c_str(), nullptr);
                memcpy(&slots.emplace_back(), &value, sizeof value);
            } else if (a[0] == 's') {
                slots.push_back(reinterpret_cast<ULONG_PTR>(narrow.emplace_back(text).c_str()));
            } else if (a[0] == 'S') {
                slots.push_back(reinterpret_cast<ULONG_PTR>(wide.emplace_back(nltest::Wide(text)).c_str()));
            } else {
                slots.push_back(a[0] == 'c' ? nltest::Wide(text)[0] : std::stoull(text, nullptr, 0));
            }
        }
        if (row[0] == "N") {
            char out[256];
            int length = NlFormatSlots(out, sizeof out, row[2].c_str(), slots.data(), slots.size());
            EXPECT_EQ(row[1], std::string(out, std::max(length, 0)));
        } else {
            wchar_t out[256];
            int length = NlFormatSlotsW(out, 256, nltest::Wide(row[2]).c_str(), slots.data(), slots.size());
            EXPECT_EQ(nltest::Wide(row[1]), std::wstring(out, std::max(length, 0)));
        }
    }
}

// The va_list hands over every class of argument in step: integers of both
// sizes, doubles, long doubles, characters and text of both widths.
TEST(FormatConventions, VariableArgumentsOfEveryClass) {
    EXPECT_EQ("-1|2.5|x|-8589934591|0.25|wide|c|-1", Narrow("%d|%.1f|%s|%I64d|%.2Lf|%ls|%c|%hd", -1, 2.5, "x",
                                                            -8589934591LL, 0.25L, L"wide", 'c', 65535));
    wchar_t wide[64];
    ASSERT_EQ(34, _snwprintf(wide, 64, L"%d|%.1f|%s|%I64d|%.2Lf|%S|%c", -1, 2.5, L"x", -8589934591LL, 0.25L,
                             "narrow", L'c'));
    EXPECT_STREQ(L"-1|2.5|x|-8589934591|0.25|narrow|c", wide);
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

TEST(Truncation, EnormousFieldsAndPrecisionsAreMeasuredAndCut) {
    EXPECT_EQ(100000, Snprintf(nullptr, 0, "%100000d", 1));
    char buffer[20];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(-1, Snprintf(buffer, 16, "%100000d", 1));
    EXPECT_EQ(std::string(16, ' ') + "####", std::string(buffer, 20));
    EXPECT_EQ(std::string(697, ' ') + "1.0|", Narrow("%700.1f|", 1.0));
    // Measuring pads and fills nothing.
    EXPECT_EQ(5, Snprintf(nullptr, 0, "%5d", 1));
    EXPECT_EQ(7, _snwprintf(nullptr, 0, L"%07.2f", 1.0));
    // A precision of any size costs what the stored output costs: the digits
    // past what a double can hold are zeros, counted rather than rendered.
    EXPECT_EQ(1000000002, Snprintf(nullptr, 0, "%.*f", 1000000000, 1.0));
    char cut[64];
    EXPECT_EQ(-1, Snprintf(cut, sizeof cut, "%.*e", 1000000000, -1.5));
    EXPECT_EQ("-1.5" + std::string(60, '0'), std::string(cut, sizeof cut));
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

}  // namespace
