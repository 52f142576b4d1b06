// The log file's location and name, composed once per process from what the
// process knows of itself.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#include "dbg_logpath.h"

#include <windows.h>

#include <cwchar>

#include "ProductRegINIReader.h"
#include "dbg_defaults.h"
#include "dbg_loglocation.h"
#include "dbg_registry.h"

namespace dbg_internal {

namespace {

std::wstring TemporaryDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer);
}

// HomeDir under the given key and name, or empty.
std::wstring ReadHomeDir(const wchar_t* keyPath, const wchar_t* homeDirName) {
    HKEY key = OpenProductKeyForReading(keyPath);
    if (!key || !homeDirName) return std::wstring();
    CKeyCloser closer(key);
    return ReadTextSetting(key, homeDirName, kHomeDirRule).text;
}

// Only this one level is created; it may exist already.
void CreateDebugFolder(const std::wstring& folder) {
    if (!folder.empty()) CreateDirectoryW(folder.c_str(), nullptr);
}

}  // namespace

// Never destroyed: a record logged at exit still finds it.
const std::wstring& ProcessBaseName() {
    static const std::wstring* const name = [] {
        wchar_t executable[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, executable, MAX_PATH);
        return new std::wstring(ProcessBaseNameOf(executable));
    }();
    return *name;
}

// A path that does not fit leaves the buffer empty, and the back end then
// composes its own.
bool BuildLogFilePath(wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return false;
    buffer[0] = L'\0';

    LogLocationInputs inputs;
    wchar_t executable[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, executable, MAX_PATH);
    inputs.executablePath = executable;
    wchar_t runId[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"NL_DEBUG_LOG_OUTPUT_ID", runId, MAX_PATH) != 0) inputs.runId = runId;
    if (!IsInstallerProcess(ProcessBaseName().c_str()))
        inputs.homeDir = ReadHomeDir(g_productRegistry.keyPath, g_productRegistry.homeDir);
    inputs.tempDir = TemporaryDirectory();

    LogLocation location;
    if (!ComposeLogLocation(inputs, &location)) return true;
    CreateDebugFolder(location.debugFolder);
    if (location.path.size() < static_cast<size_t>(size))
        wmemcpy(buffer, location.path.c_str(), location.path.size() + 1);
    return true;
}

std::wstring ComposeFallbackLogPath(const std::wstring& processBaseName) {
    std::wstring debugFolder;
    std::wstring directory =
        LogDirectory(ReadHomeDir(kDefaultProductKeyPath, kValueHomeDir), TemporaryDirectory(), &debugFolder);
    CreateDebugFolder(debugFolder);
    return JoinLogPath(directory, processBaseName + L".log");
}

}  // namespace dbg_internal
