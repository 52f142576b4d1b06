// status, where, tail and names: what the settings mean, which processes log
// where, and their records as they come.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "commands.h"
#include "dbg_defaults.h"
#include "dbg_destination.h"
#include "dbg_modulelist.h"
#include "dbg_registry.h"
#include "machine.h"
#include "output.h"

using namespace dbg_internal;

namespace qpdebug {

namespace {

struct SettingRow {
    std::string name;
    std::string value;  // as shown
    std::string json;   // as a JSON value
    bool set;
    std::string meaning;
};

const char* ThresholdMeaning(int mode) {
    switch (ThresholdOfMode(mode)) {
        case Threshold::kFatal:
            return "fatal records only";
        case Threshold::kError:
            return "errors and fatal records";
        case Threshold::kInfo:
            return "information, warnings, errors and fatal records (no debug records)";
        case Threshold::kAll:
            return "every record";
        default:
            return "nothing: no process writes records";
    }
}

std::string Quoted(const std::wstring& text) { return JsonString(ToUtf8(text)); }

std::string Joined(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names) text += (text.empty() ? "" : ", ") + ToUtf8(name);
    return text;
}

std::vector<SettingRow> DescribeSettings(const Settings& s) {
    std::vector<SettingRow> rows;
    std::string mode = std::to_string(s.mode);
    rows.push_back(
        {"DebugLevel", s.modeSet ? mode : mode + " (not set)", mode, s.modeSet, ThresholdMeaning(s.mode)});
    int kept = std::clamp(s.count, kMinBackupCount, kMaxBackupCount);
    std::string count = std::to_string(s.count);
    rows.push_back(
        {"DebugLogCount", s.countSet ? count : count + " (not set)", count, s.countSet,
         std::to_string(kept) + " rolled backup(s) kept beside each log file, which rolls at 10 MB"});
    rows.push_back({"DebugModule", s.moduleList.empty() ? "(empty)" : ToUtf8(s.moduleList),
                    Quoted(s.moduleList), !s.moduleList.empty(),
                    s.moduleList.empty()
                        ? "no process logs but the installers"
                        : "processes named with a flag other than 0 log; the installers always do"});
    std::string critical = std::to_string(s.critical);
    rows.push_back({"LogCriticalInfo", critical, critical, s.criticalSet,
                    s.critical > 0
                        ? "critical-information records are written as FATAL: they pass every level"
                        : "critical-information records are errors"});
    int recorder = 0;
    bool recorderSet = ReadRegistryDword(&recorder, s.keyPath.c_str(), kValueDebugLogRecorder);
    unsigned records = std::min(static_cast<unsigned>(recorder), static_cast<unsigned>(kMaxRecorderRecords));
    rows.push_back({"DebugLogRecorder", std::to_string(recorder) + (recorderSet ? "" : " (not set)"),
                    std::to_string(recorder), recorderSet,
                    records == 0 ? "nothing is kept of what the threshold rejects"
                                 : "the last " + std::to_string(records) +
                                       " records the threshold rejects are kept, and written before an "
                                       "error, at a crash and on qpdebug dump"});
    rows.push_back({"HomeDir", s.homeDir.empty() ? "(not set)" : ToUtf8(s.homeDir), Quoted(s.homeDir),
                    !s.homeDir.empty(),
                    s.homeDir.empty() ? "logs go to each process's temporary directory"
                                      : "logs go to " + ToUtf8(s.homeDir) +
                                            "/Debug; a process reads it once, when it starts"});
    rows.push_back({"DebugLogFormat", s.format.empty() ? "(default)" : ToUtf8(s.format),
                    Quoted(s.format.empty() ? kDefaultLogFormat : s.format), !s.format.empty(),
                    "the layout of a record, read when a process starts logging"});
    std::wstring destination = s.destination.empty() ? L"file" : s.destination;
    // The library's own reading of the value decides what it means.
    unsigned parsed = ParseLogDestination(s.destination.c_str());
    std::string where = parsed == (kDestinationFile | kDestinationJournal)
                            ? "each process's log file and the systemd journal"
                        : parsed == kDestinationJournal ? "the systemd journal"
                                                        : "each process's log file";
    rows.push_back({"DebugLogDestination", ToUtf8(destination) + (s.destination.empty() ? " (not set)" : ""),
                    Quoted(destination), !s.destination.empty(), "records go to " + where});
    rows.push_back({"DebugLogDisabledDlls",
                    s.disabled.dlls.text.empty() ? "(empty)" : ToUtf8(s.disabled.dlls.text),
                    Quoted(s.disabled.dlls.text), s.disabled.dlls.read, "modules silenced by name"});
    rows.push_back({"DebugLogDisabledFeatures",
                    s.disabled.features.text.empty() ? "(empty)" : ToUtf8(s.disabled.features.text),
                    Quoted(s.disabled.features.text), s.disabled.features.read,
                    "features silenced, through the feature mapping file"});
    std::string silenced = Joined(s.silencedModules);
    rows.push_back({"silenced modules", silenced.empty() ? "(none)" : silenced, "", true,
                    "what the two lists silence together, in every process that logs"});
    std::string source = s.dataRootSource == CFeatureConfig::DataRootSource::kCluster
                             ? "the cluster resource's QPEX_DATA_PATH"
                         : s.dataRootSource == CFeatureConfig::DataRootSource::kDataRootPath ? "DataRootPath"
                                                                                             : "";
    std::string mapping = s.mappingFile.empty() ? "(none)" : ToUtf8(s.mappingFile);
    std::string features;
    for (const FeatureEntry& f : s.features) features += (features.empty() ? "" : ", ") + ToUtf8(f.name);
    rows.push_back({"feature mapping file", mapping, Quoted(s.mappingFile), !s.mappingFile.empty(),
                    s.mappingFile.empty() ? "no data root (DataRootPath is not set): features silence nothing"
                    : s.features.empty()
                        ? "data root from " + source + "; missing or empty: features silence nothing"
                        : "data root from " + source + "; features: " + features});
    return rows;
}

std::string Note(const Process& p, const Settings& settings) {
    if (!p.otherRegistry.empty()) return "reads another registry, " + p.otherRegistry;
    std::string note;
    if (!p.readable) note = "not readable by this user: run qpdebug as root";
    if (!p.productRegistryFile.empty()) note += "settings redirected by " + p.productRegistryFile;
    if (p.logDeleted)
        note += (note.empty() ? "" : "; ") + std::string("log file deleted: re-created at its next record");
    if (p.stale)
        note += (note.empty() ? "" : "; ") +
                std::string(settings.homeDir.empty() ? "chose its log file while HomeDir was set"
                                                     : "started before HomeDir was set") +
                ": restart it to log into " + p.wouldUse;
    return note;
}

int PrintStatusJson(const Settings& settings, const std::vector<Process>& processes) {
    std::printf("{\n  \"registry\": %s,\n  \"key\": %s,\n  \"settings\": {\n",
                JsonString(RegistryFile()).c_str(), JsonString("HKLM\\" + ToUtf8(settings.keyPath)).c_str());
    std::vector<SettingRow> rows = DescribeSettings(settings);
    bool first = true;
    for (const SettingRow& row : rows) {
        if (row.json.empty()) continue;
        std::printf("%s    %s: {\"value\": %s, \"set\": %s, \"meaning\": %s}", first ? "" : ",\n",
                    JsonString(row.name).c_str(), row.json.c_str(), row.set ? "true" : "false",
                    JsonString(row.meaning).c_str());
        first = false;
    }
    std::printf(",\n    \"silencedModules\": [");
    for (size_t i = 0; i < settings.silencedModules.size(); ++i)
        std::printf("%s%s", i ? ", " : "", Quoted(settings.silencedModules[i]).c_str());
    std::printf("]\n  },\n  \"processes\": [");
    for (size_t i = 0; i < processes.size(); ++i) {
        const Process& p = processes[i];
        std::printf(
            "%s\n    {\"pid\": %d, \"name\": %s, \"executable\": %s, \"switchedOn\": %s, \"logFile\": %s, "
            "\"logFileOpen\": %s, \"wouldUse\": %s, \"stale\": %s, \"productRegistryFile\": %s, "
            "\"otherRegistry\": %s, \"note\": %s}",
            i ? "," : "", p.pid, JsonString(p.name).c_str(), JsonString(p.executable).c_str(),
            p.switchedOn ? "true" : "false", JsonString(p.openLog.empty() ? p.wouldUse : p.openLog).c_str(),
            p.openLog.empty() ? "false" : "true", JsonString(p.wouldUse).c_str(), p.stale ? "true" : "false",
            JsonString(p.productRegistryFile).c_str(), JsonString(p.otherRegistry).c_str(),
            JsonString(Note(p, settings)).c_str());
    }
    std::printf("%s]\n}\n", processes.empty() ? "" : "\n  ");
    return 0;
}

// The processes a target names: a process id, or every process of that name.
std::vector<Process> Targets(const std::string& target) {
    std::vector<Process> found;
    for (const Process& p : FindProcesses())
        // By name, only processes that read this registry.
        if (IsProcessId(target) ? p.pid == atoi(target.c_str())
                                : p.otherRegistry.empty() &&
                                      _wcsicmp(FromUtf8(p.name).c_str(), FromUtf8(target).c_str()) == 0)
            found.push_back(p);
    return found;
}

std::string LogOf(const Process& p) { return p.openLog.empty() ? p.wouldUse : p.openLog; }

// The log files a target leads to; empty, with the reason said, when a
// process id names no process that has the library loaded.
std::vector<std::string> LogFiles(const std::string& target) {
    std::vector<std::string> files;
    // The file of a process that logs where one started now would comes first.
    std::vector<Process> targets = Targets(target);
    std::stable_partition(targets.begin(), targets.end(), [](const Process& p) { return !p.stale; });
    for (const Process& p : targets)
        if (std::find(files.begin(), files.end(), LogOf(p)) == files.end()) files.push_back(LogOf(p));
    if (files.empty() && IsProcessId(target))
        Error("no process " + target + " has the debug library loaded");
    else if (files.empty())
        files.push_back(LogFileForName(target, ReadSettings(DefaultNames())));
    return files;
}

// ---- tail -----------------------------------------------------------------------------

// Where the last lines of the file begin.
off_t StartOfLastLines(int fd, long lines) {
    off_t end = lseek(fd, 0, SEEK_END);
    if (lines <= 0) return end;
    off_t at = end;
    long seen = 0;
    char buffer[8192];
    bool first = true;
    while (at > 0) {
        off_t chunk = std::min<off_t>(at, sizeof buffer);
        at -= chunk;
        if (pread(fd, buffer, static_cast<size_t>(chunk), at) != chunk) return 0;
        for (off_t i = chunk - 1; i >= 0; --i) {
            // The line feed that ends the file ends the last line; it starts none.
            if (buffer[i] == '\n' && !(first && at + i == end - 1)) {
                if (++seen == lines) return at + i + 1;
            }
        }
        first = false;
    }
    return 0;
}

bool Copy(int fd) {
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        if (fwrite(buffer, 1, static_cast<size_t>(got), stdout) != static_cast<size_t>(got)) return false;
    return fflush(stdout) == 0;
}

}  // namespace

