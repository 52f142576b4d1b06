// The back end's side of the disabled lists: applying them to the live module
// loggers, and reloading the feature mapping file.
#include <windows.h>

#include "Log4cxxAdapter.h"
#include "dbg_locks.h"
#include "dbg_settings.h"

namespace {

// Whether a value that was read differs from the text last applied; a change
// of letter case only is no change.
bool Differs(const DisabledListValue& value, std::wstring (CFeatureConfig::*applied)() const) {
    if (!value.read) return false;
    Guard<CSLock> guard(&AdapterLock());
    return _wcsicmp(value.text.c_str(), (AdapterFeatureConfig().*applied)().c_str()) != 0;
}

}  // namespace

void ApplyDisabledLists(const DisabledListValues& values) {
    if (!g_debugEnabled.load(std::memory_order_relaxed)) return;
    bool featuresChanged = Differs(values.features, &CFeatureConfig::GetDisabledFeatures);
    bool dllsChanged = !featuresChanged && Differs(values.dlls, &CFeatureConfig::GetDisabledDlls);
    if (!featuresChanged && !dllsChanged) return;

    Guard<CSLock> guard(&AdapterLock());
    CFeatureConfig& config = AdapterFeatureConfig();
    config.SetDisabledFeatures(values.features.text);
    config.SetDisabledDlls(values.dlls.text);
    // Loggers met after this are checked one by one by the write path.
    if (AdapterIsSetUp()) ApplyDisabledModulesToLoggers();
}

void ApplyDisabledLists(HKEY key) {
    if (!g_debugEnabled.load(std::memory_order_relaxed)) return;
    ApplyDisabledLists(ReadDisabledLists(key));
}

void ReloadFeatures() {
    if (!AdapterIsSetUp()) return;
    Guard<CSLock> guard(&AdapterLock());
    CFeatureConfig& config = AdapterFeatureConfig();
    config.LoadFeatureMapping();
    HKEY key = OpenProductKeyForReading(kDefaultProductKeyPath);
    // Without the key the lists stay as they are until the next refresh,
    // which finds the stored texts emptied and applies the values again.
    if (!key) return;
    // The disabled modules are recomputed from the values against the new
    // table, so that names silenced only through features that the file no
    // longer backs speak again, even when the values did not change.
    config.ForgetAppliedLists();
    ApplyDisabledLists(key);
    RegCloseKey(key);
    ApplyDisabledModulesToLoggers();
}
