// LoadLibraryW, GetProcAddress and FreeLibrary over dlopen.
#include "nltest.h"

namespace {

std::wstring ModuleName(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring name(path);
    return name.substr(name.rfind(L'/') + 1);
}

TEST(LoadLibrary, TheReplacedWindowsComponentsAreThisLayerAndOthersLoadByPath) {
    for (const wchar_t* name :
         {L"kernel32.dll", L"KERNEL32.DLL", L"Kernel32", L"advapi32.dll", L"version.dll"}) {
        HMODULE module = LoadLibraryW(name);
        ASSERT_NE(module, nullptr) << name;
        EXPECT_EQ(ModuleName(module), L"libnlplatform.so.1") << name;
        FARPROC found = GetProcAddress(module, "GetThreadId");
        EXPECT_EQ(reinterpret_cast<void*>(found), reinterpret_cast<void*>(&GetThreadId)) << name;
        EXPECT_TRUE(FreeLibrary(module)) << name;
    }
    HMODULE module = LoadLibraryW(L"" TEST_PLUGIN_PATH);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ModuleName(module).find(L"libtest_plugin"), 0u);
    EXPECT_NE(GetProcAddress(module, "PluginLog"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

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

TEST(FreeLibrary, EachLoadIsReleasedOnceThenTheHandleIsUnknown) {
    HMODULE first = LoadLibraryW(L"kernel32.dll");
    HMODULE second = LoadLibraryW(L"KERNEL32.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_NE(GetProcAddress(second, "GetThreadId"), nullptr);
    EXPECT_TRUE(FreeLibrary(second));
    for (HMODULE module : {first, static_cast<HMODULE>(nullptr), reinterpret_cast<HMODULE>(0x1000)}) {
        SetLastError(0);
        EXPECT_FALSE(FreeLibrary(module));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(module, "GetThreadId"), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
}

}  // namespace
