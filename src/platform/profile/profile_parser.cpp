#include "profile/profile_parser.h"

#include <cwchar>

#include "common/unicode.h"

namespace nlplatform::profile {
namespace {

// White space as Windows trims it from profile lines, and ^Z, which ends a
// file written by old editors.
bool IsProfileSpace(wchar_t c) {
    switch (c) {
        case L' ':
        case L'\t':
        case L'\n':
        case L'\v':
        case L'\f':
        case L'\r':
        case 0x1A:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

struct Span {
    const wchar_t* begin;
    const wchar_t* end;
    bool empty() const { return begin >= end; }
};

Span Trimmed(Span s) {
    while (s.begin < s.end && IsProfileSpace(*s.begin)) ++s.begin;
    while (s.end > s.begin && IsProfileSpace(s.end[-1])) --s.end;
    return s;
}

// Text up to the span's end or its first NUL, whichever comes first.
std::wstring TextOf(Span s) {
    const wchar_t* stop = s.begin;
    while (stop < s.end && *stop != L'\0') ++stop;
    return std::wstring(s.begin, stop);
}

// The section name of a header line, or false when the line is no header.
bool HeaderName(Span line, std::wstring* name) {
    if (*line.begin != L'[') return false;
    const wchar_t* close = line.end;
    while (close > line.begin && close[-1] != L']') --close;
    if (close == line.begin) return false;
    *name = TextOf(Trimmed(Span{line.begin + 1, close - 1}));
    return true;
}

ProfileLine KeyLine(Span line) {
    ProfileLine key;
    const wchar_t* equals = line.begin;
    while (equals < line.end && *equals != L'=') ++equals;
    if (equals == line.end) {
        key.name = TextOf(line);
        return key;
    }
    key.name = TextOf(Trimmed(Span{line.begin, equals}));
    key.hasValue = true;
    key.value = TextOf(Trimmed(Span{equals + 1, line.end}));
    return key;
}

}  // namespace

std::wstring DecodeProfileText(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string units((bytes.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                             static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
        return Utf16ToWide(units.data(), units.size());
    }
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return Utf8ToWide(bytes.data() + start, bytes.size() - start);
}

std::vector<ProfileSection> ParseProfile(const std::wstring& text) {
    std::vector<ProfileSection> sections(1);
    const wchar_t* p = text.data();
    const wchar_t* end = p + text.size();
    while (p < end) {
        const wchar_t* lineEnd = p;
        while (lineEnd < end && *lineEnd != L'\n' && *lineEnd != L'\r') ++lineEnd;
        Span line = Trimmed(Span{p, lineEnd});
        p = lineEnd;
        while (p < end && (*p == L'\n' || *p == L'\r')) ++p;

        if (line.empty() || *line.begin == L';') continue;
        std::wstring name;
        if (HeaderName(line, &name)) {
            sections.push_back(ProfileSection{name, {}});
            continue;
        }
        sections.back().lines.push_back(KeyLine(line));
    }
    return sections;
}

}  // namespace nlplatform::profile
