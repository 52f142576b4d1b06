// on, off, silence and unsilence: changes of the settings, written under the
// product key, and what running processes make of them.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <cstdio>
#include <set>

#include "commands.h"
#include "dbg_defaults.h"
#include "dbg_modulelist.h"
#include "dbg_registry.h"
#include "machine.h"
#include "output.h"

using namespace dbg_internal;

namespace qpdebug {

namespace {

const char kPickUp[] = "Running processes apply it within a minute, at their next record.";

std::wstring Lower(std::wstring text) {
    if (!text.empty()) _wcslwr(&text[0]);
    return text;
}

std::vector<std::wstring> Split(const std::wstring& list) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(L';', start);
        if (end == std::wstring::npos) end = list.size();
        pieces.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::wstring Join(const std::vector<std::wstring>& pieces) {
    std::wstring list;
    for (const std::wstring& piece : pieces) {
        if (piece.empty()) continue;
        if (!list.empty()) list += L';';
        list += piece;
    }
    return list;
}

// Whether a module list entry names the process: its name, then nothing or
// a separator and a flag.
bool EntryNames(const std::wstring& entry, const std::wstring& name) {
    std::wstring lower = Lower(entry);
    if (lower.compare(0, name.size(), Lower(name)) != 0) return false;
    return lower.size() == name.size() || (lower.size() <= name.size() + 2 && !iswalnum(lower[name.size()]));
}

std::wstring EntryName(const std::wstring& entry) {
    size_t end = entry.find_first_of(L"=: ");
    return entry.substr(0, end);
}

// Creates the product key when missing, so that a first change works on a
// fresh machine; false, with the reason said, when the registry may not be
// written by this user.
bool MayWrite() {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDefaultProductKeyPath, 0, nullptr, 0, KEY_WRITE,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
        return true;
    }
    if (status == ERROR_ACCESS_DENIED)
        Error("the registry " + Shown(RegistryFile()) +
              " may be changed only by its owner; run qpdebug as root (sudo qpdebug ...)");
    else
        Error("cannot open the product key in the registry " + Shown(RegistryFile()) + " (error " +
              std::to_string(status) + ")");
    return false;
}

bool Write(const wchar_t* name, const std::wstring& text) {
    if (WriteRegistryString(text.c_str(), kDefaultProductKeyPath, name)) return true;
    Error("cannot write " + ToUtf8(name) + " in the registry " + Shown(RegistryFile()));
    return false;
}

// The level names of the debug modes 0 to 3: the threshold each lets through.
const char* const kLevelNames[] = {"fatal", "error", "warn", "debug"};

int LevelOf(const std::string& name) {
    for (int mode = 0; mode < 4; ++mode)
        if (name == kLevelNames[mode]) return mode;
    return -1;
}

// Whether the settings may be edited: a value built from a read that failed,
// or from a value cut to what processes read, would lose what it left out.
// list: the disabled list to be edited, or null for the module list.
bool Editable(const Settings& settings, const DisabledListValue* list, const char* listName) {
    std::string problem;
    if (!settings.complete)
        problem = "the settings could not all be read from the registry " + Shown(RegistryFile());
    else if (!list && !settings.moduleList.Whole())
        problem = "DebugModule is longer than the " + std::to_string(kModuleListMaxLength) +
                  " characters a process reads";
    else if (list && !list->whole)
        problem = std::string(listName) + " is longer than the " + std::to_string(kDisabledListLimit) +
                  " characters a process reads";
    if (problem.empty()) return true;
    Error(problem + "; nothing is changed (qpreg edits the value as it stands)");
    return false;
}

// What running processes of that name do now, and will do.
void TellRunning(const std::string& name, bool on, const std::string& newPath) {
    for (const Process& process : FindProcesses()) {
        if (_wcsicmp(FromUtf8(process.name).c_str(), FromUtf8(name).c_str()) != 0) continue;
        std::string line = "  pid " + std::to_string(process.pid) + ": ";
        if (!process.otherRegistry.empty()) {
            line += "reads the registry " + Shown(process.otherRegistry) + ", not this one";
        } else if (!on) {
            line += "stops logging within a minute, at its next record";
        } else if (!process.openLog.empty() && process.openLog != newPath) {
            line += "keeps logging into " + Shown(process.openLog) +
                    ", the file it chose when it started; restart it to log into " + Shown(newPath);
        } else if (!process.openLog.empty()) {
            line += "logs into " + Shown(process.openLog) + " within a minute, at its next record";
        } else {
            line +=
                "starts logging within a minute, at its next record (into the file it chose when it "
                "started, " +
                Shown(process.wouldUse) + " unless HomeDir changed since)";
        }
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace

std::wstring EditModuleList(const std::wstring& list, const std::wstring& name, bool on,
                            std::string* problem) {
    const wchar_t flag = on ? L'1' : L'0';
    std::vector<std::wstring> pieces = Split(list);
    bool found = false;
    for (auto it = pieces.begin(); it != pieces.end();) {
        if (!EntryNames(*it, name)) {
            ++it;
            continue;
        }
        if (found) {
            it = pieces.erase(it);
            continue;
        }
        wchar_t separator = it->size() > name.size() ? (*it)[name.size()] : L'=';
        *it = it->substr(0, name.size()) + separator + flag;
        found = true;
        ++it;
    }
    if (!found) pieces.push_back(name + L'=' + flag);
    std::wstring edited = Join(pieces);
    if (ModuleListSwitchesOn(edited, name) == on) return edited;
    // The name stands inside an earlier entry (coworker=0 for worker): the
    // entry goes first, if that changes no other entry's outcome.
    std::vector<std::wstring> others;
    std::wstring own;
    for (const std::wstring& piece : Split(edited)) {
        if (EntryNames(piece, name))
            own = piece;
        else
            others.push_back(piece);
    }
    others.insert(others.begin(), own);
    std::wstring moved = Join(others);
    bool othersKept = std::all_of(others.begin() + 1, others.end(), [&](const std::wstring& piece) {
        std::wstring other = EntryName(piece);
        return other.empty() || ModuleListSwitchesOn(moved, other) == ModuleListSwitchesOn(list, other);
    });
    if (ModuleListSwitchesOn(moved, name) == on && othersKept) return moved;
    *problem = "the module list \"" + Shown(ToUtf8(list)) + "\" cannot switch " + Shown(ToUtf8(name)) +
               (on ? " on" : " off") +
               " without changing another entry: the first place where the name appears decides, also inside "
               "a longer name";
    return std::wstring();
}

std::wstring EditNameList(const std::wstring& list, const std::wstring& name, bool add) {
    std::vector<std::wstring> pieces = Split(list);
    auto same = [&](const std::wstring& piece) { return _wcsicmp(piece.c_str(), name.c_str()) == 0; };
    bool present = std::any_of(pieces.begin(), pieces.end(), same);
    if (add && !present) pieces.push_back(name);
    if (!add) pieces.erase(std::remove_if(pieces.begin(), pieces.end(), same), pieces.end());
    return Join(pieces);
}

// The module list as edited; empty, with the reason said, when it may not be.
bool EditedModuleList(const Settings& settings, const std::string& name, bool on, std::wstring* list) {
    if (!Editable(settings, nullptr, nullptr)) return false;
    std::string problem;
    *list = EditModuleList(settings.moduleList.text, FromUtf8(name), on, &problem);
    if (problem.empty() && list->size() > kModuleListMaxLength)
        problem = "DebugModule would be longer than the " + std::to_string(kModuleListMaxLength) +
                  " characters a process reads";
    if (problem.empty()) return true;
    Error(problem);
    return false;
}

int SwitchOn(const std::string& name, const std::string& level) {
    int mode = level.empty() ? -1 : LevelOf(level);
    if (!level.empty() && mode < 0) {
        Error("unknown level '" + Shown(level) + "': fatal, error, warn or debug");
        return kExitUsage;
    }
    std::wstring wideName = FromUtf8(name);
    Settings settings = ReadSettings(DefaultNames());
    std::wstring list;
    if (!EditedModuleList(settings, name, true, &list)) return kExitFailure;
    // A level that lets nothing through would switch nothing on.
    if (mode < 0 && ThresholdOfMode(settings.mode) == Threshold::kOff) mode = kDefaultDebugMode;
    if (!MayWrite() || !Write(kValueDebugModule, list)) return kExitFailure;
    if (mode >= 0 && !WriteRegistryDword(mode, kDefaultProductKeyPath, kValueDebugLevel)) {
        Error("cannot write DebugLevel in the registry " + Shown(RegistryFile()));
        return kExitFailure;
    }
    int inForce = mode >= 0 ? mode : settings.mode;
    std::string path = LogFileForName(name, settings);
    std::printf("%s is switched on (DebugModule \"%s\").\n", Shown(name).c_str(),
                Shown(ToUtf8(list)).c_str());
    std::printf("DebugLevel %d%s, level %s: it applies to every program of the machine.\n", inForce,
                mode >= 0 ? " (changed)" : "",
                ThresholdOfMode(inForce) == Threshold::kOff ? "off" : kLevelNames[inForce]);
    if (IsInstallerProcess(wideName.c_str()))
        std::printf("%s is an installer: it always logs, into the temporary directory.\n",
                    Shown(name).c_str());
    std::printf("A %s started now logs into %s.\n", Shown(name).c_str(), Shown(path).c_str());
    if (settings.homeDir.text.empty())
        std::printf(
            "HomeDir is not set, so that is the temporary directory. To keep the logs in <home>/Debug, set "
            "it\n"
            "(qpreg add 'HKLM\\%s' /v HomeDir /t REG_SZ /d <home> /f) before %s starts:\n"
            "a process reads HomeDir once, when it starts, and keeps that file for its life.\n",
            ToUtf8(kDefaultProductKeyPath).c_str(), Shown(name).c_str());
    std::printf("%s\n", kPickUp);
    TellRunning(name, true, path);
    return 0;
}

int SwitchOff(const std::string& name) {
    std::wstring wideName = FromUtf8(name);
    if (IsInstallerProcess(wideName.c_str())) {
        Error(Shown(name) + " is an installer: installers always log, whatever the module list says");
        return kExitFailure;
    }
    Settings settings = ReadSettings(DefaultNames());
    std::wstring list;
    if (!EditedModuleList(settings, name, false, &list)) return kExitFailure;
    if (!MayWrite() || !Write(kValueDebugModule, list)) return kExitFailure;
    std::printf("%s is switched off (DebugModule \"%s\").\n%s\n", Shown(name).c_str(),
                Shown(ToUtf8(list)).c_str(), kPickUp);
    TellRunning(name, false, std::string());
    return 0;
}

int Silence(const std::string& name, bool silence) {
    if (name.empty() || name.find(';') != std::string::npos) {
        Error("'" + Shown(name) + "' is no module or feature name");
        return kExitUsage;
    }
    Settings settings = ReadSettings(DefaultNames());
    std::wstring wideName = FromUtf8(name);
    bool isFeature = std::any_of(settings.features.begin(), settings.features.end(),
                                 [&](const FeatureEntry& f) { return f.name == Lower(wideName); });
    if (!Editable(settings, &settings.disabled.features, "DebugLogDisabledFeatures") ||
        !Editable(settings, &settings.disabled.dlls, "DebugLogDisabledDlls"))
        return kExitFailure;
    std::wstring features = settings.disabled.features.text;
    std::wstring dlls = settings.disabled.dlls.text;
    std::string what;
    if (silence) {
        // A name with an extension is a module (libfoo.so, worker); one the
        // mapping file lists as a section is a feature.
        bool isModule = !isFeature && name.find('.') != std::string::npos;
        if (!isFeature && !isModule) {
            Warning(settings.mappingFile.empty()
                        ? "no feature mapping file is in use (DataRootPath is not set): the feature " +
                              Shown(name) + " silences nothing"
                        : "the feature mapping file " + Shown(ToUtf8(settings.mappingFile)) +
                              " has no feature " + Shown(name) +
                              ": it silences nothing until the file lists it");
        }
        if (isModule) {
            dlls = EditNameList(dlls, wideName, true);
            what = "module";
        } else {
            features = EditNameList(features, wideName, true);
            what = "feature";
        }
    } else {
        std::wstring newFeatures = EditNameList(features, wideName, false);
        std::wstring newDlls = EditNameList(dlls, wideName, false);
        if (newFeatures == Join(Split(features)) && newDlls == Join(Split(dlls))) {
            std::printf(
                "%s is not silenced: neither DebugLogDisabledDlls nor DebugLogDisabledFeatures names it.\n",
                Shown(name).c_str());
            return 0;
        }
        what = newFeatures != Join(Split(features)) ? "feature" : "module";
        features = newFeatures;
        dlls = newDlls;
    }
    if ((what == "feature" ? features : dlls).size() > kDisabledListLimit) {
        Error(std::string(what == "feature" ? "DebugLogDisabledFeatures" : "DebugLogDisabledDlls") +
              " would be longer than the " + std::to_string(kDisabledListLimit) +
              " characters a process reads");
        return kExitFailure;
    }
    if (!MayWrite()) return kExitFailure;
    if (what == "feature" && !Write(kValueDisabledFeatures, features)) return kExitFailure;
    if (what == "module" && !Write(kValueDisabledDlls, dlls)) return kExitFailure;
    std::printf("The %s %s is %s (%s \"%s\").\n", what.c_str(), Shown(name).c_str(),
                silence ? "silenced" : "no longer silenced",
                what == "feature" ? "DebugLogDisabledFeatures" : "DebugLogDisabledDlls",
                Shown(ToUtf8(what == "feature" ? features : dlls)).c_str());
    Settings after = ReadSettings(DefaultNames());
    std::string modules;
    for (const std::wstring& module : after.silencedModules)
        modules += (modules.empty() ? "" : ", ") + Shown(ToUtf8(module));
    std::printf("Silenced modules now: %s.\n%s\n", modules.empty() ? "none" : modules.c_str(), kPickUp);
    return 0;
}

}  // namespace qpdebug
