// status, where, tail and names: what the settings mean, which processes log
// where, and their records as they come.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

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

using Json = nlohmann::ordered_json;

struct SettingRow {
    std::string name;
    std::string value;  // as shown
    Json json;          // as a JSON value; null: not in --json
    bool set;
    std::string meaning;
};

const char* ThresholdMeaning(int mode) {
    switch (ThresholdOfMode(mode)) {
        case Threshold::kFatal:
            return "fatal records only (level fatal), in every program of the machine";
        case Threshold::kError:
            return "errors and fatal records (level error), in every program of the machine";
        case Threshold::kInfo:
            return "warnings, errors and fatal records, no debug records (level warn), in every program of "
                   "the "
                   "machine";
        case Threshold::kAll:
            return "every record (level debug), in every program of the machine";
        default:
            return "nothing: no process writes records";
    }
}

std::string Text(const std::wstring& text) { return Shown(ToUtf8(text)); }

std::string Joined(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names) text += (text.empty() ? "" : ", ") + Text(name);
    return text;
}

// What a text setting's value is, as shown: its text, or why a process takes
// none or only a part of it.
std::string TextValue(const TextSetting& setting, const std::string& none) {
    switch (setting.outcome) {
        case TextSettingOutcome::kTooLong:
            return "(too long to be read)";
        case TextSettingOutcome::kFailed:
            return "(could not be read)";
        case TextSettingOutcome::kCut:
            return Text(setting.text) + " (cut)";
        default:
            return setting.text.empty() ? none : Text(setting.text);
    }
}

bool Set(const TextSetting& setting) { return setting.outcome != TextSettingOutcome::kMissing; }

