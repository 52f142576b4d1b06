// The registry stand-in through its Windows interface: typed values and their
// sizes, names, the key tree, the database file, permissions, processes and
// threads sharing it, and transactions.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"

namespace {

const BYTE* Bytes(const void* data) { return static_cast<const BYTE*>(data); }

// UTF-16 bytes of a string with its terminator, as the API counts them.
DWORD StringSize(const std::wstring& text) {
    DWORD size = 2;
    for (wchar_t c : text) size += c >= 0x10000 ? 4 : 2;
    return size;
}

HKEY CreateKey(const wchar_t* path, REGSAM access = KEY_ALL_ACCESS, HKEY parent = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, &key, nullptr));
    return key;
}

LSTATUS OpenKey(const wchar_t* path, REGSAM access, HKEY* key) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key);
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, Bytes(text.c_str()), StringSize(text));
}

// The value read back as text through a buffer of exactly its size.
std::wstring ReadString(HKEY key, const wchar_t* name, LSTATUS* status = nullptr) {
    DWORD size = 0;
    LSTATUS result = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
    std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
    if (result == ERROR_SUCCESS)
        result = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status) *status = result;
    return result == ERROR_SUCCESS ? std::wstring(buffer.data()) : std::wstring();
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = 256;
        LSTATUS status = RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
            return names;
        }
        names.emplace_back(name, size);
    }
}

std::vector<std::wstring> ValueNames(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = 256;
        LSTATUS status = RegEnumValueW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
            return names;
        }
        names.emplace_back(name, size);
    }
}

// Runs body in a child process and returns its exit status, 0 for success.
int InChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// For checks inside a child process, which has no test framework to report to.
#define CHILD_CHECK(condition)                                                      \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "child check failed at line %d: %s\n", __LINE__, #condition); \
            return 1;                                                               \
        }                                                                           \
    } while (0)

// ---- Values and their sizes -------------------------------------------------

TEST(RegistryValues, TypedValuesRoundTripWithTheirWindowsSizes) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Types");
    const wchar_t multi[] = L"one\0two\0";  // and the array's final NUL
    const DWORD dword = 0x01020304;
    const ULONGLONG qword = 0x0102030405060708ull;
    const BYTE binary[] = {0, 1, 0, 255, 7};
    struct Case {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
        DWORD storedSize;
    } cases[] = {
        {L"sz", REG_SZ, L"hello", 12, 12},
        {L"expand", REG_EXPAND_SZ, L"%HOME%\\x", 18, 18},
        {L"multi", REG_MULTI_SZ, multi, 18, 18},
        {L"dword", REG_DWORD, &dword, 4, 4},
        {L"qword", REG_QWORD, &qword, 8, 8},
        {L"binary", REG_BINARY, binary, 5, 5},
        {L"none", REG_NONE, nullptr, 0, 0},
        {L"custom", 0x12345, binary, 3, 3},
        {L"astral", REG_SZ, L"a\U0001F600", 8, 8},  // a surrogate pair counts 4 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.name);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, c.name, 0, c.type, Bytes(c.data), c.size));
        DWORD type = 0, size = 12345;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &size));
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.storedSize, size);
        std::vector<BYTE> buffer(64, 0xAA);
        bool isString = c.type == REG_SZ || c.type == REG_EXPAND_SZ || c.type == REG_MULTI_SZ;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, c.name, nullptr, &type, buffer.data(), &size));
        EXPECT_EQ(c.storedSize, size);
        size_t bytes = isString ? wcslen(static_cast<const wchar_t*>(c.data)) * sizeof(wchar_t) : c.size;
        if (c.type == REG_MULTI_SZ) bytes = sizeof(multi);
        EXPECT_EQ(0, memcmp(c.data, buffer.data(), bytes));
    }
    RegCloseKey(key);
}

