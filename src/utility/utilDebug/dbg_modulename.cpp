// The name a calling module logs under, from its file name.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#include "dbg_modulename.h"

namespace dbg_internal {

namespace {

bool AllDigits(const std::wstring& text, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i)
        if (text[i] < L'0' || text[i] > L'9') return false;
    return true;
}

}  // namespace

void DropSharedObjectVersion(std::wstring& fileName) {
    static const std::wstring kSharedObject = L".so";
    // Walks back over ".<digits>" groups.
    size_t cut = fileName.size();
    while (cut > 0) {
        size_t dot = fileName.rfind(L'.', cut - 1);
        if (dot == std::wstring::npos || dot + 1 == cut || !AllDigits(fileName, dot + 1, cut)) break;
        cut = dot;
    }
    if (cut == fileName.size() || cut < kSharedObject.size()) return;
    if (fileName.compare(cut - kSharedObject.size(), kSharedObject.size(), kSharedObject) == 0)
        fileName.resize(cut);
}

}  // namespace dbg_internal
