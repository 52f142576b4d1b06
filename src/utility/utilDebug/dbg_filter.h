// The filter, below the back end: which process logs, which module loggers
// are silenced, the disabled lists and the feature mapping object, all under
// the adapter lock. The back end consults it on every record; the settings
// store hands it the values that changed. It reaches down to the readers and
// rules (CFeatureConfig, the module table, the log location), product-key
// access and the platform layer, never up.
// On the library's ladder: the filter; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <atomic>

#include "FeatureConfig.h"
#include "dbg_locks.h"
#include "dbg_registry.h"

namespace dbg_internal {

// Whether this process writes records; true until the module list says otherwise.
extern std::atomic<bool> g_debugEnabled;

// Switches the process on or off by the module list (the rule is
// dbg_modulelist's).
void ApplyModuleList(const wchar_t* moduleList);

// The feature mapping object the back end filters by.
CFeatureConfig& FilterFeatureConfig() REQUIRES(AdapterLock());

// Gives every module logger the level the disabled module list implies:
// silenced loggers OFF, all others the root logger's level.
void ApplyDisabledModulesToLoggers();

// When either value changed (ignoring case), applies both to the live module
// loggers. A value that was not read counts as unchanged. Nothing happens
// while the process does not log.
void ApplyDisabledLists(const DisabledListValues& values);
// Reads and applies them, reading nothing while the process does not log.
void ApplyDisabledLists(HKEY key);
// Re-reads the feature mapping file and applies the disabled lists again.
// The caller runs it only once the back end is set up.
void ReloadFeatures();

}  // namespace dbg_internal
