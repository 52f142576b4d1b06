// Feature and module filtering as data: which module loggers the values of
// DebugLogDisabledFeatures and DebugLogDisabledDlls silence, against the
// feature mapping that groups modules into features. It reads nothing: the
// data root unit (dbg_dataroot.h) finds and reads the mapping file.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace dbg_internal {

// One section of the feature mapping file: a feature and its modules, both
// lower-cased; modules in file order, duplicates kept.
struct FeatureEntry {
    std::wstring name;
    std::vector<std::wstring> modules;
};

// How many feature lines name each module, in the order the modules are met.
using ModuleReferences = std::vector<std::pair<std::wstring, int>>;

// The back end's filtering state. Not thread-safe by itself: the back end's
// one instance is guarded by the adapter lock.
class CFeatureConfig {
  public:
    // ---- Disabled features and DLLs --------------------------------------------
    // The texts last applied, as read from the registry.
    std::wstring GetDisabledFeatures() const { return disabledFeaturesText; }
    std::wstring GetDisabledDlls() const { return disabledDllsText; }
    // Stores the text and rebuilds the disabled module list from it and the
    // feature table: a module is silenced through features only when every
    // feature line naming it belongs to a disabled feature.
    void SetDisabledFeatures(const std::wstring& text);
    // Stores the text and adds its names to the disabled module list; runs
    // right after SetDisabledFeatures, which empties the list.
    void SetDisabledDlls(const std::wstring& text);
    // Forgets what was applied: both texts and the disabled module list are
    // emptied, so that the next application takes the values anew.
    void ForgetAppliedLists();
    // A ';'-separated list's names: its first 2,047 characters, lower-cased
    // (ASCII letters), without empty names, sorted, without duplicates.
    // Blanks are kept: " b.dll" names no module.
    static std::vector<std::wstring> SplitNameList(const std::wstring& text);
    ModuleReferences CountModuleReferences() const;
    static void ReleaseFeatureModules(ModuleReferences& references, const FeatureEntry& feature);
    // Whether a logger name is in the disabled module list (exact match).
    bool IsModuleDisabled(const std::wstring& loggerName) const;

    // ---- Feature mapping ----------------------------------------------------------
    // The mapping file's path (empty without a data root) and where its data
    // root came from, as the data root unit found them.
    enum class DataRootSource { kNone, kCluster, kDataRootPath };
    void SetMappingFile(const std::wstring& path, DataRootSource source) {
        mappingFilePath = path;
        dataRootSource = source;
    }
    const std::wstring& MappingFilePath() const { return mappingFilePath; }
    DataRootSource DataRootOrigin() const { return dataRootSource; }
    // Takes the features read from the mapping file and empties the stored
    // texts, so that the next application recomputes the disabled modules
    // against the new table.
    void SetFeatures(std::vector<FeatureEntry> read);
    const std::vector<FeatureEntry>& Features() const { return features; }
    // The strings of a NUL-separated list that ends in an empty string.
    static std::vector<std::wstring> SplitMultiString(const wchar_t* list);
    // A name as the mapping and the lists compare it: lower-cased as the C
    // runtime does in its default locale (ASCII letters).
    static std::wstring LowerCased(std::wstring text);
    // The mapping's section names as features: lower-cased, sorted as
    // Windows sorts texts, without duplicates.
    static std::vector<std::wstring> FeatureNames(std::vector<std::wstring> names);
    const std::vector<std::wstring>& DisabledModules() const { return disabledModules; }

    // The tools' way in, defined by the data root unit: ResolveMappingFile
    // and LoadFeatureMapping (dbg_dataroot.h) on this object.
    void ResolveMappingFilePath();
    void LoadFeatureMapping();

  private:
    std::vector<FeatureEntry> features;  // sorted by name, names unique
    std::wstring disabledFeaturesText;
    std::wstring disabledDllsText;
    std::vector<std::wstring> disabledModules;  // no duplicates
    std::wstring mappingFilePath;
    DataRootSource dataRootSource = DataRootSource::kNone;
};

}  // namespace dbg_internal
