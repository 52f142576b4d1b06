// The product's settings in the registry: opening the key, and reading and
// writing one value.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#include "dbg_registry.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "dbg_defaults.h"
#include "dbg_destination.h"

namespace dbg_internal {

const wchar_t kDefaultProductKeyPath[] = L"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion";

namespace {
thread_local unsigned t_unansweredReads = 0;
}  // namespace

// A read is answered when the store said what it holds: the value, or that
// the key or value is missing, deleted, out of reach or too long for the
// buffer.
void NoteSettingsRead(LSTATUS status) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_MORE_DATA &&
        status != ERROR_KEY_DELETED && status != ERROR_ACCESS_DENIED)
        ++t_unansweredReads;
}

CSettingsReadCheck::CSettingsReadCheck() : start_(t_unansweredReads) {}

bool CSettingsReadCheck::Unanswered() const { return t_unansweredReads != start_; }

HKEY OpenProductKey(const wchar_t* keyPath, REGSAM access) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access | KEY_WOW64_64KEY, &key);
    NoteSettingsRead(status);
    if (status == ERROR_SUCCESS) return key;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, &key);
    NoteSettingsRead(status);
    return status == ERROR_SUCCESS ? key : nullptr;
}

HKEY OpenProductKeyForReading(const wchar_t* keyPath) {
    if (!keyPath) return nullptr;
    return OpenProductKey(keyPath, KEY_READ);
}

bool ReadLogFormat(HKEY key, std::wstring* format) {
    TextSetting setting = ReadTextSetting(key, kValueDebugLogFormat, kLogFormatRule);
    if (setting.outcome != TextSettingOutcome::kRead || setting.text.empty()) return false;
    *format = setting.text;
    return true;
}

bool ReadDiagnosticsSwitch(HKEY key) {
    DWORD value = 0;
    DWORD size = sizeof value;
    LSTATUS status = RegQueryValueExW(key, kValueDebugLogDiagnostics, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&value), &size);
    NoteSettingsRead(status);
    return status == ERROR_SUCCESS && value != 0;
}

bool ReadLogDestination(HKEY key, unsigned* destination) {
    TextSetting setting = ReadTextSetting(key, kValueDebugLogDestination, kLogDestinationRule);
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

bool QueryDwordValue(HKEY key, const wchar_t* valueName, int* value) {
    union {
        int number;
        wchar_t wide[2];
    } data;
    data.wide[1] = 0;
    data.number = *value;
    DWORD size = sizeof(int);
    LSTATUS status =
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    NoteSettingsRead(status);
    if (status != ERROR_SUCCESS) return false;
    *value = data.number;
    return true;
}

bool ReadRegistryDword(int* value, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!value || !keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_READ);
    if (!key) return false;
    CKeyCloser closer(key);
    return QueryDwordValue(key, valueName, value);
}

bool ReadRegistryString(wchar_t* buffer, DWORD size, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!buffer || !keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_READ);
    if (!key) return false;
    CKeyCloser closer(key);
    DWORD dataSize = size;
    LSTATUS status =
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &dataSize);
    NoteSettingsRead(status);
    return status == ERROR_SUCCESS && buffer[0] != L'\0';
}

bool WriteRegistryDword(int value, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_WRITE);
    if (!key) return false;
    CKeyCloser closer(key);
    return RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool WriteRegistryString(const wchar_t* text, const wchar_t* keyPath, const wchar_t* valueName) {
    if (!text || !keyPath || !*keyPath || !valueName) return false;
    HKEY key = OpenProductKey(keyPath, KEY_WRITE);
    if (!key) return false;
    CKeyCloser closer(key);
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          NlRegStringDataSize(text)) == ERROR_SUCCESS;
}

bool QueryTextValue(HKEY key, const wchar_t* valueName, size_t maxLength, std::wstring* text) {
    // Most values fit a first buffer; a longer one is read again whole, in
    // the size the registry reported, and cut.
    std::vector<wchar_t> buffer(std::min<size_t>(maxLength, 4096) + 2, L'\0');
    DWORD size = NlRegStringBufferSize(buffer.size() - 1);
    LSTATUS status =
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status == ERROR_MORE_DATA) {
        buffer.assign(size / 2 + 2, L'\0');
        size = NlRegStringBufferSize(buffer.size() - 1);
        status =
            RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
    }
    NoteSettingsRead(status);
    if (status != ERROR_SUCCESS) return false;
    text->assign(buffer.data(), wcsnlen(buffer.data(), maxLength));
    return true;
}

const TextSettingRule kDisabledListRule{0, kDisabledListLimit};
const TextSettingRule kHomeDirRule{kHomeDirReadBytes, 0};

TextSetting ReadTextSetting(HKEY key, const wchar_t* valueName, const TextSettingRule& rule) {
    TextSetting setting;
    LSTATUS status = ERROR_SUCCESS;
    if (rule.cutLength > 0) {
        // Read whole, and cut.
        std::vector<wchar_t> buffer(std::min<size_t>(rule.cutLength, 4096) + 2, L'\0');
        DWORD size = NlRegStringBufferSize(buffer.size() - 1);
        status =
            RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status == ERROR_MORE_DATA) {
            buffer.assign(size / 2 + 2, L'\0');
            size = NlRegStringBufferSize(buffer.size() - 1);
            status = RegQueryValueExW(key, valueName, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(buffer.data()), &size);
        }
        if (status == ERROR_SUCCESS) {
            size_t length = wcsnlen(buffer.data(), buffer.size());
            setting.text.assign(buffer.data(), std::min(length, rule.cutLength));
            setting.outcome = length > rule.cutLength ? TextSettingOutcome::kCut : TextSettingOutcome::kRead;
        }
    } else {
        std::vector<wchar_t> buffer(rule.readBytes / 2 + 1, L'\0');
        DWORD size = rule.readBytes;
        status =
            RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
        // An empty text is no value.
        if (status == ERROR_SUCCESS && buffer[0] != L'\0')
            setting.text = buffer.data(), setting.outcome = TextSettingOutcome::kRead;
        if (status == ERROR_MORE_DATA) setting.outcome = TextSettingOutcome::kTooLong;
    }
    NoteSettingsRead(status);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        setting.outcome =
            status == ERROR_FILE_NOT_FOUND ? TextSettingOutcome::kMissing : TextSettingOutcome::kFailed;
    return setting;
}

// ---- The disabled lists in the registry ------------------------------------------------------

namespace {

// Only the first kDisabledListLimit characters count: a longer value is cut, not
// ignored.
DisabledListValue ReadDisabledList(HKEY key, const wchar_t* valueName) {
    DisabledListValue value;
    TextSetting setting = ReadTextSetting(key, valueName, kDisabledListRule);
    value.read = setting.outcome == TextSettingOutcome::kRead || setting.outcome == TextSettingOutcome::kCut;
    value.whole = setting.Whole();
    value.text = setting.text;
    return value;
}

}  // namespace

DisabledListValues ReadDisabledLists(HKEY key) {
    DisabledListValues values;
    values.features = ReadDisabledList(key, kValueDisabledFeatures);
    values.dlls = ReadDisabledList(key, kValueDisabledDlls);
    return values;
}

}  // namespace dbg_internal
