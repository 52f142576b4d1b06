// The DebugLogDestination setting read as destinations.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#include "dbg_destination.h"

#include <cwchar>

#include <windows.h>

namespace dbg_internal {

namespace {

bool SplitsWords(wchar_t c) { return c == L';' || c == L',' || c == L' ' || c == L'\t'; }

}  // namespace

unsigned ParseLogDestination(const wchar_t* text) {
    unsigned destination = 0;
    if (text) {
        const wchar_t* at = text;
        while (*at) {
            while (*at && SplitsWords(*at)) ++at;
            const wchar_t* start = at;
            while (*at && !SplitsWords(*at)) ++at;
            size_t length = static_cast<size_t>(at - start);
            if (length == 4 && _wcsnicmp(start, L"file", 4) == 0) destination |= kDestinationFile;
            if (length == 7 && _wcsnicmp(start, L"journal", 7) == 0) destination |= kDestinationJournal;
        }
    }
    return destination ? destination : static_cast<unsigned>(kDestinationFile);
}

}  // namespace dbg_internal