TEST(RegistryValues, StringBufferOfNBytesHoldsHalfAsManyCharactersAndIsNeverOverrun) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Sizes");
    const wchar_t kGuard = 0x5A5A5A5A;
    for (size_t length : {129u, 130u}) {
        SCOPED_TRACE(testing::Message() << length << " characters");
        ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"HomeDir", std::wstring(length, L'h')));
        std::vector<wchar_t> buffer(130 + 4, kGuard);
        DWORD size = 260;
        LSTATUS status = RegQueryValueExW(key, L"HomeDir", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
        EXPECT_EQ(StringSize(std::wstring(length, L'h')), size);
        if (length == 129) {
            EXPECT_EQ(ERROR_SUCCESS, status);
            EXPECT_EQ(std::wstring(129, L'h'), buffer.data());
        } else {
            EXPECT_EQ(ERROR_MORE_DATA, status);  // and the buffer untouched
            EXPECT_EQ(kGuard, buffer[0]);
        }
        for (size_t i = 130; i < buffer.size(); ++i) EXPECT_EQ(kGuard, buffer[i]) << "element " << i;
    }
    RegCloseKey(key);
}

TEST(RegistryValues, StringStoredWithoutTerminatorGetsOneOnlyWhenThereIsRoom) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Unterminated");
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"v", 0, REG_SZ, Bytes(L"abc"), 6));
    const wchar_t kGuard = L'#';
    for (DWORD capacity : {6u, 7u, 8u}) {
        wchar_t buffer[6] = {kGuard, kGuard, kGuard, kGuard, kGuard, kGuard};
        DWORD size = capacity;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size));
        EXPECT_EQ(6u, size);  // the added terminator is not counted
        EXPECT_EQ(0, wmemcmp(L"abc", buffer, 3));
        EXPECT_EQ(capacity >= 8 ? L'\0' : kGuard, buffer[3]) << "capacity " << capacity;
        EXPECT_EQ(kGuard, buffer[4]);
    }
    RegCloseKey(key);
}

TEST(RegistryValues, SetReadsNoMoreElementsThanTheUtf16SizeCovers) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Guarded");
    // Text placed right before an inaccessible page: one element too many read
    // would crash.
    long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, pages);
    ASSERT_EQ(0, mprotect(pages + page, page, PROT_NONE));
    struct Case {
        std::wstring text;
        DWORD size;
        std::wstring readBack;
    } cases[] = {
        {L"abc", 6, L"abc"},                             // no terminator counted
        {L"x\U0001F600", 6, L"x\U0001F600"},             // two elements make 6 bytes
        {std::wstring(L"ab\0", 3), 6, L"ab"},
    };
    for (const Case& c : cases) {
        auto* text = reinterpret_cast<wchar_t*>(pages + page) - c.text.size();
        wmemcpy(text, c.text.data(), c.text.size());
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"v", 0, REG_SZ, Bytes(text), c.size));
        DWORD size = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, &size));
        EXPECT_EQ(c.size, size);
        EXPECT_EQ(c.readBack, ReadString(key, L"v"));
    }
    munmap(pages, 2 * page);
    RegCloseKey(key);
}

TEST(RegistryValues, QueriesFollowTheWindowsConventions) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Conventions");
    const BYTE data[] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"long", 0, REG_BINARY, data, 6));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, nullptr, 0, REG_DWORD, data, 4));

    BYTE buffer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    DWORD type = 0, size = 4;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, L"long", nullptr, &type, buffer, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(DWORD{REG_BINARY}, type);
    EXPECT_EQ(9, buffer[0]);
    size = 6;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"long", nullptr, nullptr, buffer, &size));
    EXPECT_EQ(9, buffer[6]);  // raw data: not one byte more
    size = 8;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"", nullptr, &type, buffer, &size));  // the unnamed value
    EXPECT_EQ(4u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"long", nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, L"missing", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(key, L"long", nullptr, nullptr, buffer, nullptr));
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key, L"x", 0, REG_BINARY, nullptr, 4));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueExW(key, std::wstring(16384, L'n').c_str(), 0, REG_NONE, nullptr, 0));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, L"LONG"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, L"long"));
    RegCloseKey(key);
}

// ---- Names ------------------------------------------------------------------------

TEST(RegistryNames, AreCaseInsensitiveAndKeepTheCaseTheyWereCreatedWith) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\MixedCase\\\u00C4rger \u03A3\u03AF\u03B3\u03BC\u03B1 \u0416");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"DebugLevel", L"1"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"DEBUGLEVEL", L"2"));
    EXPECT_EQ(L"2", ReadString(key, L"debuglevel"));
    EXPECT_EQ(std::vector<std::wstring>{L"DebugLevel"}, ValueNames(key));
    RegCloseKey(key);

    HKEY same = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(L"SOFTWARE\\mixedcase\\\u00E4RGER \u03C3\u038A\u0393\u039C\u03B1 \u0436", KEY_READ, &same));
    EXPECT_EQ(L"2", ReadString(same, L"DebugLevel"));
    RegCloseKey(same);
    HKEY software = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(L"software", KEY_READ, &software));
    EXPECT_EQ(std::vector<std::wstring>{L"MixedCase"}, SubkeyNames(software));
    RegCloseKey(software);
}

