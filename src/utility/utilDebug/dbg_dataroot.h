// Where the feature mapping file lies and what it says: the data root (on a
// cluster node a property of the product's cluster resource, else the
// registry value DataRootPath), and the file's sections read through the
// profile functions.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "FeatureConfig.h"

namespace dbg_internal {

// <data root>/config/dbglog_FeatureMapping.ini, and where the data root came
// from; an empty path when nothing gives a data root.
struct MappingFileLocation {
    std::wstring path;
    CFeatureConfig::DataRootSource source = CFeatureConfig::DataRootSource::kNone;
};
// On a cluster node (IsCluster) the QPEX_DATA_PATH property of the first
// resource of type clusRDLL or clusRDLLCCR, else, and as the fall-back,
// DataRootPath.
MappingFileLocation ResolveMappingFile();

// The features of the mapping file at path (see CFeatureConfig::FeatureNames),
// each with its modules lower-cased in file order. Returns the error that
// kept a file that is there from being read (ERROR_SUCCESS otherwise): the
// caller says so; a missing file gives no features and no error.
DWORD ReadFeatureMapping(const std::wstring& path, std::vector<FeatureEntry>* features);

// Reads the mapping file the object names into it, and says on standard
// error, when DebugLogDiagnostics asks for it, why a file there was not
// read. Without a mapping file path nothing changes.
void LoadFeatureMapping(CFeatureConfig& config);

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

// Runs a control code on a cluster resource; out receives the output read
// as a terminated text, or is empty on failure. With a buffer the raw output
// stays in it for the caller; without one a buffer of its own is used and
// freed.
void QueryResourceControl(std::wstring& out, HRESOURCE resource, DWORD controlCode, ControlBuffer* buffer);

}  // namespace dbg_internal
