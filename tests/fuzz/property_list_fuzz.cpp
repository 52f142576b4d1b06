// The cluster property list parser: any bytes give a found string, "not
// found" or "malformed", and the string found is the caller's to free.
#include <windows.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const wchar_t* name : {L"DataRootPath", L"Other", L""}) {
        LPWSTR found = nullptr;
        DWORD status =
            ResUtilFindSzProperty(const_cast<uint8_t*>(data), static_cast<DWORD>(size), name, &found);
        FUZZ_CHECK(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ||
                   status == ERROR_INVALID_DATA || status == ERROR_NOT_ENOUGH_MEMORY);
        FUZZ_CHECK((status == ERROR_SUCCESS) == (found != nullptr));
        if (found) LocalFree(found);
    }
    return 0;
}
