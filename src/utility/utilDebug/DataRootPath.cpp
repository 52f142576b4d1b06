// Where the feature mapping file lies: under the data root, which on a
// cluster node is a private property of the product's cluster resource and
// elsewhere, and as the fall-back, the registry value DataRootPath.
// On the library's ladder: plain data; it includes no unit above (scripts/ladder.sh).
#include <algorithm>
#include <iterator>
#include <memory>

#include "FeatureConfig.h"
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
    RegQueryValueExW(key, L"IsCluster", nullptr, nullptr, reinterpret_cast<BYTE*>(&isCluster), &size);
    return isCluster != 0;
}

// A value longer than the buffer holds names no usable folder: it gives no
// data root rather than a cut one.
std::wstring ReadDataRootPath(HKEY key) {
    auto buffer = std::make_unique<wchar_t[]>(kDataRootElements);
    DWORD size = kDataRootReadBytes;
    if (RegQueryValueExW(key, L"DataRootPath", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.get()),
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
    CFeatureConfig::QueryResourceControl(type, resource, CLUSCTL_RESOURCE_GET_RESOURCE_TYPE, nullptr);
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
        CFeatureConfig::QueryResourceControl(list, resource, CLUSCTL_RESOURCE_GET_PRIVATE_PROPERTIES,
                                             &buffer);
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

void CFeatureConfig::QueryResourceControl(std::wstring& out, HRESOURCE resource, DWORD controlCode,
                                          ControlBuffer* buffer) {
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

void CFeatureConfig::ResolveMappingFilePath() {
    HKEY key = OpenProductKeyForReading(kDefaultProductKeyPath);
    if (!key) return;
    if (ReadIsCluster(key)) mappingFilePath = FindClusterDataRoot();
    if (!mappingFilePath.empty()) dataRootSource = DataRootSource::kCluster;
    if (mappingFilePath.empty()) mappingFilePath = ReadDataRootPath(key);
    RegCloseKey(key);
    if (mappingFilePath.empty()) return;
    if (dataRootSource == DataRootSource::kNone) dataRootSource = DataRootSource::kDataRootPath;
    if (mappingFilePath.back() != L'/') mappingFilePath += L'/';
    mappingFilePath += kMappingFileInDataRoot;
}

}  // namespace dbg_internal