TEST(RegistryNames, PathsSplitOnBackslashOnly) {
    nltest::TestEnv env;
    RegCloseKey(CreateKey(L"a/b\\c"));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, OpenKey(L"a/b\\\\c\\", KEY_READ, &key));
    RegCloseKey(key);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"a\\b", KEY_READ, &key));
    EXPECT_EQ(ERROR_BAD_PATHNAME, OpenKey(L"\\a/b", KEY_READ, &key));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::wstring(256, L'k').c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr));
}

// ---- The key tree --------------------------------------------------------------------

TEST(RegistryTree, SubkeysEnumerateInUpperCaseOrderAndValuesInCreationOrder) {
    nltest::TestEnv env;
    HKEY parent = CreateKey(L"Order");
    for (const wchar_t* name : {L"b", L"_x", L"A", L"C", L"a1"}) RegCloseKey(CreateKey(name, KEY_READ, parent));
    // Upper-cased, '_' sorts after the letters, as on Windows.
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"a1", L"b", L"C", L"_x"}), SubkeyNames(parent));

    for (const wchar_t* name : {L"z", L"a", L"m"}) ASSERT_EQ(ERROR_SUCCESS, SetString(parent, name, name));
    ASSERT_EQ(ERROR_SUCCESS, SetString(parent, L"a", L"again"));
    EXPECT_EQ((std::vector<std::wstring>{L"z", L"a", L"m"}), ValueNames(parent));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(parent, L"a"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(parent, L"a", L"new"));
    EXPECT_EQ((std::vector<std::wstring>{L"z", L"m", L"a"}), ValueNames(parent));

    wchar_t name[4] = L"###";
    DWORD nameSize = 2, type = 0, dataSize = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(parent, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(2u, nameSize);
    EXPECT_EQ(L'#', name[0]);
    nameSize = 1;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(parent, 0, name, &nameSize, nullptr, &type, nullptr, &dataSize));
    EXPECT_EQ(DWORD{REG_SZ}, type);
    EXPECT_EQ(4u, dataSize);
    BYTE data[2];
    nameSize = 4, dataSize = 2;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(parent, 0, name, &nameSize, nullptr, &type, data, &dataSize));
    EXPECT_EQ(L"z", std::wstring(name, nameSize));
    EXPECT_EQ(4u, dataSize);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExW(parent, 5, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(parent);
}

TEST(RegistryTree, DeletingKeysAndTrees) {
    nltest::TestEnv env;
    RegCloseKey(CreateKey(L"Tree\\Branch\\Leaf"));
    HKEY tree = CreateKey(L"Tree");
    ASSERT_EQ(ERROR_SUCCESS, SetString(tree, L"v", L"x"));
    HKEY leaf = CreateKey(L"Tree\\Branch\\Leaf");

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(tree, L"Branch"));  // it has a subkey
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(tree, L"Missing"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(tree, L"branch\\leaf"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExW(leaf, L"v", 0, REG_NONE, nullptr, 0));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(leaf, L"v", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(leaf);

    RegCloseKey(CreateKey(L"Tree\\Branch\\Leaf"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(tree, nullptr));  // empties the key, keeps it
    EXPECT_TRUE(SubkeyNames(tree).empty());
    EXPECT_TRUE(ValueNames(tree).empty());
    RegCloseKey(CreateKey(L"Tree\\Branch\\Leaf"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Tree"));
    wchar_t name[8];
    DWORD size = 8;
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExW(tree, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Tree", KEY_READ, &key));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""));
    RegCloseKey(tree);
}

TEST(RegistryTree, HandlesCarryTheirRights) {
    nltest::TestEnv env;
    RegCloseKey(CreateKey(L"Rights\\Existing"));
    HKEY readOnly = nullptr, created = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(L"Rights", KEY_READ | KEY_WOW64_64KEY, &readOnly));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(readOnly, L"v", L"x"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(readOnly, L"v"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExW(readOnly, L"New", 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(readOnly, L"Existing", 0, nullptr, 0, KEY_WRITE, nullptr, &created, &disposition));
    EXPECT_EQ(DWORD{REG_OPENED_EXISTING_KEY}, disposition);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(created, L"v", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, SetString(created, L"v", L"x"));
    RegCloseKey(created);
    RegCloseKey(readOnly);
}

TEST(RegistryTree, OnlyOpenHandlesAndTheLocalMachineRootAreValid) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Valid");
    HKEY root = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &root));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, root);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(key, L"v", L"x"));
    const HKEY currentUser = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001)));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(currentUser, L"Software", 0, KEY_READ, &root));
}

