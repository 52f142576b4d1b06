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

// Damaged copies of an executable with the note: every one gives an error,
// none is read past its end (the sanitizer builds check that).
TEST(FileVersion, DamagedFilesGiveAnErrorNotACrash) {
    nltest::TestEnv env;
    std::wstring ownPath = ModulePath();
    std::string own = nltest::ReadFile(std::string(ownPath.begin(), ownPath.end()));
    ASSERT_GT(own.size(), 4096u);
    size_t note = own.find(std::string("NorlakeVer\0\0", 12));
    ASSERT_NE(note, std::string::npos);
    std::vector<std::string> damaged;
    for (size_t size : {4u, 16u, 63u, 64u, 100u, 600u}) damaged.push_back(own.substr(0, size));
    // Big-endian (EI_DATA), a huge description or name size, far program headers (e_phoff).
    const std::pair<size_t, std::string> patches[] = {{5, std::string(1, '\2')},
                                                      {note - 8, "\xff\xff\xff\x7f"},
                                                      {note - 12, "\xf0\xff\xff\xff"},
                                                      {32, "\xff\xff\xff\xff\xff\xff\xff\x7f"}};
    for (const auto& [offset, bytes] : patches)
        damaged.push_back(std::string(own).replace(offset, bytes.size(), bytes));
    for (size_t i = 0; i < damaged.size(); ++i) {
        std::string path = env.path("damaged" + std::to_string(i));
        nltest::WriteFile(path, damaged[i]);
        DWORD error = ReadVersion(Widen(path)).error;
        EXPECT_TRUE(error == ERROR_BAD_FORMAT || error == ERROR_RESOURCE_DATA_NOT_FOUND)
            << i << ": " << error;
    }
}

}  // namespace