int Status(bool json) {
    Settings settings = ReadSettings(DefaultNames());
    std::vector<Process> processes = FindProcesses();
    if (json) return PrintStatusJson(settings, processes);
    std::printf("Settings under HKLM\\%s (registry %s):\n", ToUtf8(settings.keyPath).c_str(),
                RegistryFile().c_str());
    std::vector<std::vector<std::string>> table = {{"SETTING", "VALUE", "MEANING"}};
    for (const SettingRow& row : DescribeSettings(settings))
        table.push_back({row.name, row.value, row.meaning});
    PrintTable(table, "  ");
    std::printf("\nProcesses with the debug library loaded:\n");
    if (processes.empty()) {
        std::printf("  (none)\n");
        return 0;
    }
    table = {{"PID", "NAME", "LOGS", "LOG FILE", "NOTE"}};
    for (const Process& p : processes)
        table.push_back({std::to_string(p.pid), p.name,
                         p.otherRegistry.empty() ? (p.switchedOn ? "on" : "off") : "?",
                         p.openLog.empty() ? LogOf(p) + " (not open)" : p.openLog, Note(p, settings)});
    PrintTable(table, "  ");
    std::printf(
        "\nLOGS: whether the module list switches the process on (it applies a change within a minute).\n");
    return 0;
}

