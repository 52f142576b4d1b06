// The feature mapping file: under the data root, which on a cluster node is
// a private property of the product's cluster resource and elsewhere, and as
// the fall-back, the registry value DataRootPath; its sections are features.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#include "dbg_dataroot.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "dbg_defaults.h"
#include "dbg_diagnostics.h"
#include "dbg_registry.h"

namespace dbg_internal {

namespace {

const wchar_t kMappingFileInDataRoot[] = L"config/dbglog_FeatureMapping.ini";
const wchar_t kDataPathProperty[] = L"QPEX_DATA_PATH";
// The product's resource types, compared exactly, case included.
const wchar_t* const kProductResourceTypes[] = {L"clusRDLL", L"clusRDLLCCR"};

constexpr DWORD kFirstControlBufferBytes = 128;
constexpr DWORD kFirstNameCharacters = 256;
// DataRootPath is read with 4,096 registry bytes: at most 2,047 characters.
constexpr DWORD kDataRootReadBytes = 4096;
constexpr size_t kDataRootElements = 2048;
// Section names, and each section's text, as the profile functions return them.
constexpr DWORD kProfileBufferElements = 20480;

// Text of a buffer up to its first NUL or its end.
std::wstring TextOf(const ControlBuffer& buffer) {
    const wchar_t* text = static_cast<const wchar_t*>(buffer.data);
    if (!text) return std::wstring();
    return std::wstring(text, wcsnlen(text, buffer.size / sizeof(wchar_t)));
}

// A missing value counts as 0; the value's type is not checked.
bool ReadIsCluster(HKEY key) {
    DWORD isCluster = 0;
    DWORD size = sizeof isCluster;
    RegQueryValueExW(key, kValueIsCluster, nullptr, nullptr, reinterpret_cast<BYTE*>(&isCluster), &size);
    return isCluster != 0;
}

// A value longer than the buffer holds names no usable folder: it gives no
// data root rather than a cut one.
std::wstring ReadDataRootPath(HKEY key) {
    auto buffer = std::make_unique<wchar_t[]>(kDataRootElements);
    DWORD size = kDataRootReadBytes;
    if (RegQueryValueExW(key, kValueDataRootPath, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.get()),
                         &size) != ERROR_SUCCESS)
        return std::wstring();
    return buffer.get();
}

bool IsProductResourceType(const std::wstring& type) {
    return std::any_of(std::begin(kProductResourceTypes), std::end(kProductResourceTypes),
                       [&](const wchar_t* productType) { return type == productType; });
}

// The resource named, if it is the product's; null otherwise.
HRESOURCE OpenIfProductResource(HCLUSTER cluster, const wchar_t* name) {
    HRESOURCE resource = OpenClusterResource(cluster, name);
    if (!resource) return nullptr;
    std::wstring type;
    QueryResourceControl(type, resource, CLUSCTL_RESOURCE_GET_RESOURCE_TYPE, nullptr);
    if (IsProductResourceType(type)) return resource;
    CloseClusterResource(resource);
    return nullptr;
}

// The first of the product's resources in enumeration order, or null. A name
// that does not fit makes the name buffer grow and the same index be asked
// again; when the buffer cannot grow, the search ends.
HRESOURCE FindProductResource(HCLUSTER cluster, HCLUSENUM resources) {
    ControlBuffer name;
    if (!GrowControlBuffer(name, kFirstNameCharacters * sizeof(wchar_t))) return nullptr;
    HRESOURCE found = nullptr;
    DWORD index = 0;
    while (!found) {
        DWORD type = 0;
        // Never more than the buffer holds.
        DWORD length = name.size / sizeof(wchar_t);
        DWORD result = ClusterEnum(resources, index, &type, static_cast<wchar_t*>(name.data), &length);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_MORE_DATA) {
            DWORD needed = (length + 1) * sizeof(wchar_t);
            if (needed > name.size && GrowControlBuffer(name, needed)) continue;
            if (needed > name.size) break;
        } else if (result == ERROR_SUCCESS) {
            found = OpenIfProductResource(cluster, static_cast<wchar_t*>(name.data));
        }
        ++index;
    }
    FreeControlBuffer(name);
    return found;
}

// The resource's QPEX_DATA_PATH property, or empty.
std::wstring ReadDataPathProperty(HRESOURCE resource) {
    ControlBuffer buffer;
    std::wstring dataRoot;
    if (GrowControlBuffer(buffer, kFirstControlBufferBytes)) {
        // A property list starts with its property count, so its text is
        // empty when the call failed or the list holds no property.
        std::wstring list;
        QueryResourceControl(list, resource, CLUSCTL_RESOURCE_GET_PRIVATE_PROPERTIES, &buffer);
        wchar_t* value = nullptr;
        if (!list.empty() &&
            ResUtilFindSzProperty(buffer.data, buffer.size, kDataPathProperty, &value) == ERROR_SUCCESS) {
            dataRoot = value;
            LocalFree(value);
        }
    }
    FreeControlBuffer(buffer);
    return dataRoot;
}

