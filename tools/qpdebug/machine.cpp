// The settings and the processes, judged by the library's own rules
// (utilDebug_rules): the same registry reads and defaults, the same module
// list evaluation, the same log file location.
#include "machine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "ModuleName.h"
#include "dbg_defaults.h"
#include "dbg_destination.h"
#include "dbg_loglocation.h"
#include "dbg_modulelist.h"
#include "dbg_registry.h"

using namespace dbg_internal;

namespace qpdebug {

namespace {

const char kLibraryName[] = "libutilDebug.so";

std::string ReadLink(const std::string& path) {
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length <= 0 ? std::string() : std::string(target, static_cast<size_t>(length));
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// NAME=VALUE strings of /proc/PID/environ.
std::map<std::string, std::string> Environment(int pid, bool* readable) {
    std::map<std::string, std::string> variables;
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    *readable = static_cast<bool>(in);
    std::string entry;
    while (std::getline(in, entry, '\0')) {
        size_t equals = entry.find('=');
        if (equals != std::string::npos) variables[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    return variables;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The objects mapped into the process: whether the library is among them,
// and the logger names of all of them.
bool ReadMaps(int pid, std::vector<std::string>* modules, bool* unreadable) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    *unreadable = !in;
    std::set<std::string> seen;
    bool loaded = false;
    std::string line;
    while (std::getline(in, line)) {
        size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string name = BaseName(line.substr(slash));
        if (name.compare(0, sizeof kLibraryName - 1, kLibraryName) == 0) loaded = true;
        if (name.find(".so") == std::string::npos) continue;
        std::wstring logger = FromUtf8(name);
        if (!logger.empty()) _wcslwr(&logger[0]);
        DropSharedObjectVersion(logger);
        seen.insert(ToUtf8(logger));
    }
    modules->assign(seen.begin(), seen.end());
    return loaded;
}

// The log file among the process's descriptors: the name it would use, or
// that name with the process's own fall-back (<name>.<pid>.log).
std::string OpenLogFile(int pid, const std::string& expected, bool* deleted) {
    std::string expectedName = BaseName(expected);
    std::string stem = expectedName.substr(0, expectedName.rfind(".log"));
    std::string fd = "/proc/" + std::to_string(pid) + "/fd";
    std::string found;
    if (DIR* dir = opendir(fd.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string target = ReadLink(fd + "/" + entry->d_name);
            const std::string deletedMark = " (deleted)";
            bool gone =
                target.size() > deletedMark.size() &&
                target.compare(target.size() - deletedMark.size(), deletedMark.size(), deletedMark) == 0;
            if (gone) target.resize(target.size() - deletedMark.size());
            std::string name = BaseName(target);
            bool matches =
                name == expectedName || (name.compare(0, stem.size() + 1, stem + ".") == 0 &&
                                         name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0);
            if (matches && (found.empty() || target == expected)) {
                found = target;
                *deleted = gone;
            }
        }
        closedir(dir);
    }
    return found;
}

std::string TempDirOf(const std::map<std::string, std::string>& environment) {
    auto tmpdir = environment.find("TMPDIR");
    std::string dir = tmpdir != environment.end() && !tmpdir->second.empty() ? tmpdir->second : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string ComposeLogFile(const std::string& executable, const std::string& runId, const Settings& settings,
                           const std::string& tempDir) {
    LogLocationInputs inputs;
    inputs.executablePath = FromUtf8(executable);
    inputs.runId = FromUtf8(runId);
    inputs.homeDir = settings.homeDir.text;
    inputs.tempDir = FromUtf8(tempDir);
    LogLocation location;
    if (!ComposeLogLocation(inputs, &location)) return std::string();
    return ToUtf8(location.path);
}

bool SameNames(const ProductRegistryNames& a, const ProductRegistryNames& b) {
    return std::wstring(a.keyPath) == b.keyPath && std::wstring(a.homeDir) == b.homeDir &&
           std::wstring(a.debugModule) == b.debugModule;
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size - 1));
    return narrow;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size - 1));
    return wide;
}

std::string RegistryFile() {
    const char* file = getenv("NL_REGISTRY_FILE");
    return file && *file ? file : "/var/lib/norlake/registry.db";
}

ProductRegistryNames DefaultNames() {
    ProductRegistryNames names;
    SetDefaultProductRegistryNames(names);
    return names;
}

// Each setting is read by the library's own rule (ReadTextSetting and its
// rules, QueryDwordValue); a read that went unanswered leaves the settings
// incomplete, and nothing is written from them.
Settings ReadSettings(const ProductRegistryNames& names) {
    Settings settings;
    settings.keyPath = names.keyPath;
    settings.mode = kDefaultDebugMode;
    settings.count = kDefaultLogCount;
    settings.critical = kDefaultLogCriticalInfo;
    CSettingsReadCheck check;
    if (HKEY key = OpenProductKeyForReading(names.keyPath)) {
        CKeyCloser closer(key);
        settings.modeSet = QueryDwordValue(key, names.debugLevel, &settings.mode);
        settings.countSet = QueryDwordValue(key, names.debugLogCount, &settings.count);
        settings.criticalSet = QueryDwordValue(key, names.logCriticalInfo, &settings.critical);
        settings.moduleList = ReadTextSetting(key, names.debugModule, kModuleListRule);
        settings.homeDir = ReadTextSetting(key, names.homeDir, kHomeDirRule);
    }
    // The back end reads these under the default key and names.
    if (HKEY key = OpenProductKeyForReading(kDefaultProductKeyPath)) {
        CKeyCloser closer(key);
        settings.format = ReadTextSetting(key, kValueDebugLogFormat, kLogFormatRule);
        settings.destination = ReadTextSetting(key, kLogDestinationValue, kLogDestinationRule);
        settings.disabled = ReadDisabledLists(key);
    }
    auto failed = [](const TextSetting& setting) { return setting.outcome == TextSettingOutcome::kFailed; };
    settings.complete = !check.Unanswered() && !failed(settings.moduleList) && !failed(settings.homeDir) &&
                        !failed(settings.format) && !failed(settings.destination);
    CFeatureConfig config;
    config.ResolveMappingFilePath();
    config.LoadFeatureMapping();
    config.SetDisabledFeatures(settings.disabled.features.text);
    config.SetDisabledDlls(settings.disabled.dlls.text);
    settings.mappingFile = config.MappingFilePath();
    settings.dataRootSource = config.DataRootOrigin();
    settings.features = config.Features();
    settings.silencedModules = config.DisabledModules();
    return settings;
}

bool IsProcessId(const std::string& text) {
    return !text.empty() && text.size() < 10 && std::all_of(text.begin(), text.end(), ::isdigit);
}

namespace {

// What the machine's settings are for every process that takes them as they
// stand: this tool's registry, the default key and names.
struct Baseline {
    ProductRegistryNames names;
    Settings settings;
    std::string registry;
};

std::string WithoutDeletedMark(std::string path) {
    const std::string mark = " (deleted)";
    if (path.size() > mark.size() && path.compare(path.size() - mark.size(), mark.size(), mark) == 0)
        path.resize(path.size() - mark.size());
    return path;
}

// The process, judged by the settings it takes; false when it has not the
// library loaded.
bool InspectProcess(int pid, const Baseline& baseline, Process* process, bool* unreadable) {
    process->pid = pid;
    if (!ReadMaps(pid, &process->modules, unreadable)) return false;
    std::string base = "/proc/" + std::to_string(pid);
    process->executable = ReadLink(base + "/exe");
    bool environmentRead = false;
    std::map<std::string, std::string> environment = Environment(pid, &environmentRead);
    process->readable = !process->executable.empty() && environmentRead;
    std::string executable = process->executable;
    if (executable.empty()) {
        // Another user's process: its name, from the kernel.
        std::string comm = Slurp(base + "/comm");
        executable = "/" + comm.substr(0, comm.find('\n'));
    }
    executable = WithoutDeletedMark(executable);
    process->name = ToUtf8(ProcessBaseNameOf(FromUtf8(executable).c_str()));
    std::wstring loggerName = FromUtf8(BaseName(executable));
    if (!loggerName.empty()) _wcslwr(&loggerName[0]);
    process->modules.insert(process->modules.begin(), ToUtf8(loggerName));

    auto registry = environment.find("NL_REGISTRY_FILE");
    std::string itsRegistry = registry != environment.end() && !registry->second.empty()
                                  ? registry->second
                                  : "/var/lib/norlake/registry.db";
    if (environmentRead && itsRegistry != baseline.registry) process->otherRegistry = itsRegistry;

    // Its own product registry file, when one redirects its settings.
    ProductRegistryNames names = baseline.names;
    Settings own;
    const Settings* settings = &baseline.settings;
    if (!process->executable.empty()) {
        std::wstring file = LoadProductRegistryNames(FromUtf8(DirectoryOf(executable)).c_str(), names);
        if (!file.empty() && !SameNames(names, baseline.names)) {
            process->productRegistryFile = ToUtf8(file);
            own = ReadSettings(names);
            settings = &own;
        }
    }
    process->switchedOn = ModuleListSwitchesOn(settings->moduleList.text, FromUtf8(process->name));
    auto runId = environment.find("NL_DEBUG_LOG_OUTPUT_ID");
    process->wouldUse = ComposeLogFile(executable, runId == environment.end() ? "" : runId->second, *settings,
                                       TempDirOf(environment));
    process->openLog = OpenLogFile(pid, process->wouldUse, &process->logDeleted);
    process->stale =
        !process->openLog.empty() && DirectoryOf(process->openLog) != DirectoryOf(process->wouldUse);
    return true;
}

}  // namespace

std::vector<Process> FindProcesses(int* unreadable) {
    Baseline baseline;
    baseline.names = DefaultNames();
    baseline.settings = ReadSettings(baseline.names);
    baseline.registry = RegistryFile();
    std::vector<int> pids;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc))
            if (IsProcessId(entry->d_name)) pids.push_back(atoi(entry->d_name));
        closedir(proc);
    }
    std::sort(pids.begin(), pids.end());
    std::vector<Process> processes;
    if (unreadable) *unreadable = 0;
    for (int pid : pids) {
        Process process;
        bool hidden = false;
        if (InspectProcess(pid, baseline, &process, &hidden)) processes.push_back(process);
        // A process that ended meanwhile is gone, not hidden.
        if (hidden && unreadable && access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0)
            ++*unreadable;
    }
    return processes;
}

std::string LogFileForName(const std::string& name, const Settings& settings) {
    std::map<std::string, std::string> environment;
    if (const char* tmpdir = getenv("TMPDIR")) environment["TMPDIR"] = tmpdir;
    return ComposeLogFile("/" + name, "", settings, TempDirOf(environment));
}

}  // namespace qpdebug
