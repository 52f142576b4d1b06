// Kernel objects behind HANDLE values. Every handle the layer gives out is
// kept in one table, so that a null, closed or made-up handle is recognised
// (ERROR_INVALID_HANDLE) instead of being dereferenced; CloseHandle takes a
// handle out of the table and closes its object.
#pragma once

#include <windows.h>

#include <memory>

namespace nlplatform {

class KernelObject {
  public:
    virtual ~KernelObject() = default;
    // Releases what the object holds; false when that failed.
    virtual bool Close() = 0;
};

// Puts the object into the table; its address is the handle.
HANDLE AddHandle(std::unique_ptr<KernelObject> object);
// The object behind a live handle, or null. The object stays valid while the
// result is held, even if another thread closes the handle meanwhile.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// Takes the handle out of the table; null when it was not live.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// The object behind a live handle when it is of the given kind, or null.
template <class Object>
std::shared_ptr<Object> FindHandleOf(HANDLE handle) {
    return std::dynamic_pointer_cast<Object>(FindHandle(handle));
}

}  // namespace nlplatform
