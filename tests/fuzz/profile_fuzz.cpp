// The profile (INI) reader: any file, read through the section functions
// with buffers of every small size and a large one, gives lists that stay
// inside the buffer as documented.
#include <windows.h>

#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

template <typename Read>
void CheckSizes(Read read) {
    std::vector<wchar_t> buffer(4096);
    for (DWORD size : {0u, 1u, 2u, 3u, 5u, 17u, 4096u}) {
        DWORD result = read(buffer.data(), size);
        FUZZ_CHECK(size == 0 ? result == 0 : result < size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = nlfuzz::ScratchPath("profile.ini");
    nlfuzz::WriteBytes(path, data, size);
    const std::wstring file(path.begin(), path.end());
    CheckSizes([&](wchar_t* buffer, DWORD count) {
        return GetPrivateProfileSectionNamesW(count ? buffer : nullptr, count, file.c_str());
    });
    std::vector<wchar_t> names(4096);
    DWORD length = GetPrivateProfileSectionNamesW(names.data(), 4096, file.c_str());
    for (size_t start = 0; start < length && names[start];) {
        const wchar_t* section = &names[start];
        CheckSizes([&](wchar_t* buffer, DWORD count) {
            return GetPrivateProfileSectionW(section, count ? buffer : nullptr, count, file.c_str());
        });
        start += wcslen(section) + 1;
    }
    return 0;
}
