// The cluster API's entry points in the platform library: each loads the
// cluster's shared object on first use and calls on into it. A process that
// never opens a cluster loads nothing of Pacemaker. When the object or the
// Pacemaker libraries it needs are missing, OpenCluster fails with
// ERROR_MOD_NOT_FOUND, and so no other call ever gets a valid handle.
#include <windows.h>

#include <dlfcn.h>

#include <string>

#include "clusapi/cluster_api.h"

namespace {

// The cluster object is installed beside the platform library, as the
// system's DLLs share one folder; the loader's search path comes second.
void* OpenClusterLibrary() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&OpenClusterLibrary), &info) && info.dli_fname) {
        std::string path = info.dli_fname;
        size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            path.resize(slash + 1);
            path += NL_CLUSTER_LIBRARY;
            if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
        }
    }
    return dlopen(NL_CLUSTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
}

// Loaded once and kept for the life of the process.
const NlClusterApi* LoadClusterApi() {
    void* library = OpenClusterLibrary();
    if (!library) return nullptr;
    auto get = reinterpret_cast<NlGetClusterApiFunction>(dlsym(library, NL_CLUSTER_API_SYMBOL));
    return get ? get() : nullptr;
}

const NlClusterApi* ClusterApi() {
    static const NlClusterApi* const api = LoadClusterApi();
    return api;
}

// Calls that take a handle: without the object no handle can be valid.
const NlClusterApi* ApiForHandle() {
    const NlClusterApi* api = ClusterApi();
    if (!api) SetLastError(ERROR_INVALID_HANDLE);
    return api;
}

}  // namespace

extern "C" {

HCLUSTER OpenCluster(LPCWSTR clusterName) {
    const NlClusterApi* api = ClusterApi();
    if (!api) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return api->OpenCluster(clusterName);
}

BOOL CloseCluster(HCLUSTER cluster) {
    const NlClusterApi* api = ApiForHandle();
    return api ? api->CloseCluster(cluster) : FALSE;
}

HCLUSENUM ClusterOpenEnum(HCLUSTER cluster, DWORD type) {
    const NlClusterApi* api = ApiForHandle();
    return api ? api->ClusterOpenEnum(cluster, type) : nullptr;
}

DWORD ClusterEnum(HCLUSENUM enumeration, DWORD index, LPDWORD type, LPWSTR name, LPDWORD nameLength) {
    const NlClusterApi* api = ApiForHandle();
    return api ? api->ClusterEnum(enumeration, index, type, name, nameLength) : ERROR_INVALID_HANDLE;
}

DWORD ClusterCloseEnum(HCLUSENUM enumeration) {
    const NlClusterApi* api = ApiForHandle();
    return api ? api->ClusterCloseEnum(enumeration) : ERROR_INVALID_HANDLE;
}

HRESOURCE OpenClusterResource(HCLUSTER cluster, LPCWSTR resourceName) {
    const NlClusterApi* api = ApiForHandle();
    return api ? api->OpenClusterResource(cluster, resourceName) : nullptr;
}

BOOL CloseClusterResource(HRESOURCE resource) {
    const NlClusterApi* api = ApiForHandle();
    return api ? api->CloseClusterResource(resource) : FALSE;
}

DWORD ClusterResourceControl(HRESOURCE resource, HNODE node, DWORD controlCode, LPVOID inBuffer,
                             DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                             LPDWORD bytesReturned) {
    const NlClusterApi* api = ApiForHandle();
    return api ? api->ClusterResourceControl(resource, node, controlCode, inBuffer, inBufferSize, outBuffer,
                                             outBufferSize, bytesReturned)
               : ERROR_INVALID_HANDLE;
}

}  // extern "C"
