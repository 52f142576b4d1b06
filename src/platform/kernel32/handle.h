// Kernel objects behind HANDLE values: CloseHandle closes and frees any of them.
#pragma once

#include <windows.h>

namespace nlplatform {

class KernelObject {
  public:
    virtual ~KernelObject() = default;
    // Releases what the object holds; false when that failed.
    virtual bool Close() = 0;
};

inline HANDLE ToHandle(KernelObject* object) { return static_cast<HANDLE>(object); }

}  // namespace nlplatform
