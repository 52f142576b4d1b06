// The cluster API lives in its own shared object, linked against Pacemaker's
// client libraries and loaded on its first use, as clusapi.dll is; it hands
// its entry points over in one table.
#pragma once

#include <windows.h>

#define NL_CLUSTER_LIBRARY "libnlclusapi.so.1"
#define NL_CLUSTER_API_SYMBOL "NlGetClusterApi"

struct NlClusterApi {
    HCLUSTER (*OpenCluster)(LPCWSTR clusterName);
    BOOL (*CloseCluster)(HCLUSTER cluster);
    HCLUSENUM (*ClusterOpenEnum)(HCLUSTER cluster, DWORD type);
    DWORD (*ClusterEnum)(HCLUSENUM enumeration, DWORD index, LPDWORD type, LPWSTR name, LPDWORD nameLength);
    DWORD (*ClusterCloseEnum)(HCLUSENUM enumeration);
    HRESOURCE (*OpenClusterResource)(HCLUSTER cluster, LPCWSTR resourceName);
    BOOL (*CloseClusterResource)(HRESOURCE resource);
    DWORD(*ClusterResourceControl)
    (HRESOURCE resource, HNODE node, DWORD controlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
     DWORD outBufferSize, LPDWORD bytesReturned);
};

typedef const NlClusterApi* (*NlGetClusterApiFunction)(void);
