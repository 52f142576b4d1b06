// The disabled module list, computed from the disabled lists and the feature
// mapping.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#include "FeatureConfig.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <unordered_map>

#include "dbg_defaults.h"

namespace dbg_internal {

namespace {

// Orders texts by their UTF-16 code units, as Windows sorts them: characters
// beyond the BMP (two units, the first below U+E000) come before U+E000-U+FFFF.
char32_t Utf16SortKey(wchar_t c) {
    char32_t value = static_cast<char32_t>(c);
    return value >= 0xE000 && value <= 0xFFFF ? value + 0x110000 : value;
}

bool Utf16Less(const std::wstring& a, const std::wstring& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return Utf16SortKey(x) < Utf16SortKey(y);
    });
}

void SortUnique(std::vector<std::wstring>& names) {
    std::sort(names.begin(), names.end(), Utf16Less);
    names.erase(std::unique(names.begin(), names.end()), names.end());
}

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

const FeatureEntry* FindFeature(const std::vector<FeatureEntry>& features, const std::wstring& name) {
    auto found = std::find_if(features.begin(), features.end(),
                              [&](const FeatureEntry& feature) { return feature.name == name; });
    return found == features.end() ? nullptr : &*found;
}

}  // namespace

// ---- Disabled features and DLLs -------------------------------------------------------

void CFeatureConfig::SetDisabledFeatures(const std::wstring& text) {
    disabledFeaturesText = text;
    disabledModules.clear();
    if (disabledFeaturesText.empty()) return;
    ModuleReferences references = CountModuleReferences();
    for (const std::wstring& name : SplitNameList(disabledFeaturesText))
        if (const FeatureEntry* feature = FindFeature(features, name))
            ReleaseFeatureModules(references, *feature);
    for (const auto& reference : references)
        if (reference.second < 1) disabledModules.push_back(reference.first);
}

void CFeatureConfig::SetDisabledDlls(const std::wstring& text) {
    disabledDllsText = text;
    for (const std::wstring& name : SplitNameList(disabledDllsText))
        if (!Contains(disabledModules, name)) disabledModules.push_back(name);
}

void CFeatureConfig::ForgetAppliedLists() {
    disabledFeaturesText.clear();
    disabledDllsText.clear();
    disabledModules.clear();
}

std::vector<std::wstring> CFeatureConfig::SplitNameList(const std::wstring& text) {
    std::wstring list = LowerCased(text.substr(0, kDisabledListLimit));
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(L';', start);
        if (end == std::wstring::npos) end = list.size();
        if (end > start) names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    SortUnique(names);
    return names;
}

// Thousands of features name thousands of modules: each name is found
// through an index, not by a walk of the list.
ModuleReferences CFeatureConfig::CountModuleReferences() const {
    ModuleReferences references;
    std::unordered_map<std::wstring, size_t> indexOf;
    for (const FeatureEntry& feature : features) {
        for (const std::wstring& module : feature.modules) {
            auto inserted = indexOf.emplace(module, references.size());
            if (inserted.second)
                references.emplace_back(module, 1);
            else
                ++references[inserted.first->second].second;
        }
    }
    return references;
}

void CFeatureConfig::ReleaseFeatureModules(ModuleReferences& references, const FeatureEntry& feature) {
    if (feature.modules.empty()) return;
    std::unordered_map<std::wstring, size_t> indexOf;
    for (size_t i = 0; i < references.size(); ++i) indexOf.emplace(references[i].first, i);
    for (const std::wstring& module : feature.modules) {
        auto found = indexOf.find(module);
        if (found != indexOf.end()) --references[found->second].second;
    }
}

bool CFeatureConfig::IsModuleDisabled(const std::wstring& loggerName) const {
    return Contains(disabledModules, loggerName);
}

// ---- Feature mapping ------------------------------------------------------------------

void CFeatureConfig::SetFeatures(std::vector<FeatureEntry> read) {
    features = std::move(read);
    disabledFeaturesText.clear();
    disabledDllsText.clear();
}

std::wstring CFeatureConfig::LowerCased(std::wstring text) {
    if (!text.empty()) _wcslwr(&text[0]);
    return text;
}

std::vector<std::wstring> CFeatureConfig::FeatureNames(std::vector<std::wstring> names) {
    for (std::wstring& name : names) name = LowerCased(name);
    SortUnique(names);
    return names;
}

std::vector<std::wstring> CFeatureConfig::SplitMultiString(const wchar_t* list) {
    std::vector<std::wstring> strings;
    for (const wchar_t* p = list; p && *p; p += wcslen(p) + 1) strings.emplace_back(p);
    return strings;
}

}  // namespace dbg_internal
