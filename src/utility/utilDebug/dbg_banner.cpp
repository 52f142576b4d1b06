// The stress-run banner (DBG::StressLogTitle) and the stress runs' own line
// (StressLogEx).
// On the library's ladder: entry points; it includes no unit above (scripts/ladder.sh).
#include <stdlib.h>
#include <utilDebug.h>
#include <windows.h>

namespace dbg_internal {
namespace {

// Stress-run tools find the banner's records by this location and these
// lines, so they stay fixed wherever the code lives.
constexpr wchar_t kBannerFile[] = L"dbg_ns_debug.cpp";
constexpr int kBannerLevel = 291;  // a debug-level code: shown at debug mode 3 only

constexpr wchar_t kStarRow[] = L"**********************************************************************\n";
static_assert(sizeof kStarRow / sizeof kStarRow[0] == 72, "70 asterisks, a line feed and a terminator");

struct FileVersionNumbers {
    unsigned major = 0, minor = 0, third = 0, fourth = 0;
};

template <typename... Values>
void BannerRecord(int line, const wchar_t* format, Values... values) {
    DBG::DebugLogEx(DBG_THIS_MODULE, kBannerLevel, kBannerFile, line, format, values...);
}

// The fixed file version of the file at path; all zero when it has none.
bool GetFileVersionNumbers(const wchar_t* path, FileVersionNumbers* numbers) {
    *numbers = FileVersionNumbers();
    if (!path || !*path) return false;
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &unused);
    if (size == 0) return false;
    void* block = malloc(size);
    if (!block) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    bool read = GetFileVersionInfoW(path, 0, size, block) &&
                VerQueryValueW(block, L"\\", reinterpret_cast<LPVOID*>(&info), &infoSize) && info;
    if (read) {
        numbers->major = HIWORD(info->dwFileVersionMS);
        numbers->minor = LOWORD(info->dwFileVersionMS);
        numbers->third = HIWORD(info->dwFileVersionLS);
        numbers->fourth = LOWORD(info->dwFileVersionLS);
    }
    free(block);
    return read;
}

void StartTimeRecord(int line) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[1024] = {};
    _snwprintf(text, 1023, L"Started at   : %02d/%02d/%02d %02d:%02d:%02d", now.wYear % 100, now.wMonth,
               now.wDay, now.wHour, now.wMinute, now.wSecond);
    BannerRecord(line, text);
}

void SoftwareRecords() {
    wchar_t executable[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, executable, MAX_PATH);
    FileVersionNumbers version;
    GetFileVersionNumbers(executable, &version);
    BannerRecord(1081, L"Software:");
    BannerRecord(1082, L"    Version:%d.%d", version.major, version.minor);
    // The third number is read but not shown: "Build" is the fourth.
    BannerRecord(1083, L"    Build:%d\n", version.fourth);
}

void ContextRecords() {
    // The capacity counts the terminator, so a name of 15 characters does not
    // fit and leaves the zeroed buffer: the label alone.
    wchar_t computerName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD capacity = MAX_COMPUTERNAME_LENGTH;
    GetComputerNameW(computerName, &capacity);
    BannerRecord(1091, L"Context:");
    BannerRecord(1092, L"    Machine:%s", computerName);
    BannerRecord(1094, L"    OS ver.:");
    BannerRecord(1095, L"    OrgName:\n");
}

void ProcessRecords() {
    BannerRecord(1099, L"Process:");
    BannerRecord(1100, L"    PID    :%d", GetCurrentProcessId());
    BannerRecord(1101, L"    Thread :%d\n", GetCurrentThreadId());
}

}  // namespace
}  // namespace dbg_internal

using namespace dbg_internal;

namespace DBG {

void StressLogTitle() {
    BannerRecord(1060, kStarRow);
    StartTimeRecord(1070);
    BannerRecord(1071, L"Terminated at:");
    BannerRecord(1072, L"Elapsed time :\n");
    SoftwareRecords();
    ContextRecords();
    ProcessRecords();
    BannerRecord(1104, L"LOG Recycle Count:");
    BannerRecord(1106, kStarRow);
}

}  // namespace DBG

extern "C" void StressLogEx(int level, const wchar_t* file, int line, const wchar_t* text) {
    // The text is the record as it stands: handed over as an argument, a "%"
    // in it can never make the formatting read an argument nobody passed.
    if (text) DBG::DebugLogEx(nullptr, level, file, line, L"%s", text);
}
