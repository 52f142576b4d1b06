// kernel32 stand-ins: the return values, truncation and error codes the
// library relies on; libraries over dlopen; thread handles.
#include "nltest.h"

namespace {

// The null handle names the executable, an address inside a library the
// library; too small a buffer gets the cut name, terminated.
TEST(ModuleFileName, NamesTheModuleAndCutsToTheBuffer) {
    wchar_t full[MAX_PATH] = {}, library[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, full, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, wcslen(full));
    std::wstring name(full);
    EXPECT_EQ(name.substr(name.rfind(L'/') + 1), L"kernel32_test");
    ASSERT_GT(GetModuleFileNameW(reinterpret_cast<HMODULE>(&GetCurrentThreadId), library, MAX_PATH), 0u);
    name = library;
    EXPECT_EQ(name.substr(name.rfind(L'/') + 1), L"libnlplatform.so.1");
    EXPECT_EQ(library[0], L'/');

    wchar_t small[6];
    wmemset(small, L'#', 6);
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::wstring(small), std::wstring(full, 4));
    EXPECT_EQ(small[5], L'#');
    // Exactly the length without room for the terminator is too small too.
    std::vector<wchar_t> exact(length);
    EXPECT_EQ(GetModuleFileNameW(nullptr, exact.data(), length), length);
    EXPECT_EQ(exact[length - 1], L'\0');
}

TEST(Environment, VariablesFollowTheWindowsContract) {
    setenv("NL_TEST_VALUE", "caf\xc3\xa9", 1);
    setenv("NL_TEST_EMPTY", "", 1);
    unsetenv("NL_TEST_MISSING");
    wchar_t buffer[16];
    EXPECT_EQ(GetEnvironmentVariableW(L"NL_TEST_VALUE", buffer, 16), 4u);
    EXPECT_STREQ(buffer, L"caf\u00e9");
    // Too small: the size needed with the terminator, and the buffer untouched.
    wmemset(buffer, L'#', 16);
    EXPECT_EQ(GetEnvironmentVariableW(L"NL_TEST_VALUE", buffer, 4), 5u);
    EXPECT_EQ(buffer[0], L'#');
    EXPECT_EQ(GetEnvironmentVariableW(L"nl_test_value", buffer, 16), 4u);
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableW(L"NL_TEST_EMPTY", buffer, 16), 0u);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(GetEnvironmentVariableW(L"NL_TEST_MISSING", buffer, 16), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));

    // The temporary directory ends in a separator.
    wchar_t path[MAX_PATH];
    setenv("TMPDIR", "/var/tmp/nl", 1);
    EXPECT_EQ(GetTempPathW(MAX_PATH, path), 12u);
    EXPECT_STREQ(path, L"/var/tmp/nl/");
    // Windows zeroes what follows the path, and clears too small a path.
    EXPECT_TRUE(std::all_of(path + 12, path + MAX_PATH, [](wchar_t c) { return c == L'\0'; }));
    wmemset(path, L'#', MAX_PATH);
    EXPECT_EQ(GetTempPathW(12, path), 13u);
    EXPECT_TRUE(std::all_of(path, path + 12, [](wchar_t c) { return c == L'\0'; }));
    EXPECT_EQ(path[12], L'#');
    unsetenv("TMPDIR");
    GetTempPathW(MAX_PATH, path);
    EXPECT_STREQ(path, L"/tmp/");
}

TEST(Files, DirectoriesAndExistenceChecks) {
    nltest::TestEnv env;
    std::wstring dir(env.dir().begin(), env.dir().end());
    EXPECT_TRUE(CreateDirectoryW((dir + L"/Debug").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW((dir + L"/Debug").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryW((dir + L"/a/b").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    std::wstring file = dir + L"/Debug/x\u00e9.log";
    HANDLE missing =
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(missing, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    nltest::WriteFile(env.path("Debug/x\xc3\xa9.log"), "record\n");
    HANDLE present =
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(present, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(present));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---- LoadLibraryW, GetProcAddress and FreeLibrary over dlopen ----------------------------

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

// ---- Thread handles ------------------------------------------------------------------------

// A handle gives its thread's kernel id, also after the thread ends; the
// pseudo-handle means the thread that uses it.
TEST(ThreadHandles, GiveTheKernelIdOfTheirThreadAlsoAfterItEnds) {
    EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
    std::atomic<DWORD> otherId{0}, seenByOther{0};
    std::atomic<bool> stop{false};
    std::thread other([&] {
        seenByOther = GetThreadId(GetCurrentThread());
        otherId = GetCurrentThreadId();
        EXPECT_TRUE(nltest::WaitUntil([&] { return stop.load(); }, "the test to end its thread"));
    });
    EXPECT_TRUE(nltest::WaitUntil([&] { return otherId != 0; }, "the thread to start"));
    HANDLE handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, otherId);
    EXPECT_EQ(GetThreadId(handle), otherId);
    stop = true;
    other.join();
    EXPECT_EQ(seenByOther, otherId);
    EXPECT_NE(otherId, GetCurrentThreadId());
    EXPECT_EQ(GetThreadId(handle), otherId);
    EXPECT_TRUE(CloseHandle(handle));
}

}  // namespace
