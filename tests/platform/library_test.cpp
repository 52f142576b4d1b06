// LoadLibraryW, GetProcAddress and FreeLibrary over dlopen.
#include "nltest.h"

namespace {

TEST(LoadLibrary, AMissingFileOrFunctionIsNotFound) {
    for (const wchar_t* name : {L"no-such-library.so", L"/no/such/dir/lib.so", L"kernel33.dll", L""}) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(name), nullptr) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << name;
    }
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // GetProcAddress finds only the module's own exports.
    HMODULE module = LoadLibraryW(L"kernel32.dll");
    ASSERT_NE(module, nullptr);
    // malloc is reachable through the layer's dependencies but not its own.
    for (const char* name : {"malloc", "NoSuchFunction", ""}) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
    }
    // An ordinal: ELF has none.
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(5))), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