std::vector<SettingRow> DescribeSettings(const Settings& s) {
    std::vector<SettingRow> rows;
    std::string mode = std::to_string(s.mode);
    rows.push_back(
        {"DebugLevel", s.modeSet ? mode : mode + " (not set)", s.mode, s.modeSet, ThresholdMeaning(s.mode)});
    int kept = std::clamp(s.count, kMinBackupCount, kMaxBackupCount);
    std::string count = std::to_string(s.count);
    rows.push_back(
        {"DebugLogCount", s.countSet ? count : count + " (not set)", s.count, s.countSet,
         std::to_string(kept) + " rolled backup(s) kept beside each log file, which rolls at 10 MB"});
    const std::wstring& list = s.moduleList.text;
    rows.push_back(
        {"DebugModule", TextValue(s.moduleList, "(empty)"), Text(list), Set(s.moduleList),
         (list.empty() ? std::string("no process logs but the installers")
                       : "processes named with a flag other than 0 log; the installers always do") +
             (s.moduleList.outcome == TextSettingOutcome::kCut
                  ? "; only its first " + std::to_string(kModuleListMaxLength) + " characters are read"
                  : "")});
    std::string critical = std::to_string(s.critical);
    rows.push_back({"LogCriticalInfo", critical, s.critical, s.criticalSet,
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
    rows.push_back({"HomeDir", TextValue(s.homeDir, "(not set)"), Text(s.homeDir.text), Set(s.homeDir),
                    s.homeDir.text.empty() ? "logs go to each process's temporary directory"
                                           : "logs go to " + Text(s.homeDir.text) +
                                                 "/Debug; a process reads it once, when it starts"});
    rows.push_back({"DebugLogFormat", TextValue(s.format, "(default)"),
                    Text(s.format.text.empty() ? kDefaultLogFormat : s.format.text), Set(s.format),
                    "the layout of a record, read when a process starts logging"});
    // The library's own reading of the value decides what it means.
    unsigned parsed = ParseLogDestination(s.destination.text.c_str());
    std::string where = parsed == (kDestinationFile | kDestinationJournal)
                            ? "each process's log file and the systemd journal"
                        : parsed == kDestinationJournal ? "the systemd journal"
                                                        : "each process's log file";
    rows.push_back({"DebugLogDestination", TextValue(s.destination, "file (not set)"),
                    Text(s.destination.text.empty() ? L"file" : s.destination.text), Set(s.destination),
                    "records go to " + where});
    auto listRow = [&](const char* name, const DisabledListValue& value, const char* meaning) {
        std::string shown = value.text.empty() ? "(empty)" : Text(value.text);
        if (!value.whole) shown += " (cut)";
        rows.push_back(
            {name, shown, Text(value.text), value.read,
             std::string(meaning) + (value.whole ? "" : "; only its first 2047 characters are read")});
    };
    listRow("DebugLogDisabledDlls", s.disabled.dlls, "modules silenced by name");
    listRow("DebugLogDisabledFeatures", s.disabled.features,
            "features silenced, through the feature mapping file");
    std::string silenced = Joined(s.silencedModules);
    rows.push_back({"silenced modules", silenced.empty() ? "(none)" : silenced, Json(), true,
                    "what the two lists silence together, in every process that logs"});
    std::string source = s.dataRootSource == CFeatureConfig::DataRootSource::kCluster
                             ? "the cluster resource's QPEX_DATA_PATH"
                         : s.dataRootSource == CFeatureConfig::DataRootSource::kDataRootPath ? "DataRootPath"
                                                                                             : "";
    std::string mapping = s.mappingFile.empty() ? "(none)" : Text(s.mappingFile);
    std::string features;
    for (const FeatureEntry& f : s.features) features += (features.empty() ? "" : ", ") + Text(f.name);
    rows.push_back({"feature mapping file", mapping, Text(s.mappingFile), !s.mappingFile.empty(),
                    s.mappingFile.empty() ? "no data root (DataRootPath is not set): features silence nothing"
                    : s.features.empty()
                        ? "data root from " + source + "; missing or empty: features silence nothing"
                        : "data root from " + source + "; features: " + features});
    return rows;
}

std::string Note(const Process& p, const Settings& settings) {
    if (!p.otherRegistry.empty()) return "reads another registry, " + Shown(p.otherRegistry);
    std::string note;
    if (!p.readable) note = "not readable by this user: run qpdebug as root";
    if (!p.productRegistryFile.empty()) note += "settings redirected by " + Shown(p.productRegistryFile);
    if (p.logDeleted)
        note += (note.empty() ? "" : "; ") + std::string("log file deleted: re-created at its next record");
    if (p.stale)
        note += (note.empty() ? "" : "; ") +
                std::string(settings.homeDir.text.empty() ? "chose its log file while HomeDir was set"
                                                          : "started before HomeDir was set") +
                ": restart it to log into " + Shown(p.wouldUse);
    return note;
}

std::string LogOf(const Process& p) { return p.openLog.empty() ? p.wouldUse : p.openLog; }

// Names and paths in the JSON output are the text status shows (Shown): one
// line of valid UTF-8, whatever bytes they hold.
int PrintStatusJson(const Settings& settings, const std::vector<Process>& processes, int unreadable) {
    Json out;
    out["registry"] = Shown(RegistryFile());
    out["key"] = "HKLM\\" + ShownRecord(ToUtf8(settings.keyPath));
    Json& rows = out["settings"] = Json::object();
    for (const SettingRow& row : DescribeSettings(settings))
        if (!row.json.is_null())
            rows[row.name] = {{"value", row.json}, {"set", row.set}, {"meaning", row.meaning}};
    Json& silenced = rows["silencedModules"] = Json::array();
    for (const std::wstring& module : settings.silencedModules) silenced.push_back(Text(module));
    Json& list = out["processes"] = Json::array();
    for (const Process& p : processes)
        list.push_back({{"pid", p.pid},
                        {"name", Shown(p.name)},
                        {"executable", Shown(p.executable)},
                        {"switchedOn", p.switchedOn},
                        {"logFile", Shown(LogOf(p))},
                        {"logFileOpen", !p.openLog.empty()},
                        {"wouldUse", Shown(p.wouldUse)},
                        {"stale", p.stale},
                        {"productRegistryFile", Shown(p.productRegistryFile)},
                        {"otherRegistry", Shown(p.otherRegistry)},
                        {"note", Note(p, settings)}});
    out["unreadableProcesses"] = unreadable;
    std::printf("%s\n", out.dump().c_str());
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

// A log file a target leads to, and the first process that logs into it
// (pid 0: none runs).
struct LogFile {
    std::string path;
    int pid = 0;
};

// The log files a target leads to; empty, with the reason said, when a
// process id names no process that has the library loaded.
std::vector<LogFile> LogFiles(const std::string& target) {
    std::vector<LogFile> files;
    // The file of a process that logs where one started now would comes first.
    std::vector<Process> targets = Targets(target);
    std::stable_partition(targets.begin(), targets.end(), [](const Process& p) { return !p.stale; });
    for (const Process& p : targets)
        if (std::none_of(files.begin(), files.end(), [&](const LogFile& f) { return f.path == LogOf(p); }))
            files.push_back({LogOf(p), p.pid});
    if (files.empty() && IsProcessId(target))
        Error("no process " + target + " has the debug library loaded");
    else if (files.empty())
        files.push_back({LogFileForName(target, ReadSettings(DefaultNames())), 0});
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

// Whose rights a log file is opened with. Run by root, qpdebug opens it with
// the file-system identity (fsuid, fsgid and groups) of the user the logging
// process runs as, or, when none runs, of the owner of the folder the file
// lies in: root never shows a file that user could not read, whatever links
// the user laid. Run by another user, it opens with that user's own rights.
struct Reader {
    bool switches = false;
    std::string whose;  // whose rights they are, as said
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

Reader ReaderOf(int pid, const std::string& path) {
    Reader reader;
    if (geteuid() != 0) return reader;
    reader.switches = true;
    if (pid > 0) {
        // The fourth number of Uid: and Gid: is the one files are opened with.
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        bool uid = false, gid = false;
        for (std::string line; std::getline(status, line);) {
            std::istringstream fields(line);
            std::string tag;
            unsigned long ids[4] = {};
            fields >> tag;
            if (tag == "Uid:" || tag == "Gid:") {
                fields >> ids[0] >> ids[1] >> ids[2] >> ids[3];
                if (!fields) continue;
                (tag == "Uid:" ? reader.uid : reader.gid) = static_cast<uid_t>(ids[3]);
                (tag == "Uid:" ? uid : gid) = true;
            } else if (tag == "Groups:") {
                for (unsigned long group; fields >> group;)
                    reader.groups.push_back(static_cast<gid_t>(group));
            }
        }
        reader.whose = "those of process " + std::to_string(pid) + "'s user";
        if (uid && gid) return reader;
        reader.groups.clear();
    }
    // The nearest folder that exists.
    std::string folder = path;
    struct stat info;
    do {
        size_t slash = folder.rfind('/');
        folder = slash == std::string::npos || slash == 0 ? "/" : folder.substr(0, slash);
    } while (stat(folder.c_str(), &info) != 0 && folder != "/");
    reader.uid = info.st_uid;
    reader.gid = info.st_gid;
    reader.whose = "those of " + Shown(folder) + "'s owner";
    return reader;
}

// Opens the file for reading as the reader: a regular file only, never
// through a symbolic link at its end, without waiting (a FIFO would block).
// -1 with errno ENOENT when it is not there; -1 with *problem said when it
// is there but may not be shown.
int OpenLog(const std::string& path, const Reader& reader, std::string* problem) {
    std::vector<gid_t> groups;
    bool switched = true;
    if (reader.switches) {
        int count = getgroups(0, nullptr);
        groups.resize(static_cast<size_t>(std::max(count, 0)));
        count = getgroups(count, groups.data());
        groups.resize(static_cast<size_t>(std::max(count, 0)));
        switched = setgroups(reader.groups.size(), reader.groups.data()) == 0;
        setfsgid(reader.gid);
        setfsuid(reader.uid);
        // setfsuid reports the identity in force, not an error.
        switched = switched && static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) == reader.uid &&
                   static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) == reader.gid;
    }
    int fd = switched ? open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC) : -1;
    int error = switched ? errno : EPERM;
    if (reader.switches) {
        setfsuid(geteuid());
        setfsgid(getegid());
        if (setgroups(groups.size(), groups.data()) != 0) {
            Error("cannot restore its own groups");
            exit(kExitFailure);
        }
    }
    problem->clear();
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        *problem = Shown(path) + " is not a regular file: not shown";
        return -1;
    }
    if (fd >= 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    if (error == ELOOP)
        *problem = Shown(path) + " is a symbolic link: not followed";
    else if (error != ENOENT)
        *problem = Shown(path) + ": " + strerror(error) +
                   (reader.switches ? " (opened with the rights of user " + std::to_string(reader.uid) +
                                          ", " + reader.whose + ")"
                                    : std::string());
    errno = error;
    return -1;
}

// Copies what the file holds beyond *position, a line at a time, each made
// safe for a terminal; a line not yet ended waits in *pending for its end.
bool Copy(int fd, off_t* position, std::string* pending) {
    char buffer[65536];
    ssize_t got;
    std::string out;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        *position += got;
        pending->append(buffer, static_cast<size_t>(got));
        size_t start = 0;
        for (size_t end; (end = pending->find('\n', start)) != std::string::npos; start = end + 1)
            out += ShownRecord(pending->substr(start, end - start)) + "\n";
        pending->erase(0, start);
        if (fwrite(out.data(), 1, out.size(), stdout) != out.size()) return false;
        out.clear();
    }
    return fflush(stdout) == 0;
}

// A long value, as the table shows it: its start and its length (--json
// gives it whole).
std::string Abridged(const std::string& value) {
    constexpr size_t kShown = 60;
    size_t characters = 0;
    for (size_t at = 0; at < value.size(); ++at)
        if ((value[at] & 0xC0) != 0x80 && ++characters > kShown)
            return value.substr(0, at) + "... (" + std::to_string(value.size()) + " bytes in all)";
    return value;
}

// The end of a file left: a line it did not end is shown as it stands.
bool Finish(std::string* pending) {
    if (pending->empty()) return true;
    std::string line = ShownRecord(*pending) + "\n";
    pending->clear();
    return fwrite(line.data(), 1, line.size(), stdout) == line.size() && fflush(stdout) == 0;
}

}  // namespace

