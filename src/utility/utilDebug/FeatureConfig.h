// Feature and module filtering: which module loggers are silenced by the
// registry values DebugLogDisabledFeatures and DebugLogDisabledDlls, the
// feature mapping file that groups modules into features, and where that
// file lies (the data root, on a cluster node found through the product's
// cluster resource).
// On the library's ladder: plain data; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

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

// Output buffer of cluster control calls: local memory that grows on demand.
struct ControlBuffer {
    DWORD size = 0;  // bytes
    HLOCAL data = nullptr;
};

// Grows the block to size bytes: a first block is zero-filled, a larger one
// reallocated (moveable, new bytes not zeroed). A size of 0, or a failed
// allocation, fails and leaves the buffer as it was.
bool GrowControlBuffer(ControlBuffer& buffer, DWORD size);
void FreeControlBuffer(ControlBuffer& buffer);

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

    // ---- Feature mapping file ----------------------------------------------------
    // Rebuilds the feature table from the mapping file and empties the stored
    // texts, so that the next application recomputes the disabled modules
    // against the new table. Without a mapping file path nothing changes; a
    // missing or unreadable file gives an empty table.
    void LoadFeatureMapping();
    // The strings of a NUL-separated list that ends in an empty string.
    static std::vector<std::wstring> SplitMultiString(const wchar_t* list);
    const std::vector<FeatureEntry>& Features() const { return features; }

    // ---- Data root ------------------------------------------------------------------
    // Finds the data root once and forms <data root>/config/dbglog_FeatureMapping.ini:
    // on a cluster node (IsCluster) the QPEX_DATA_PATH property of the first
    // resource of type clusRDLL or clusRDLLCCR, else, and as the fall-back,
    // DataRootPath. Empty when neither gives a data root.
    void ResolveMappingFilePath();
    // Runs a control code on a cluster resource; out receives the output read
    // as a terminated text, or is empty on failure. With a buffer the raw
    // output stays in it for the caller; without one a buffer of its own is
    // used and freed.
    static void QueryResourceControl(std::wstring& out, HRESOURCE resource, DWORD controlCode,
                                     ControlBuffer* buffer);
    const std::wstring& MappingFilePath() const { return mappingFilePath; }
    // Where the data root of the mapping file came from.
    enum class DataRootSource { kNone, kCluster, kDataRootPath };
    DataRootSource DataRootOrigin() const { return dataRootSource; }
    const std::vector<std::wstring>& DisabledModules() const { return disabledModules; }

  private:
    std::vector<FeatureEntry> features;  // sorted by name, names unique
    std::wstring disabledFeaturesText;
    std::wstring disabledDllsText;
    std::vector<std::wstring> disabledModules;  // no duplicates
    std::wstring mappingFilePath;
    DataRootSource dataRootSource = DataRootSource::kNone;
};

}  // namespace dbg_internal
