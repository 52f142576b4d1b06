// ResUtilFindSzProperty: one string property out of a cluster property list.
#include <windows.h>

#include <cxxabi.h>

#include "resutils/property_list.h"

extern "C" {

// The copy is local memory, for the caller to free with LocalFree; a null
// value only tests whether the property is there.
DWORD ResUtilFindSzProperty(const PVOID propertyList, DWORD propertyListSize, LPCWSTR propertyName,
                            LPWSTR* foundString) {
    if (!propertyName) return ERROR_INVALID_PARAMETER;
    std::wstring value;
    DWORD status = ERROR_NOT_ENOUGH_MEMORY;
    try {
        status = nlplatform::resutils::FindSzProperty(propertyList, propertyListSize, propertyName, &value);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
    if (status != ERROR_SUCCESS || !foundString) return status;
    LPWSTR copy = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, (value.size() + 1) * sizeof(WCHAR)));
    if (!copy) return ERROR_NOT_ENOUGH_MEMORY;
    wmemcpy(copy, value.c_str(), value.size() + 1);
    *foundString = copy;
    return ERROR_SUCCESS;
}

}  // extern "C"