int Status(bool json) {
    Settings settings = ReadSettings(DefaultNames());
    int unreadable = 0;
    std::vector<Process> processes = FindProcesses(&unreadable);
    // Root looks into every process: one that could not be had ended meanwhile.
    if (geteuid() == 0) unreadable = 0;
    if (json) return PrintStatusJson(settings, processes, unreadable);
    std::printf("Settings under HKLM\\%s (registry %s):\n", ShownRecord(ToUtf8(settings.keyPath)).c_str(),
                Shown(RegistryFile()).c_str());
    std::vector<std::vector<std::string>> table = {{"SETTING", "VALUE", "MEANING"}};
    for (const SettingRow& row : DescribeSettings(settings))
        table.push_back({row.name, Abridged(row.value), row.meaning});
    PrintTable(table, "  ");
    std::printf("\nProcesses with the debug library loaded:\n");
    if (processes.empty()) std::printf("  (none)\n");
    table = {{"PID", "NAME", "LOGS", "LOG FILE", "NOTE"}};
    for (const Process& p : processes)
        table.push_back({std::to_string(p.pid), Shown(p.name),
                         p.otherRegistry.empty() ? (p.switchedOn ? "on" : "off") : "?",
                         p.openLog.empty() ? Shown(LogOf(p)) + " (not open)" : Shown(p.openLog),
                         Note(p, settings)});
    if (!processes.empty()) PrintTable(table, "  ");
    if (unreadable > 0 && geteuid() != 0)
        std::printf(
            "\nProcesses of other users are not shown: %d process(es) could not be looked into by this "
            "user;\n"
            "run qpdebug as root (sudo qpdebug status) to see every process.\n",
            unreadable);
    if (!processes.empty())
        std::printf(
            "\nLOGS: whether the module list switches the process on (it applies a change within a "
            "minute).\n");
    return 0;
}