// The data root from the product's cluster resource; empty when this is no
// cluster node, the cluster has no such resource, or the first one found has
// no usable property.
std::wstring FindClusterDataRoot() {
    HCLUSTER cluster = OpenCluster(nullptr);
    if (!cluster) return std::wstring();
    std::wstring dataRoot;
    if (HCLUSENUM resources = ClusterOpenEnum(cluster, CLUSTER_ENUM_RESOURCE)) {
        if (HRESOURCE resource = FindProductResource(cluster, resources)) {
            dataRoot = ReadDataPathProperty(resource);
            CloseClusterResource(resource);
        }
        ClusterCloseEnum(resources);
    }
    CloseCluster(cluster);
    return dataRoot;
}

}  // namespace

bool GrowControlBuffer(ControlBuffer& buffer, DWORD size) {
    if (size == 0) return false;
    if (!buffer.data) {
        HLOCAL block = LocalAlloc(LMEM_ZEROINIT, size);
        if (!block) return false;
        buffer.data = block;
        buffer.size = size;
        return true;
    }
    if (size <= buffer.size) return true;
    HLOCAL block = LocalReAlloc(buffer.data, size, LMEM_MOVEABLE);
    if (!block) return false;
    buffer.data = block;
    buffer.size = size;
    return true;
}

void FreeControlBuffer(ControlBuffer& buffer) {
    LocalFree(buffer.data);
    buffer.size = 0;
    buffer.data = nullptr;
}

void QueryResourceControl(std::wstring& out, HRESOURCE resource, DWORD controlCode, ControlBuffer* buffer) {
    ControlBuffer own;
    ControlBuffer& used = buffer ? *buffer : own;
    if (!buffer) GrowControlBuffer(own, kFirstControlBufferBytes);
    DWORD returned = 0;
    DWORD result =
        ClusterResourceControl(resource, nullptr, controlCode, nullptr, 0, used.data, used.size, &returned);
    if (result == ERROR_MORE_DATA && GrowControlBuffer(used, returned))
        result = ClusterResourceControl(resource, nullptr, controlCode, nullptr, 0, used.data, used.size,
                                        &returned);
    out.clear();
    if (result == ERROR_SUCCESS) out = TextOf(used);
    if (!buffer) FreeControlBuffer(own);
}

MappingFileLocation ResolveMappingFile() {
    MappingFileLocation found;
    HKEY key = OpenProductKeyForReading(kDefaultProductKeyPath);
    if (!key) return found;
    std::wstring& path = found.path;
    if (ReadIsCluster(key)) path = FindClusterDataRoot();
    if (!path.empty()) found.source = CFeatureConfig::DataRootSource::kCluster;
    if (path.empty()) path = ReadDataRootPath(key);
    RegCloseKey(key);
    if (path.empty()) return found;
    if (found.source == CFeatureConfig::DataRootSource::kNone)
        found.source = CFeatureConfig::DataRootSource::kDataRootPath;
    if (path.back() != L'/') path += L'/';
    path += kMappingFileInDataRoot;
    return found;
}

DWORD ReadFeatureMapping(const std::wstring& path, std::vector<FeatureEntry>* features) {
    features->clear();
    // The profile functions keep the file parsed: the sections below come
    // from the one reading the names made.
    auto buffer = std::make_unique<wchar_t[]>(kProfileBufferElements);
    GetPrivateProfileSectionNamesW(buffer.get(), kProfileBufferElements, path.c_str());
    DWORD error = GetLastError();
    DWORD refusal = error != ERROR_SUCCESS && !IsMissingFileError(error) ? error : ERROR_SUCCESS;
    // [Archive] and [archive] are one feature: the first such section is read.
    std::vector<std::wstring> names =
        CFeatureConfig::FeatureNames(CFeatureConfig::SplitMultiString(buffer.get()));
    features->reserve(names.size());
    for (const std::wstring& name : names) {
        // The call writes a terminated list, however short.
        buffer[0] = buffer[1] = L'\0';
        GetPrivateProfileSectionW(name.c_str(), buffer.get(), kProfileBufferElements, path.c_str());
        std::vector<std::wstring> modules = CFeatureConfig::SplitMultiString(buffer.get());
        for (std::wstring& module : modules) module = CFeatureConfig::LowerCased(module);
        features->push_back(FeatureEntry{name, std::move(modules)});
    }
    return refusal;
}

void LoadFeatureMapping(CFeatureConfig& config) {
    const std::wstring& path = config.MappingFilePath();
    if (path.empty()) return;
    std::vector<FeatureEntry> features;
    DWORD refusal = ReadFeatureMapping(path, &features);
    config.SetFeatures(std::move(features));
    if (refusal != ERROR_SUCCESS) SayFileRefused("the feature mapping file", path, "is not read", refusal);
}

void CFeatureConfig::ResolveMappingFilePath() {
    MappingFileLocation found = ResolveMappingFile();
    SetMappingFile(found.path, found.source);
}

void CFeatureConfig::LoadFeatureMapping() { dbg_internal::LoadFeatureMapping(*this); }

}  // namespace dbg_internal
