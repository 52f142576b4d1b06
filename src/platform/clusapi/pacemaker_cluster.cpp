// The cluster API over Pacemaker: OpenCluster reads the cluster information
// base (CIB) through libcib, from the live cluster or from the file that
// Pacemaker's CIB_file environment variable names, and the handles work on
// what it read then. Only resources are known: an enumeration lists the
// primitives, and a resource answers the control codes for its type and its
// private properties.
#include <crm/cib.h>
#include <crm/common/xml.h>
#include <pthread.h>
#include <windows.h>

#include <cxxabi.h>

#include <mutex>
#include <string>
#include <vector>

#include "clusapi/cib_resources.h"
#include "clusapi/cluster_api.h"

extern "C" void crm_schema_init(void);

using nlplatform::clusapi::ClusterResource;

struct HCLUSTER__ {
    std::vector<ClusterResource> resources;
};

struct HCLUSENUM__ {
    std::vector<std::wstring> names;
};

struct HRESOURCE__ {
    ClusterResource resource;
};

namespace {

constexpr char kClientName[] = "utilDebug";

// libcib's file backend signs on only once the schemas are loaded.
void LoadSchemasOnce() {
    static std::once_flag once;
    std::call_once(once, crm_schema_init);
}

// libcib keeps process-wide state: one reader at a time.
std::mutex& CibLock() {
    static std::mutex lock;
    return lock;
}

bool QueryResources(std::vector<ClusterResource>* resources) {
    LoadSchemasOnce();
    std::lock_guard<std::mutex> guard(CibLock());
    cib_t* cib = cib_new();
    if (!cib) return false;
    bool read = false;
    if (cib->cmds->signon(cib, kClientName, cib_query) == pcmk_ok) {
        xmlNode* section = nullptr;
        if (cib->cmds->query(cib, "resources", &section, cib_sync_call | cib_scope_local) == pcmk_ok) {
            *resources = nlplatform::clusapi::ReadPrimitives(section);
            read = true;
        }
        if (section) free_xml(section);
        cib->cmds->signoff(cib);
    }
    cib_delete(cib);
    return read;
}

template <typename T>
T* Fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// Runs an entry point's body; running out of memory is a result, never an
// exception that crosses into the caller.
template <typename Body>
auto NoThrow(Body body, decltype(body()) outOfMemory) -> decltype(body()) {
    try {
        return body();
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return outOfMemory;
    }
}

// Control output: the whole answer, or ERROR_MORE_DATA with its size.
DWORD DeliverControlOutput(const void* data, size_t size, LPVOID out, DWORD outSize, LPDWORD bytesReturned) {
    if (bytesReturned) *bytesReturned = static_cast<DWORD>(size);
    if (!out || outSize < size) return ERROR_MORE_DATA;
    memcpy(out, data, size);
    return ERROR_SUCCESS;
}

// ---- Entry points -----------------------------------------------------------------

// Only the local cluster (a null or empty name) is reachable; on failure the
// last error is RPC_S_SERVER_UNAVAILABLE, as for a cluster service that does
// not answer.
HCLUSTER PcmkOpenCluster(LPCWSTR clusterName) {
    if (clusterName && clusterName[0]) return Fail<HCLUSTER__>(RPC_S_SERVER_UNAVAILABLE);
    return NoThrow(
        [] {
            std::vector<ClusterResource> resources;
            if (!QueryResources(&resources)) return Fail<HCLUSTER__>(RPC_S_SERVER_UNAVAILABLE);
            return new HCLUSTER__{std::move(resources)};
        },
        static_cast<HCLUSTER>(nullptr));
}

BOOL PcmkCloseCluster(HCLUSTER cluster) {
    if (!cluster) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete cluster;
    return TRUE;
}

// Resources are the only objects known: other types enumerate nothing.
HCLUSENUM PcmkClusterOpenEnum(HCLUSTER cluster, DWORD type) {
    if (!cluster) return Fail<HCLUSENUM__>(ERROR_INVALID_HANDLE);
    return NoThrow(
        [&] {
            auto enumeration = new HCLUSENUM__;
            if (type & CLUSTER_ENUM_RESOURCE)
                for (const ClusterResource& resource : cluster->resources)
                    enumeration->names.push_back(resource.name);
            return enumeration;
        },
        static_cast<HCLUSENUM>(nullptr));
}

// *nameLength: the buffer's capacity in characters on the way in, the name's
// length without its terminator on the way out. A buffer that is too small
// gets nothing and ERROR_MORE_DATA.
DWORD PcmkClusterEnum(HCLUSENUM enumeration, DWORD index, LPDWORD type, LPWSTR name, LPDWORD nameLength) {
    if (!enumeration) return ERROR_INVALID_HANDLE;
    if (!nameLength) return ERROR_INVALID_PARAMETER;
    if (index >= enumeration->names.size()) return ERROR_NO_MORE_ITEMS;
    const std::wstring& found = enumeration->names[index];
    if (type) *type = CLUSTER_ENUM_RESOURCE;
    DWORD capacity = *nameLength;
    *nameLength = static_cast<DWORD>(found.size());
    if (!name || capacity <= found.size()) return ERROR_MORE_DATA;
    wmemcpy(name, found.c_str(), found.size() + 1);
    return ERROR_SUCCESS;
}

DWORD PcmkClusterCloseEnum(HCLUSENUM enumeration) {
    if (!enumeration) return ERROR_INVALID_HANDLE;
    delete enumeration;
    return ERROR_SUCCESS;
}

// Resource names are Pacemaker ids: matched exactly, case included.
HRESOURCE PcmkOpenClusterResource(HCLUSTER cluster, LPCWSTR resourceName) {
    if (!cluster || !resourceName) return Fail<HRESOURCE__>(ERROR_INVALID_PARAMETER);
    return NoThrow(
        [&] {
            for (const ClusterResource& resource : cluster->resources)
                if (resource.name == resourceName) return new HRESOURCE__{resource};
            return Fail<HRESOURCE__>(ERROR_RESOURCE_NOT_FOUND);
        },
        static_cast<HRESOURCE>(nullptr));
}

BOOL PcmkCloseClusterResource(HRESOURCE resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete resource;
    return TRUE;
}

DWORD PcmkClusterResourceControl(HRESOURCE resource, HNODE, DWORD controlCode, LPVOID, DWORD,
                                 LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned) {
    if (!resource) return ERROR_INVALID_HANDLE;
    switch (controlCode) {
        case CLUSCTL_RESOURCE_GET_RESOURCE_TYPE: {
            const std::wstring& type = resource->resource.type;
            return DeliverControlOutput(type.c_str(), (type.size() + 1) * sizeof(WCHAR), outBuffer,
                                        outBufferSize, bytesReturned);
        }
        case CLUSCTL_RESOURCE_GET_PRIVATE_PROPERTIES:
            return NoThrow(
                [&] {
                    std::vector<BYTE> list =
                        nlplatform::resutils::BuildSzPropertyList(resource->resource.properties);
                    return DeliverControlOutput(list.data(), list.size(), outBuffer, outBufferSize,
                                                bytesReturned);
                },
                static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        default:
            return ERROR_INVALID_FUNCTION;
    }
}

const NlClusterApi kPacemakerApi = {
    PcmkOpenCluster,      PcmkCloseCluster,        PcmkClusterOpenEnum,      PcmkClusterEnum,
    PcmkClusterCloseEnum, PcmkOpenClusterResource, PcmkCloseClusterResource, PcmkClusterResourceControl,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const NlClusterApi* NlGetClusterApi(void) {
    return &kPacemakerApi;
}