// ---- The database file ----------------------------------------------------------------

TEST(RegistryFile, MissingFileReadsAsEmptyAndIsNotCreatedByReading) {
    nltest::TestEnv env;
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_READ, &key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_WRITE, &key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(HKEY_LOCAL_MACHINE, L"v", nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software"));
    EXPECT_FALSE(nltest::FileExists(env.registryFile()));
    EXPECT_FALSE(nltest::FileExists(env.path("registry")));
}

TEST(RegistryFile, FirstWriteCreatesFolderAndFileReadableByAllWhateverTheUmask) {
    nltest::TestEnv env;
    mode_t saved = umask(077);
    RegCloseKey(CreateKey(L"Software"));
    umask(saved);
    struct stat folder, file;
    ASSERT_EQ(0, stat(env.path("registry").c_str(), &folder));
    ASSERT_EQ(0, stat(env.registryFile().c_str(), &file));
    EXPECT_EQ(0755u, folder.st_mode & 07777);
    EXPECT_EQ(0644u, file.st_mode & 07777);
}

TEST(RegistryFile, FileIsNamedAtEachOpenAndHandlesKeepTheirs) {
    nltest::TestEnv env;
    HKEY first = CreateKey(L"Software");
    ASSERT_EQ(ERROR_SUCCESS, SetString(first, L"v", L"first"));
    setenv("NL_REGISTRY_FILE", env.path("other.db").c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_READ, &key));
    EXPECT_EQ(L"first", ReadString(first, L"v"));
    RegCloseKey(first);
}

TEST(RegistryFile, CorruptOrForeignDatabaseReadsAsEmptyAndRefusesWrites) {
    nltest::TestEnv env;
    sqlite3* foreign = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(env.path("foreign.db").c_str(), &foreign));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(foreign, "CREATE TABLE t(x)", nullptr, nullptr, nullptr));
    sqlite3_close(foreign);
    nltest::WriteFile(env.path("garbage.db"), std::string(4096, 'g'));
    for (const char* name : {"garbage.db", "foreign.db"}) {
        SCOPED_TRACE(name);
        std::string file = env.path(name);
        setenv("NL_REGISTRY_FILE", file.c_str(), 1);
        std::string before = nltest::ReadFile(file);
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_READ, &key));
        EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
        EXPECT_EQ(ERROR_BADDB,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_BADDB, SetString(HKEY_LOCAL_MACHINE, L"v", L"x"));
        EXPECT_EQ(before, nltest::ReadFile(file));
    }
}

// ---- Permissions ------------------------------------------------------------------------

// Drops the right to write the registry: an unprivileged user when running as
// root, else a read-only file.
bool DropWriteAccess(const std::string& registryFile) {
    if (geteuid() == 0) return setgid(65534) == 0 && setuid(65534) == 0;
    return chmod(registryFile.c_str(), 0444) == 0;
}

