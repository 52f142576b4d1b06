// The log file's location and name, composed once per process.
#include "dbg_logpath.h"

#include <windows.h>

#include <cwchar>

#include "ProductRegINIReader.h"
#include "dbg_settings.h"

namespace {

const wchar_t* const kInstallerProcesses[] = {
    L"setup", L"QpRemoteInstallAgent", L"instDeployHelper", L"DeployLauncher", L"MsiExec", L"QpMFCApp"};

bool IsPathSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool EndsInSeparator(const std::wstring& path) { return !path.empty() && IsPathSeparator(path.back()); }

// Bounded append; false when the text did not fit whole.
bool Append(wchar_t* buffer, size_t size, const wchar_t* text) {
    size_t used = wcslen(buffer);
    size_t length = wcslen(text);
    if (used + length >= size) return false;
    wmemcpy(buffer + used, text, length + 1);
    return true;
}

void GetTemporaryDirectory(wchar_t* buffer, size_t size) {
    DWORD length = GetTempPathW(static_cast<DWORD>(size), buffer);
    if (length == 0 || length >= size) buffer[0] = L'\0';
}

// Appends the "Debug" folder to a home directory, with a separator when needed.
bool AppendDebugFolder(wchar_t* directory, size_t size) {
    size_t length = wcslen(directory);
    bool endsInSeparator = length > 0 && IsPathSeparator(directory[length - 1]);
    return Append(directory, size, endsInSeparator ? L"Debug" : L"/Debug");
}

// The home directory's "Debug" folder (created when missing) when HomeDir is
// set under the given key and name, else the temporary directory. HomeDir is
// read with 260 registry bytes: at most 129 characters.
void ChooseLogDirectory(bool useHomeDir, const wchar_t* keyPath, const wchar_t* homeDirName,
                        wchar_t* directory, size_t size) {
    if (useHomeDir) {
        wchar_t homeDir[MAX_PATH] = {};
        if (ReadRegistryString(homeDir, MAX_PATH, keyPath, homeDirName)) {
            wcsncpy(directory, homeDir, size - 1);
            directory[size - 1] = L'\0';
            if (AppendDebugFolder(directory, size)) {
                CreateDirectoryW(directory, nullptr);
                return;
            }
        }
    }
    GetTemporaryDirectory(directory, size);
}

// directory, a separator when it has none at its end, and the name.
std::wstring JoinPath(const wchar_t* directory, const std::wstring& name) {
    std::wstring path = directory;
    if (!path.empty() && !EndsInSeparator(path)) path += L'/';
    return path + name;
}

// The executable's path with its extension replaced by the run identifier and
// ".log". Only the file name is cut at its last '.', never a directory.
bool ComposeLogNamePath(wchar_t* namePath, size_t size) {
    wchar_t* fileName = namePath;
    for (wchar_t* p = namePath; *p; ++p)
        if (IsPathSeparator(*p)) fileName = p + 1;
    if (wchar_t* dot = wcsrchr(fileName, L'.')) *dot = L'\0';
    wchar_t runId[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"NL_DEBUG_LOG_OUTPUT_ID", runId, MAX_PATH) != 0 && runId[0] != L'\0') {
        if (!Append(namePath, size, L"-") || !Append(namePath, size, runId)) return false;
    }
    return Append(namePath, size, L".log");
}

}  // namespace

bool IsInstallerProcess(const wchar_t* processBaseName) {
    for (const wchar_t* installer : kInstallerProcesses)
        if (_wcsicmp(processBaseName, installer) == 0) return true;
    return false;
}

void GetProcessBaseName(wchar_t* buffer, size_t size) {
    wchar_t executable[MAX_PATH] = {};
    wchar_t name[_MAX_FNAME] = {};
    GetModuleFileNameW(nullptr, executable, MAX_PATH);
    _wsplitpath(executable, nullptr, nullptr, name, nullptr);
    wcsncpy(buffer, name, size - 1);
    buffer[size - 1] = L'\0';
}

// <HomeDir>/Debug/<executable>[-<run id>].log, or the same name in the
// temporary directory. A path that does not fit leaves the buffer empty, and
// the back end then composes its own.
bool BuildLogFilePath(wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return false;
    buffer[0] = L'\0';

    wchar_t namePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, namePath, MAX_PATH);
    wchar_t processBaseName[_MAX_FNAME] = {};
    _wsplitpath(namePath, nullptr, nullptr, processBaseName, nullptr);
    if (!ComposeLogNamePath(namePath, MAX_PATH)) return true;

    wchar_t directory[MAX_PATH] = {};
    ChooseLogDirectory(!IsInstallerProcess(processBaseName), g_productRegistry.keyPath,
                       g_productRegistry.homeDir, directory, MAX_PATH);

    wchar_t name[_MAX_FNAME] = {};
    wchar_t extension[_MAX_EXT] = {};
    _wsplitpath(namePath, nullptr, nullptr, name, extension);
    // The installer's front end logs under the installer's name.
    if (_wcsicmp(name, L"QpMFCApp") == 0) wcscpy(name, L"Setup");

    std::wstring path = JoinPath(directory, std::wstring(name) + extension);
    if (path.size() < static_cast<size_t>(size)) wmemcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

std::wstring ComposeFallbackLogPath(const std::wstring& processBaseName) {
    wchar_t directory[MAX_PATH] = {};
    ChooseLogDirectory(true, kDefaultProductKeyPath, L"HomeDir", directory, MAX_PATH);
    return JoinPath(directory, processBaseName + L".log");
}