int Where(const std::string& target) {
    std::vector<LogFile> files = LogFiles(target);
    if (files.empty()) return kExitFailure;
    for (const LogFile& file : files) std::printf("%s\n", Shown(file.path).c_str());
    return 0;
}

// Follows the file by name, as tail -F does: across rolls (the file renamed,
// a new one created), deletions and re-creations. Every line is shown once:
// what the followed file holds is read to its end before a new one is taken,
// and the file counts as truncated only when, after that read, it is shorter
// than what was read of it.
int Tail(const std::string& target, long lines) {
    std::vector<LogFile> files = LogFiles(target);
    if (files.empty()) return kExitFailure;
    const std::string path = files.front().path;
    if (files.size() > 1)
        Warning("several processes of " + Shown(target) + " log into different files; following " +
                Shown(path));
    const Reader reader = ReaderOf(files.front().pid, path);
    signal(SIGPIPE, SIG_DFL);
    int fd = -1;
    off_t position = 0;
    std::string pending, said;
    struct stat followed = {};
    auto say = [&](const std::string& text) {
        if (text != said && !text.empty()) std::fprintf(stderr, "qpdebug: %s\n", text.c_str());
        said = text;
    };
    for (bool first = true;; first = false) {
        if (fd >= 0) {
            if (!Copy(fd, &position, &pending)) return kExitFailure;
            struct stat now;
            if (fstat(fd, &now) == 0 && now.st_size < position) {
                say(Shown(path) + " was truncated");
                said.clear();
                lseek(fd, 0, SEEK_SET);
                position = 0;
                pending.clear();
                if (!Copy(fd, &position, &pending)) return kExitFailure;
            }
        }
        struct stat named;
        bool exists = lstat(path.c_str(), &named) == 0;
        if (fd >= 0 && exists && (named.st_ino != followed.st_ino || named.st_dev != followed.st_dev)) {
            // Another file took the name: what the old one got meanwhile comes first.
            if (!Copy(fd, &position, &pending) || !Finish(&pending)) return kExitFailure;
            close(fd);
            fd = -1;
        }
        if (fd < 0 && exists) {
            std::string problem;
            fd = OpenLog(path, reader, &problem);
            say(problem);
            if (fd >= 0) {
                fstat(fd, &followed);
                position = first ? StartOfLastLines(fd, lines) : 0;
                lseek(fd, position, SEEK_SET);
                pending.clear();
                if (!Copy(fd, &position, &pending)) return kExitFailure;
            }
        }
        if (!exists && fd < 0) say("waiting for " + Shown(path) + " to appear");
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
    for (const std::string& name : names) std::printf("%s\n", Shown(name).c_str());
    return 0;
}

}  // namespace qpdebug
