// Reads and writes of the product's settings in the registry, below
// HKEY_LOCAL_MACHINE: the routines the settings store, the back end and the
// qpdebug tool share, so that every reader takes a value the same way.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace dbg_internal {

// The product key that the back end's own reads use, whatever the product
// registry file says.
extern const wchar_t kDefaultProductKeyPath[];

// Tells whether a registry read of the calling thread went unanswered since
// this was built: the store was busy or failed. A missing key or value is an
// answer; an unanswered read must not count as one.
class CSettingsReadCheck {
  public:
    CSettingsReadCheck();
    bool Unanswered() const;

  private:
    unsigned start_;
};
// Notes the outcome of one registry read for CSettingsReadCheck.
void NoteSettingsRead(LSTATUS status);

// Opens keyPath below HKEY_LOCAL_MACHINE, 64-bit view first; null when
// neither view opens.
HKEY OpenProductKey(const wchar_t* keyPath, REGSAM access);
HKEY OpenProductKeyForReading(const wchar_t* keyPath);

// Queries a value into a 4-byte integer whatever its type, as Windows does; a
// value longer than 4 bytes fails and leaves *value as it was.
bool QueryDwordValue(HKEY key, const wchar_t* valueName, int* value);

// Registry reads below HKEY_LOCAL_MACHINE. A null key path or value name fails.
bool ReadRegistryDword(int* value, const wchar_t* keyPath, const wchar_t* valueName);
// size is the capacity handed to the registry, in its bytes; an empty text
// counts as a failed read.
bool ReadRegistryString(wchar_t* buffer, DWORD size, const wchar_t* keyPath, const wchar_t* valueName);

// Reads a text value of any length and keeps its first maxLength characters:
// a long value is cut, not ignored. False when the value is missing or
// unreadable; its type is not checked.
bool QueryTextValue(HKEY key, const wchar_t* valueName, size_t maxLength, std::wstring* text);

// DebugLogFormat into *format when it is set and not empty; read with 1,023
// registry bytes: 510 characters and the terminator.
bool ReadLogFormat(HKEY key, std::wstring* format);
// DebugLogDiagnostics, set to anything but 0.
bool ReadDiagnosticsSwitch(HKEY key);

// DebugLogDestination (dbg_destination's rule) under the open key; false
// when it was not answered (the caller keeps what it has).
bool ReadLogDestination(HKEY key, unsigned* destination);
// The same under the key path; the file when it cannot be read.
unsigned ReadLogDestinationAt(const wchar_t* keyPath);

// The most of DebugModule that is read: the rest is ignored.
constexpr size_t kModuleListMaxLength = 24575;

// How a text setting is read. With cutLength set, a value of any length is
// read and its first cutLength characters count. Otherwise it is read with
// readBytes registry bytes (two a UTF-16 unit, the ending NUL included), and
// a value that does not fit is not taken at all: the setting's default holds.
struct TextSettingRule {
    DWORD readBytes;
    size_t cutLength;
};
constexpr TextSettingRule kModuleListRule{0, kModuleListMaxLength};
// DebugLogDisabledDlls and DebugLogDisabledFeatures (kDisabledListLimit).
extern const TextSettingRule kDisabledListRule;
// HomeDir: 260 bytes, at most 129 characters.
extern const TextSettingRule kHomeDirRule;
// DebugLogFormat: 1,023 bytes, at most 510 characters.
constexpr TextSettingRule kLogFormatRule{1023, 0};
// DebugLogDestination: 126 bytes, at most 62 characters.
constexpr TextSettingRule kLogDestinationRule{126, 0};

// What one read of a text setting gave. kTooLong: the value does not fit and
// is not taken; kCut: only its first cutLength characters are taken;
// kFailed: the registry did not answer or refused the read.
enum class TextSettingOutcome { kRead, kMissing, kCut, kTooLong, kFailed };
struct TextSetting {
    TextSettingOutcome outcome = TextSettingOutcome::kMissing;
    std::wstring text;  // what a process takes; empty unless kRead or kCut
    // Whether the text may be taken as the whole value, to be edited and
    // written back (a missing value is an empty one).
    bool Whole() const {
        return outcome == TextSettingOutcome::kRead || outcome == TextSettingOutcome::kMissing;
    }
};
// Reads a text setting under an open key by its rule: the one reading of the
// library and of qpdebug. Without cutLength, an empty value counts as missing.
TextSetting ReadTextSetting(HKEY key, const wchar_t* valueName, const TextSettingRule& rule);

// Writes below an existing key; false when the key does not open for writing
// or the value cannot be set.
bool WriteRegistryDword(int value, const wchar_t* keyPath, const wchar_t* valueName);
bool WriteRegistryString(const wchar_t* text, const wchar_t* keyPath, const wchar_t* valueName);

// How long the registry may keep one logging call waiting, in total, while
// another process holds it locked; and how soon settings that could not be
// read are read again.
constexpr DWORD kLoggingCallRegistryWaitMs = 100;
constexpr DWORD kUnreadSettingsRetryMs = 2000;

// The registry reads of the calling thread share one wait budget while this
// lives (a nested one changes nothing); with inUse false it does nothing.
class CRegistryWaitBudget {
  public:
    explicit CRegistryWaitBudget(bool inUse = true) : inUse_(inUse) {
        if (inUse_) NlBeginRegistryWaitBudget(kLoggingCallRegistryWaitMs);
    }
    ~CRegistryWaitBudget() {
        if (inUse_) NlEndRegistryWaitBudget();
    }
    CRegistryWaitBudget(const CRegistryWaitBudget&) = delete;
    CRegistryWaitBudget& operator=(const CRegistryWaitBudget&) = delete;

  private:
    bool inUse_;
};

// A disabled list as read from the registry: whether it could be, and its text.
struct DisabledListValue {
    bool read = false;
    bool whole = false;  // the text is the whole value (or it is missing), not cut or unread
    std::wstring text;
};
struct DisabledListValues {
    DisabledListValue features;  // DebugLogDisabledFeatures
    DisabledListValue dlls;      // DebugLogDisabledDlls
};
// Reads both values from an open key: each its first 2,047 characters, a
// longer value cut; the type is not checked.
DisabledListValues ReadDisabledLists(HKEY key);

// Closes a key when it goes out of scope.
class CKeyCloser {
  public:
    explicit CKeyCloser(HKEY key) : key_(key) {}
    ~CKeyCloser() {
        if (key_) RegCloseKey(key_);
    }
    CKeyCloser(const CKeyCloser&) = delete;
    CKeyCloser& operator=(const CKeyCloser&) = delete;

  private:
    HKEY key_;
};

}  // namespace dbg_internal
