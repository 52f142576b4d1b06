// What qpdebug knows of the machine: the debug settings in the registry, read
// and judged by the library's own rules, and the processes that have the
// library loaded.
#pragma once

#include <string>
#include <vector>

#include "FeatureConfig.h"
#include "ProductRegINIReader.h"
#include "dbg_registry.h"

namespace qpdebug {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The registry database this tool reads and writes.
std::string RegistryFile();

// The settings in force under the product key, each as the library takes it.
struct Settings {
    std::wstring keyPath;
    bool modeSet = false;
    int mode = 0;  // in force: kDefaultDebugMode when not set
    bool countSet = false;
    int count = 0;
    dbg_internal::TextSetting moduleList;
    bool criticalSet = false;
    int critical = 0;
    dbg_internal::TextSetting homeDir;      // text empty: not set (or too long to be read)
    dbg_internal::TextSetting format;       // text empty: the default layout
    dbg_internal::TextSetting destination;  // text empty: not set, or too long ("file")
    dbg_internal::DisabledListValues disabled;
    // Every read was answered: the settings may be edited and written back.
    bool complete = false;
    std::wstring mappingFile;
    dbg_internal::CFeatureConfig::DataRootSource dataRootSource =
        dbg_internal::CFeatureConfig::DataRootSource::kNone;
    std::vector<dbg_internal::FeatureEntry> features;
    std::vector<std::wstring> silencedModules;
};
// The settings under the key and names given (the default ones unless a
// product registry file redirects them).
Settings ReadSettings(const dbg_internal::ProductRegistryNames& names);
dbg_internal::ProductRegistryNames DefaultNames();

// A process of the machine that has the library loaded.
struct Process {
    int pid = 0;
    std::string name;        // the executable's base name, as the module list names it (after the last '/')
    std::string executable;  // empty when it cannot be read (another user's process)
    bool readable = false;   // its executable, environment and descriptors could be read
    std::string otherRegistry;        // the registry it reads, when not this tool's
    std::string productRegistryFile;  // cfg_ProductRegistry.txt that redirects its settings
    bool switchedOn = false;
    std::string openLog;  // the log file it has open, or empty
    bool logDeleted = false;
    std::string wouldUse;              // the log file a process of it started now would use
    bool stale = false;                // openLog lies elsewhere than wouldUse
    std::vector<std::string> modules;  // logger names of its loaded objects
};
// *unreadable, when given: how many processes could not be looked into (those
// of other users, for a user other than root).
std::vector<Process> FindProcesses(int* unreadable = nullptr);

// The log file a process of that name started now would use, from this
// tool's environment.
std::string LogFileForName(const std::string& name, const Settings& settings);

// Whether a text names a process id.
bool IsProcessId(const std::string& text);

}  // namespace qpdebug
