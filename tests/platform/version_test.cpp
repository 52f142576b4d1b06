// The version functions over the version note of an ELF file: the note
// DBG_FILE_VERSION writes, files without it, and damaged files.
#include "nltest.h"

DBG_FILE_VERSION(3, 10, 0, 61);

namespace {

using nltest::Widen;

// The path of the module: the executable (null), or the library holding an address.
std::wstring ModulePath(const void* address = nullptr) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(static_cast<HMODULE>(const_cast<void*>(address)), path, MAX_PATH);
    return path;
}

// The fixed file information of a file, or the error on the way.
struct VersionResult {
    DWORD error = 0;
    VS_FIXEDFILEINFO info = {};
};

VersionResult ReadVersion(const std::wstring& path) {
    VersionResult result;
    DWORD handle = 77;
    SetLastError(0);
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    if (size == 0) {
        result.error = GetLastError();
        return result;
    }
    std::vector<unsigned char> block(size);
    EXPECT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    EXPECT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    if (info) result.info = *info;
    return result;
}

TEST(FileVersion, AFileWithoutTheNoteHasNoVersion) {
    nltest::TestEnv env;
    nltest::WriteFile(env.path("text.txt"), "not an executable\n");
    nltest::WriteFile(env.path("empty"), "");
    ASSERT_EQ(mkfifo(env.path("fifo").c_str(), 0644), 0);
    struct Case {
        std::wstring path;
        DWORD error;
    };
    const Case cases[] = {
        {ModulePath(reinterpret_cast<const void*>(&GetThreadId)), ERROR_RESOURCE_DATA_NOT_FOUND},
        {Widen(env.path("text.txt")), ERROR_BAD_FORMAT},
        {Widen(env.path("empty")), ERROR_BAD_FORMAT},
        // Only a regular file is read, and a pipe is never waited for.
        {Widen(env.dir()), ERROR_ACCESS_DENIED},
        {Widen(env.path("fifo")), ERROR_CANT_ACCESS_FILE},
        {Widen(env.path("missing")), ERROR_FILE_NOT_FOUND},
        {Widen(env.path("text.txt/below")), ERROR_PATH_NOT_FOUND},
        {L"", ERROR_BAD_PATHNAME},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadVersion(c.path).error, c.error) << std::string(c.path.begin(), c.path.end());
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeW(nullptr, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    unsigned char block[128];
    EXPECT_FALSE(GetFileVersionInfoW(Widen(env.path("missing")).c_str(), 0, sizeof block, block));
}

}  // namespace