TEST(RegistryPermissions, ProcessThatMayNotWriteStillReadsEveryValue) {
    nltest::TestEnv env;
    std::wstring big(3000, L'b');
    HKEY key = CreateKey(L"Software\\Product");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"Big", big));
    const DWORD level = 4;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"DebugLevel", 0, REG_DWORD, Bytes(&level), 4));
    RegCloseKey(key);

    EXPECT_EQ(0, InChild([&] {
        CHILD_CHECK(DropWriteAccess(env.registryFile()));
        HKEY denied = nullptr, reader = nullptr;
        CHILD_CHECK(OpenKey(L"Software\\Product", KEY_WRITE, &denied) == ERROR_ACCESS_DENIED);
        CHILD_CHECK(OpenKey(L"Software\\Product", KEY_READ | KEY_SET_VALUE, &denied) == ERROR_ACCESS_DENIED);
        CHILD_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Product", 0, nullptr, 0, KEY_READ, nullptr, &denied,
                                    nullptr) == ERROR_ACCESS_DENIED);
        CHILD_CHECK(SetString(HKEY_LOCAL_MACHINE, L"v", L"x") == ERROR_ACCESS_DENIED);
        CHILD_CHECK(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Missing") == ERROR_FILE_NOT_FOUND);
        CHILD_CHECK(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software") == ERROR_ACCESS_DENIED);
        HANDLE transaction = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
        CHILD_CHECK(RegCreateKeyTransactedW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                            &denied, nullptr, transaction, nullptr) == ERROR_ACCESS_DENIED);
        CloseHandle(transaction);

        CHILD_CHECK(OpenKey(L"Software\\Product", KEY_READ, &reader) == ERROR_SUCCESS);
        CHILD_CHECK(ReadString(reader, L"Big") == big);
        DWORD read = 0, size = 4;
        CHILD_CHECK(RegQueryValueExW(reader, L"DebugLevel", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size) ==
                    ERROR_SUCCESS);
        CHILD_CHECK(read == level);
        return 0;
    }));
}

TEST(RegistryPermissions, ProcessThatMayNotWriteCreatesNoDatabase) {
    nltest::TestEnv env;
    EXPECT_EQ(0, InChild([&] {
        CHILD_CHECK(geteuid() == 0 ? DropWriteAccess(env.registryFile()) : chmod(env.dir().c_str(), 0555) == 0);
        HKEY key = nullptr;
        CHILD_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) ==
                    ERROR_ACCESS_DENIED);
        CHILD_CHECK(SetString(HKEY_LOCAL_MACHINE, L"v", L"x") == ERROR_ACCESS_DENIED);
        CHILD_CHECK(!nltest::FileExists(env.path("registry")));
        return 0;
    }));
    chmod(env.dir().c_str(), 0755);
}

// ---- Processes and threads --------------------------------------------------------

// A value of a few kilobytes that says which writer wrote it and when: every
// character is the same, so a torn value shows.
std::wstring Pattern(int writer, int round) { return std::wstring(2000 + 100 * writer, L'A' + (writer * 7 + round) % 26); }

bool IsWholePattern(const std::wstring& value) {
    if (value.empty()) return false;
    for (int writer = 0; writer < 4; ++writer)
        if (value.size() == Pattern(writer, 0).size()) return value.find_first_not_of(value[0]) == std::wstring::npos;
    return false;
}

TEST(RegistrySharing, ReadersInOtherProcessesOnlyEverSeeWholeValues) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Shared");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"v", Pattern(0, 0)));
    RegCloseKey(key);
    std::vector<pid_t> children;
    for (int worker = 0; worker < 4; ++worker) {
        pid_t pid = fork();
        if (pid == 0) {
            HKEY shared = nullptr;
            if (OpenKey(L"Shared", KEY_ALL_ACCESS, &shared) != ERROR_SUCCESS) _exit(2);
            for (int round = 0; round < 100; ++round) {
                if (worker % 2 == 0 && SetString(shared, L"v", Pattern(worker, round)) != ERROR_SUCCESS) _exit(3);
                LSTATUS status;
                if (!IsWholePattern(ReadString(shared, L"v", &status))) _exit(status ? 4 : 5);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker status " << status;
    }
}

TEST(RegistrySharing, ThreadsShareHandles) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Threads");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                if (t % 2 == 0 && SetString(key, L"v", Pattern(t, round)) != ERROR_SUCCESS) ++failures[t];
                HKEY own = nullptr;
                if (OpenKey(L"Threads", KEY_READ, &own) != ERROR_SUCCESS) ++failures[t];
                std::wstring value = ReadString(t % 2 ? own : key, L"v");
                if (round > 0 && !value.empty() && !IsWholePattern(value)) ++failures[t];
                RegCloseKey(own);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::vector<int>(4, 0), failures);
    RegCloseKey(key);
}

