// On the library's ladder: plain data; it includes no unit above (scripts/ladder.sh).
#include "dbg_destination.h"

#include <cwchar>

#include "dbg_registry.h"

namespace dbg_internal {

const wchar_t kLogDestinationValue[] = L"DebugLogDestination";

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

bool ReadLogDestination(HKEY key, unsigned* destination) {
    TextSetting setting = ReadTextSetting(key, kLogDestinationValue, kLogDestinationRule);
    if (setting.outcome == TextSettingOutcome::kFailed) return false;
    // A value too long to read is no value: the file.
    *destination = ParseLogDestination(setting.text.c_str());
    return true;
}

unsigned ReadLogDestinationAt(const wchar_t* keyPath) {
    unsigned destination = kDestinationFile;
    if (HKEY key = OpenProductKeyForReading(keyPath)) {
        ReadLogDestination(key, &destination);
        RegCloseKey(key);
    }
    return destination;
}

}  // namespace dbg_internal
