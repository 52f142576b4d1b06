// Counted formatting: the Microsoft conventions in both widths, the legacy
// truncation contract, and text crossing widths as UTF-8 in the "C" locale.
#include "nltest.h"

namespace {

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

}  // namespace
