// The module list (DebugModule): which processes log.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <string>

namespace dbg_internal {

// The installers always log, into the temporary directory.
bool IsInstallerProcess(const wchar_t* processBaseName);

// Whether the list switches on the process of that base name (the
// executable's file name without directory and extension). The list names
// each process that logs by that name, then any one separator character,
// then a flag: "0" is off, anything else on; letter case plays no part. Only
// the first occurrence of the name counts, also inside a longer word; a name
// that ends the list, with no flag after it, counts as on. Installers are
// always on; an empty name is off.
bool ModuleListSwitchesOn(const std::wstring& moduleList, const std::wstring& processBaseName);

// The executable's file name (what follows its last '/') without its extension.
std::wstring ProcessBaseNameOf(const wchar_t* executablePath);

}  // namespace dbg_internal
