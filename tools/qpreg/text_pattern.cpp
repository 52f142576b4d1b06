#include "text_pattern.h"

namespace qpreg {
namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameCharacter(wchar_t a, wchar_t b, bool caseSensitive) {
    return caseSensitive ? a == b : FoldAscii(a) == FoldAscii(b);
}

// Whole-text glob matching; on a mismatch after a *, the * takes one more
// character and the rest is tried again, so the time is at most
// pattern length times text length.
bool MatchesWhole(const std::wstring& pattern, const std::wstring& text, bool caseSensitive) {
    size_t p = 0, t = 0;
    size_t starAt = std::wstring::npos, resumeText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            starAt = p++;
            resumeText = t;
        } else if (p < pattern.size() &&
                   (pattern[p] == L'?' || SameCharacter(pattern[p], text[t], caseSensitive))) {
            ++p, ++t;
        } else if (starAt != std::wstring::npos) {
            p = starAt + 1;
            t = ++resumeText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

}  // namespace

bool Matches(const TextPattern& pattern, const std::wstring& text) {
    if (pattern.wholeText) return MatchesWhole(pattern.pattern, text, pattern.caseSensitive);
    return MatchesWhole(L"*" + pattern.pattern + L"*", text, pattern.caseSensitive);
}

}  // namespace qpreg
