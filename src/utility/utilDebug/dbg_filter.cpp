// The filter: the process switch, the feature mapping object and the
// disabled lists applied to the live module loggers. Below the back end: it
// includes no unit above it (see dbg_filter.h).
// On the library's ladder: the filter; it includes no unit above (scripts/ladder.sh).
#include "dbg_filter.h"

#include <windows.h>

#include <log4cxx/level.h>
#include <log4cxx/logger.h>

#include <string>

#include "dbg_dataroot.h"
#include "dbg_locks.h"
#include "dbg_logpath.h"
#include "dbg_modules.h"
#include "dbg_registry.h"

namespace dbg_internal {

std::atomic<bool> g_debugEnabled{true};

namespace {

CFeatureConfig g_featureConfig GUARDED_BY(AdapterLock());

// Whether a value that was read differs from the text last applied; a change
// of letter case only is no change.
bool Differs(const DisabledListValue& value, std::wstring (CFeatureConfig::*applied)() const)
    REQUIRES(AdapterLock()) {
    return value.read && _wcsicmp(value.text.c_str(), (g_featureConfig.*applied)().c_str()) != 0;
}

}  // namespace

void ApplyModuleList(const wchar_t* moduleList) {
    CGuard<CSLock> guard(&AdapterLock());
    g_debugEnabled.store(ModuleListSwitchesOn(moduleList ? moduleList : L"", ProcessBaseName()),
                         std::memory_order_relaxed);
}

CFeatureConfig& FilterFeatureConfig() { return g_featureConfig; }

void ApplyDisabledModulesToLoggers() {
    CGuard<CSLock> guard(&AdapterLock());
    ApplyDisabledModulesToLoggersLocked();
}

// Before the back end is set up the table is empty, so this touches nothing.
void ApplyDisabledModulesToLoggersLocked() {
    for (const ModuleLogger* entry : ModuleTable().Entries())
        entry->logger->setLevel(g_featureConfig.IsModuleDisabled(entry->name)
                                    ? log4cxx::Level::getOff()
                                    : log4cxx::Logger::getRootLogger()->getLevel());
}

void ApplyDisabledLists(const DisabledListValues& values) {
    if (!g_debugEnabled.load(std::memory_order_relaxed) || (!values.features.read && !values.dlls.read))
        return;
    CGuard<CSLock> guard(&AdapterLock());
    ApplyDisabledListsLocked(values);
}

void ApplyDisabledListsLocked(const DisabledListValues& values) {
    if (!g_debugEnabled.load(std::memory_order_relaxed)) return;
    bool featuresChanged = Differs(values.features, &CFeatureConfig::GetDisabledFeatures);
    bool dllsChanged = !featuresChanged && Differs(values.dlls, &CFeatureConfig::GetDisabledDlls);
    if (!featuresChanged && !dllsChanged) return;
    g_featureConfig.SetDisabledFeatures(values.features.text);
    g_featureConfig.SetDisabledDlls(values.dlls.text);
    // Loggers met after this are checked one by one by the write path.
    ApplyDisabledModulesToLoggersLocked();
}

void ApplyDisabledListsLocked(HKEY key) {
    if (!g_debugEnabled.load(std::memory_order_relaxed)) return;
    ApplyDisabledListsLocked(ReadDisabledLists(key));
}

void ReloadFeatures() {
    CGuard<CSLock> guard(&AdapterLock());
    LoadFeatureMapping(g_featureConfig);
    HKEY key = OpenProductKeyForReading(kDefaultProductKeyPath);
    // Without the key the lists stay as they are until the next refresh,
    // which finds the stored texts emptied and applies the values again.
    if (!key) return;
    // The disabled modules are recomputed from the values against the new
    // table, so that names silenced only through features that the file no
    // longer backs speak again, even when the values did not change.
    g_featureConfig.ForgetAppliedLists();
    ApplyDisabledListsLocked(key);
    RegCloseKey(key);
    ApplyDisabledModulesToLoggersLocked();
}

}  // namespace dbg_internal
