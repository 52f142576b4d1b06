// The rules of where a process's log file lies, and of where its records
// go when that file cannot be written.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#include "dbg_loglocation.h"

#include <windows.h>

#include <cwchar>

#include "dbg_modulelist.h"

namespace dbg_internal {

namespace {

bool IsPathSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// The executable's path with its extension replaced by the run identifier and
// ".log". Only the file name (after the last '/': a backslash is part of a
// name) is cut at its last '.', never a directory. A run identifier that does
// not fit the environment buffer adds nothing.
bool ComposeLogNamePath(std::wstring& namePath, const std::wstring& runId) {
    size_t fileName = namePath.rfind(L'/');
    fileName = fileName == std::wstring::npos ? 0 : fileName + 1;
    size_t dot = namePath.rfind(L'.');
    if (dot != std::wstring::npos && dot >= fileName) namePath.resize(dot);
    if (!runId.empty() && runId.size() < MAX_PATH) namePath += L"-" + runId;
    namePath += L".log";
    return namePath.size() < MAX_PATH;
}

}  // namespace

std::wstring LogDirectory(const std::wstring& homeDir, const std::wstring& tempDir,
                          std::wstring* debugFolder) {
    if (!homeDir.empty()) {
        std::wstring folder = homeDir + (IsPathSeparator(homeDir.back()) ? L"Debug" : L"/Debug");
        if (folder.size() < MAX_PATH) {
            if (debugFolder) *debugFolder = folder;
            return folder;
        }
    }
    return tempDir.size() < MAX_PATH ? tempDir : std::wstring();
}

std::wstring JoinLogPath(const std::wstring& directory, const std::wstring& name) {
    std::wstring path = directory;
    if (!path.empty() && !IsPathSeparator(path.back())) path += L'/';
    return path + name;
}

bool ComposeLogLocation(const LogLocationInputs& inputs, LogLocation* location) {
    location->path.clear();
    location->debugFolder.clear();
    std::wstring namePath = inputs.executablePath.substr(0, MAX_PATH - 1);
    std::wstring processBaseName = ProcessBaseNameOf(namePath.c_str());
    if (!ComposeLogNamePath(namePath, inputs.runId)) return false;

    std::wstring homeDir = IsInstallerProcess(processBaseName.c_str()) ? std::wstring() : inputs.homeDir;
    std::wstring debugFolder;
    std::wstring directory = LogDirectory(homeDir, inputs.tempDir, &debugFolder);

    size_t slash = namePath.rfind(L'/');
    std::wstring name = slash == std::wstring::npos ? namePath : namePath.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
    name.resize(name.size() - extension.size());
    // The installer's front end logs under the installer's name.
    if (_wcsicmp(name.c_str(), L"QpMFCApp") == 0) name = L"Setup";

    std::wstring path = JoinLogPath(directory, name + extension);
    if (path.size() >= MAX_PATH) return false;
    location->path = path;
    location->debugFolder = debugFolder;
    return true;
}

namespace {

size_t AfterLastSeparator(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

// worker.log becomes worker.<pid>.log: a name no other process uses.
std::string OwnName(const std::string& name, unsigned long processId) {
    std::string stem = name;
    const std::string extension = ".log";
    if (stem.size() > extension.size() &&
        stem.compare(stem.size() - extension.size(), extension.size(), extension) == 0)
        stem.resize(stem.size() - extension.size());
    return stem + "." + std::to_string(processId) + extension;
}

}  // namespace

std::vector<std::string> LogFilePlaces(const std::string& configured, const std::string& tempDir,
                                       unsigned long processId) {
    size_t cut = AfterLastSeparator(configured);
    std::string folder = configured.substr(0, cut);
    std::string name = configured.substr(cut);
    std::vector<std::string> places{configured};
    if (tempDir.empty() || name.empty()) return places;
    if (folder != tempDir) places.push_back(tempDir + name);
    places.push_back(tempDir + OwnName(name, processId));
    return places;
}

}  // namespace dbg_internal
