// The commands of qpdebug; each returns the exit status (0 done, 1 failed,
// 2 bad usage).
#pragma once

#include <string>
#include <vector>

namespace qpdebug {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Status(bool json);
// level: "" (keep, unless nothing would be written), fatal, error, info or all.
int SwitchOn(const std::string& name, const std::string& level);
int SwitchOff(const std::string& name);
int Silence(const std::string& name, bool silence);
int Where(const std::string& target);
int Tail(const std::string& target, long lines);
int Dump(const std::string& target);
// Names for scripts and completion: processes, modules or features.
int Names(const std::string& kind);

// The module list with the entry for name set to on or off: the entry that
// names it keeps its place and separator; without one, "name=1" or "name=0"
// is appended. Other entries stay as they are. Empty, with *problem set, when
// no such list gives name the wanted flag under the module list's rule.
std::wstring EditModuleList(const std::wstring& list, const std::wstring& name, bool on,
                            std::string* problem);
// A ';'-separated list with name added (unless there, ignoring case) or
// removed; other names keep their text and order.
std::wstring EditNameList(const std::wstring& list, const std::wstring& name, bool add);

}  // namespace qpdebug