int Where(const std::string& target) {
    std::vector<std::string> files = LogFiles(target);
    if (files.empty()) return kExitFailure;
    for (const std::string& file : files) std::printf("%s\n", file.c_str());
    return 0;
}

// Follows the file by name, as tail -F does: across rolls (the file renamed,
// a new one created), deletions and re-creations.
int Tail(const std::string& target, long lines) {
    std::vector<std::string> files = LogFiles(target);
    if (files.empty()) return kExitFailure;
    const std::string path = files.front();
    if (files.size() > 1)
        Warning("several processes of " + target + " log into different files; following " + path);
    signal(SIGPIPE, SIG_DFL);
    int fd = -1;
    struct stat followed = {};
    bool waitingSaid = false;
    for (bool first = true;; first = false) {
        struct stat now;
        bool exists = stat(path.c_str(), &now) == 0;
        if (fd >= 0 && !Copy(fd)) return kExitFailure;
        bool replaced = exists && fd >= 0 && (now.st_ino != followed.st_ino || now.st_dev != followed.st_dev);
        if (fd >= 0 && exists && !replaced && now.st_size < lseek(fd, 0, SEEK_CUR)) {
            std::fprintf(stderr, "qpdebug: %s was truncated\n", path.c_str());
            lseek(fd, 0, SEEK_SET);
        }
        if (replaced) {
            close(fd);
            fd = -1;
        }
        if (fd < 0 && exists) {
            fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                fstat(fd, &followed);
                lseek(fd, first ? StartOfLastLines(fd, lines) : 0, SEEK_SET);
                if (!Copy(fd)) return kExitFailure;
                waitingSaid = false;
            }
        }
        if (!exists && !waitingSaid) {
            std::fprintf(stderr, "qpdebug: waiting for %s to appear\n", path.c_str());
            waitingSaid = true;
        }
        usleep(200 * 1000);
    }
}

int Names(const std::string& kind) {
    std::set<std::string> names;
    if (kind == "processes" || kind == "modules") {
        for (const Process& p : FindProcesses()) {
            if (!p.otherRegistry.empty()) continue;
            if (kind == "processes")
                names.insert(p.name);
            else
                names.insert(p.modules.begin(), p.modules.end());
        }
    } else if (kind == "features") {
        for (const FeatureEntry& f : ReadSettings(DefaultNames()).features) names.insert(ToUtf8(f.name));
    } else {
        Error("names of what? processes, modules or features");
        return kExitUsage;
    }
    for (const std::string& name : names) std::printf("%s\n", name.c_str());
    return 0;
}

}  // namespace qpdebug
