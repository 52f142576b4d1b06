// The module list's rule, applied by the back end to its own process and by
// qpdebug to any process.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#include "dbg_modulelist.h"

#include <windows.h>

#include <cwchar>

namespace dbg_internal {

namespace {
const wchar_t* const kInstallerProcesses[] = {
    L"setup", L"QpRemoteInstallAgent", L"instDeployHelper", L"DeployLauncher", L"MsiExec", L"QpMFCApp"};
}  // namespace

bool IsInstallerProcess(const wchar_t* processBaseName) {
    for (const wchar_t* installer : kInstallerProcesses)
        if (_wcsicmp(processBaseName, installer) == 0) return true;
    return false;
}

bool ModuleListSwitchesOn(const std::wstring& moduleList, const std::wstring& processBaseName) {
    std::wstring list = moduleList;
    std::wstring name = processBaseName;
    _wcslwr(&list[0]);
    _wcslwr(&name[0]);
    if (IsInstallerProcess(name.c_str())) return true;
    size_t found = name.empty() ? std::wstring::npos : list.find(name);
    if (found == std::wstring::npos) return false;
    size_t flag = found + name.size() + 1;
    return flag >= list.size() || list[flag] != L'0';
}

// Only '/' separates folders: a backslash is part of a Linux file name.
std::wstring ProcessBaseNameOf(const wchar_t* executablePath) {
    if (!executablePath) return std::wstring();
    std::wstring name = executablePath;
    size_t slash = name.rfind(L'/');
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

}  // namespace dbg_internal