TEST(RegistrySharing, ChildAfterForkKeepsWorkingAndSoDoesTheParent) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Fork");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"parent", L"p"));
    EXPECT_EQ(L"p", ReadString(key, L"parent"));  // the parent's connections are open
    EXPECT_EQ(0, InChild([&] {
        CHILD_CHECK(ReadString(key, L"parent") == L"p");
        CHILD_CHECK(SetString(key, L"child", L"c") == ERROR_SUCCESS);
        HKEY own = nullptr;
        CHILD_CHECK(OpenKey(L"Fork", KEY_READ, &own) == ERROR_SUCCESS);
        CHILD_CHECK(ReadString(own, L"child") == L"c");
        return 0;
    }));
    EXPECT_EQ(L"c", ReadString(key, L"child"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, L"parent", L"again"));
    RegCloseKey(key);
}

// ---- Transactions -----------------------------------------------------------------------

TEST(RegistryTransactions, ChangesAppearTogetherOnCommitAndNotBefore) {
    nltest::TestEnv env;
    HKEY existing = CreateKey(L"Existing");
    ASSERT_EQ(ERROR_SUCCESS, SetString(existing, L"v", L"old"));
    HANDLE transaction = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, transaction);
    HKEY created = nullptr, opened = nullptr, below = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyTransactedW(HKEY_LOCAL_MACHINE, L"Imported", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                     nullptr, &created, &disposition, transaction, nullptr));
    EXPECT_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition);
    ASSERT_EQ(ERROR_SUCCESS, SetString(created, L"v", L"new"));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(created, L"Below", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &below, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyTransactedW(HKEY_LOCAL_MACHINE, L"Existing", 0, KEY_ALL_ACCESS, &opened, transaction, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, SetString(opened, L"v", L"changed"));
    EXPECT_EQ(L"changed", ReadString(opened, L"v"));

    auto othersSeeNothingYet = [&] {
        HKEY key = nullptr;
        CHILD_CHECK(OpenKey(L"Imported", KEY_READ, &key) == ERROR_FILE_NOT_FOUND);
        CHILD_CHECK(ReadString(existing, L"v") == L"old");
        return 0;
    };
    EXPECT_EQ(0, othersSeeNothingYet());
    EXPECT_EQ(0, InChild(othersSeeNothingYet));

    EXPECT_TRUE(CommitTransaction(transaction));
    EXPECT_EQ(L"changed", ReadString(existing, L"v"));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(L"Imported\\Below", KEY_READ, &key));
    RegCloseKey(key);

    EXPECT_FALSE(CommitTransaction(transaction));
    EXPECT_EQ(DWORD{ERROR_TRANSACTION_NOT_ACTIVE}, GetLastError());
    EXPECT_EQ(ERROR_TRANSACTION_NOT_ACTIVE, SetString(created, L"v", L"late"));
    for (HKEY open : {existing, created, opened, below}) RegCloseKey(open);
    EXPECT_TRUE(CloseHandle(transaction));
}

TEST(RegistryTransactions, RollbackOrClosingWithoutCommitLeavesTheRegistryAsItWas) {
    nltest::TestEnv env;
    HKEY existing = CreateKey(L"Existing\\Leaf");
    ASSERT_EQ(ERROR_SUCCESS, SetString(existing, L"v", L"old"));
    for (bool explicitRollback : {true, false}) {
        SCOPED_TRACE(explicitRollback ? "rollback" : "close");
        HANDLE transaction = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
        HKEY opened = nullptr, created = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyTransactedW(HKEY_LOCAL_MACHINE, L"Existing\\Leaf", 0, KEY_ALL_ACCESS, &opened,
                                                       transaction, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, SetString(opened, L"v", L"changed"));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyTransactedW(HKEY_LOCAL_MACHINE, L"New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                         nullptr, &created, nullptr, transaction, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyTransactedW(HKEY_LOCAL_MACHINE, L"Existing\\Leaf", 0, 0, transaction, nullptr));
        if (explicitRollback) {
            EXPECT_TRUE(RollbackTransaction(transaction));
        }
        EXPECT_TRUE(CloseHandle(transaction));
        EXPECT_EQ(L"old", ReadString(existing, L"v"));
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"New", KEY_READ, &key));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyTransactedW(HKEY_LOCAL_MACHINE, L"Existing", 0, KEY_READ, &key,
                                                              transaction, nullptr));
        RegCloseKey(opened);
        RegCloseKey(created);
    }
    RegCloseKey(existing);
}

}  // namespace
