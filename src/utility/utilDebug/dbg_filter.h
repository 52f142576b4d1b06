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

// The functions that take the adapter lock say so (EXCLUDES); what they do
// under it is a function of its own that needs it held (REQUIRES), which a
// caller already holding the lock calls instead: the lock is never taken
// again by the thread that holds it.

// Switches the process on or off by the module list (the rule is
// dbg_modulelist's).
void ApplyModuleList(const wchar_t* moduleList) EXCLUDES(AdapterLock());

// The feature mapping object the back end filters by.
CFeatureConfig& FilterFeatureConfig() REQUIRES(AdapterLock());

// Gives every module logger the level the disabled module list implies:
// silenced loggers OFF, all others the root logger's level.
void ApplyDisabledModulesToLoggers() EXCLUDES(AdapterLock());
void ApplyDisabledModulesToLoggersLocked() REQUIRES(AdapterLock());

// When either value changed (ignoring case), applies both to the live module
// loggers. A value that was not read counts as unchanged. Nothing happens
// while the process does not log.
void ApplyDisabledLists(const DisabledListValues& values) EXCLUDES(AdapterLock());
void ApplyDisabledListsLocked(const DisabledListValues& values) REQUIRES(AdapterLock());
// Reads and applies them under the open key, reading nothing while the
// process does not log.
void ApplyDisabledListsLocked(HKEY key) REQUIRES(AdapterLock());
// Re-reads the feature mapping file and applies the disabled lists again.
// The caller runs it only once the back end is set up.
void ReloadFeatures() EXCLUDES(AdapterLock());

}  // namespace dbg_internal
