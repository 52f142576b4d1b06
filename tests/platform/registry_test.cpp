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

using Names = std::vector<std::wstring>;

const BYTE* Bytes(const void* data) { return static_cast<const BYTE*>(data); }
BYTE* Bytes(void* data) { return static_cast<BYTE*>(data); }

// UTF-16 bytes of a string with its terminator, as the API counts them.
DWORD StringSize(const std::wstring& text) {
    DWORD size = 2;
    for (wchar_t c : text) size += c >= 0x10000 ? 4 : 2;
    return size;
}

HKEY CreateKey(const wchar_t* path, HKEY parent = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    return key;
}

LSTATUS OpenKey(const wchar_t* path, REGSAM access, HKEY* key) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key);
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, Bytes(text.c_str()), StringSize(text));
}

// The value as text, through a buffer of exactly its size; asked for again
// when another writer made it grow meanwhile.
std::wstring ReadString(HKEY key, const wchar_t* name, LSTATUS* status = nullptr) {
    DWORD size = 0;
    LSTATUS result = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
    std::vector<wchar_t> buffer;
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        buffer.assign(size / 2 + 1, L'\0');
        result = RegQueryValueExW(key, name, nullptr, nullptr, Bytes(buffer.data()), &size);
        if (result == ERROR_SUCCESS) break;
    }
    if (status) *status = result;
    return result == ERROR_SUCCESS ? std::wstring(buffer.data()) : std::wstring();
}

// The names of the key's subkeys, or of its values, in the registry's order.
Names EnumNames(HKEY key, bool subkeys) {
    Names names;
    wchar_t name[256];
    for (DWORD size = 256;; size = 256) {
        DWORD index = static_cast<DWORD>(names.size());
        LSTATUS status = subkeys ? RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                                 : RegEnumValueW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) return names;
        names.emplace_back(name, size);
    }
}

Names SubkeyNames(HKEY key) { return EnumNames(key, true); }
Names ValueNames(HKEY key) { return EnumNames(key, false); }

LSTATUS CreateIn(HANDLE transaction, const wchar_t* path, HKEY* key, DWORD* disposition = nullptr) {
    return RegCreateKeyTransactedW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key,
                                   disposition, transaction, nullptr);
}

LSTATUS OpenIn(HANDLE transaction, const wchar_t* path, HKEY* key) {
    return RegOpenKeyTransactedW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key, transaction, nullptr);
}

HANDLE NewTransaction() { return CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr); }

// Runs body in a child process, whose exit status is body's result.
pid_t StartChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// 0 when the child succeeded.
int ExitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int InChild(const std::function<int()>& body) { return ExitStatus(StartChild(body)); }

// For checks inside a child process, which has no test framework to report to.
#define CHILD_CHECK(condition)                                                            \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "child check failed at line %d: %s\n", __LINE__, #condition); \
            return 1;                                                                     \
        }                                                                                 \
    } while (0)

// ---- Values and their sizes -------------------------------------------------------

TEST(RegistryValues, TypedValuesRoundTripWithTheirWindowsSizes) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Types");
    const wchar_t multi[] = L"one\0two\0";  // and the array's final NUL
    const DWORD dword = 0x01020304;
    const ULONGLONG qword = 0x0102030405060708ull;
    const BYTE binary[] = {0, 1, 0, 255, 7};
    // size counts the registry's bytes; readBack, what the caller's buffer gets.
    struct Case {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
        size_t readBack;
    } cases[] = {
        {L"sz", REG_SZ, L"hello", 12, 6 * sizeof(wchar_t)},
        {L"expand", REG_EXPAND_SZ, L"%HOME%\\x", 18, 9 * sizeof(wchar_t)},
        {L"multi", REG_MULTI_SZ, multi, 18, sizeof(multi)},
        {L"astral", REG_SZ, L"a\U0001F600", 8, 3 * sizeof(wchar_t)},  // a surrogate pair counts 4 bytes
        {L"dword", REG_DWORD, &dword, 4, 4},
        {L"qword", REG_QWORD, &qword, 8, 8},
        {L"binary", REG_BINARY, binary, 5, 5},
        {L"custom", 0x12345, binary, 3, 3},
        {L"", REG_NONE, nullptr, 0, 0},  // the unnamed value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.name);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, c.name, 0, c.type, Bytes(c.data), c.size));
        DWORD type = 0, size = 12345;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &size));
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.size, size);
        std::vector<BYTE> buffer(64, 0xAA);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, c.name, nullptr, &type, buffer.data(), &size));
        EXPECT_EQ(c.size, size);
        EXPECT_EQ(0, memcmp(buffer.data(), c.readBack ? c.data : buffer.data(), c.readBack));
        EXPECT_EQ(0xAA, buffer[c.readBack]);  // not one byte more
    }
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key, L"x", 0, REG_BINARY, nullptr, 4));
    RegCloseKey(key);
}

TEST(RegistryValues, StringBufferOfNBytesHoldsHalfAsManyElementsAndIsNeverOverrun) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Sizes");
    const wchar_t kGuard = 0x5A5A5A5A;
    for (size_t length : {129u, 130u}) {
        SCOPED_TRACE(testing::Message() << length << " characters");
        ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"HomeDir", std::wstring(length, L'h')));
        std::vector<wchar_t> buffer(130 + 4, kGuard);
        DWORD size = 260, type = 0;
        LSTATUS status = RegQueryValueExW(key, L"HomeDir", nullptr, &type, Bytes(buffer.data()), &size);
        EXPECT_EQ(2 * length + 2, size);
        EXPECT_EQ(DWORD{REG_SZ}, type);
        if (length == 129) {
            EXPECT_EQ(ERROR_SUCCESS, status);
            EXPECT_EQ(std::wstring(129, L'h'), buffer.data());
        } else {
            EXPECT_EQ(ERROR_MORE_DATA, status);
            EXPECT_EQ(kGuard, buffer[0]);  // the buffer is left untouched
        }
        for (size_t i = 130; i < buffer.size(); ++i) EXPECT_EQ(kGuard, buffer[i]) << "element " << i;
    }
    // A string stored without its terminator gets one when there are 2 bytes to
    // spare, as on NT; the size reported does not count it.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"bare", 0, REG_SZ, Bytes(L"abc"), 6));
    for (DWORD capacity : {6u, 7u, 8u}) {
        wchar_t buffer[5] = {L'#', L'#', L'#', L'#', L'#'};
        DWORD size = capacity;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"bare", nullptr, nullptr, Bytes(buffer), &size));
        EXPECT_EQ(6u, size);
        EXPECT_EQ(capacity >= 8 ? std::wstring(L"abc\0#", 5) : L"abc##", std::wstring(buffer, 5));
    }
    RegCloseKey(key);
}

TEST(RegistryValues, SetReadsNoMoreElementsThanTheUtf16SizeCovers) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\Guarded");
    // The text ends right before an inaccessible page: reading one element too
    // many would crash.
    long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, pages);
    ASSERT_EQ(0, mprotect(pages + page, page, PROT_NONE));
    struct Case {
        std::wstring text;
        DWORD size;
        std::wstring readBack;
    } cases[] = {
        {L"abc", 6, L"abc"},                  // no terminator counted
        {L"x\U0001F600", 6, L"x\U0001F600"},  // two elements make 6 bytes
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

// ---- Names and the key tree ------------------------------------------------------------

TEST(RegistryNames, AreCaseInsensitiveAndKeepTheCaseTheyWereCreatedWith) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software\\MixedCase\\\u00C4rger \u03A3\u03AF\u03B3\u03BC\u03B1 \u0416");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"DebugLevel", L"1"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"DEBUGLEVEL", L"2"));
    EXPECT_EQ(L"2", ReadString(key, L"debuglevel"));
    EXPECT_EQ(Names{L"DebugLevel"}, ValueNames(key));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"Other", L""));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, L"OTHER"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, L"other"));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(L"SOFTWARE\\mixedcase\\\u00E4RGER \u03C3\u038A\u0393\u039C\u03B1 \u0436",
                                     KEY_READ, &key));
    EXPECT_EQ(L"2", ReadString(key, L"DebugLevel"));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(L"software", KEY_READ, &key));
    EXPECT_EQ(Names{L"MixedCase"}, SubkeyNames(key));
    RegCloseKey(key);
}

TEST(RegistryNames, PathsSplitOnBackslashOnly) {
    nltest::TestEnv env;
    RegCloseKey(CreateKey(L"a/b\\c"));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, OpenKey(L"a/b\\\\c\\", KEY_READ, &key));
    RegCloseKey(key);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"a\\b", KEY_READ, &key));
    EXPECT_EQ(ERROR_BAD_PATHNAME, OpenKey(L"\\a/b", KEY_READ, &key));
    std::wstring tooLong(256, L'k');
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExW(HKEY_LOCAL_MACHINE, tooLong.c_str(), 0, nullptr, 0,
                                                       KEY_READ, nullptr, &key, nullptr));
}

TEST(RegistryTree, SubkeysEnumerateInUpperCaseOrderAndValuesInCreationOrder) {
    nltest::TestEnv env;
    HKEY parent = CreateKey(L"Order");
    for (const wchar_t* name : {L"b", L"_x", L"A", L"C", L"a1"}) RegCloseKey(CreateKey(name, parent));
    // Upper-cased, '_' sorts after the letters, as on Windows.
    EXPECT_EQ((Names{L"A", L"a1", L"b", L"C", L"_x"}), SubkeyNames(parent));
    for (const wchar_t* name : {L"z", L"a", L"m"}) ASSERT_EQ(ERROR_SUCCESS, SetString(parent, name, name));
    ASSERT_EQ(ERROR_SUCCESS, SetString(parent, L"a", L"again"));
    EXPECT_EQ((Names{L"z", L"a", L"m"}), ValueNames(parent));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(parent, L"a"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(parent, L"a", L"new"));
    EXPECT_EQ((Names{L"z", L"m", L"a"}), ValueNames(parent));

    wchar_t name[4] = L"###";
    DWORD nameSize = 2, type = 0, dataSize = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(parent, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(2u, nameSize);
    EXPECT_EQ(L'#', name[0]);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExW(parent, 5, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    nameSize = 1;  // the name does not fit: the type and data size still come back
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(parent, 0, name, &nameSize, nullptr, &type, nullptr, &dataSize));
    EXPECT_EQ(DWORD{REG_SZ}, type);
    EXPECT_EQ(4u, dataSize);
    BYTE data[2];
    nameSize = 4, dataSize = 2;  // the data does not fit: the name comes back
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(parent, 0, name, &nameSize, nullptr, &type, data, &dataSize));
    EXPECT_EQ(L"z", std::wstring(name, nameSize));
    EXPECT_EQ(4u, dataSize);
    RegCloseKey(parent);
}

TEST(RegistryTree, DeletingKeysAndTrees) {
    nltest::TestEnv env;
    HKEY tree = CreateKey(L"Tree");
    HKEY leaf = CreateKey(L"Tree\\Branch\\Leaf");
    ASSERT_EQ(ERROR_SUCCESS, SetString(tree, L"v", L"x"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(tree, L"Branch"));  // it has a subkey
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(tree, L"Missing"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(tree, L"branch\\leaf"));
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(leaf, L"v", L"x"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(leaf, L"v", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(leaf);

    RegCloseKey(CreateKey(L"Tree\\Branch\\Leaf"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(tree, nullptr));  // empties the key, keeps it
    EXPECT_EQ(Names{}, SubkeyNames(tree));
    EXPECT_EQ(Names{}, ValueNames(tree));
    RegCloseKey(CreateKey(L"Tree\\Branch\\Leaf"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Tree"));
    wchar_t name[8];
    DWORD size = 8;
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExW(tree, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(Names{}, SubkeyNames(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""));
    RegCloseKey(tree);
}

TEST(RegistryTree, HandlesCarryTheirRightsAndOnlyOpenOnesAreValid) {
    nltest::TestEnv env;
    RegCloseKey(CreateKey(L"Rights\\Existing"));
    HKEY readOnly = nullptr, opened = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(L"Rights", KEY_READ | KEY_WOW64_64KEY, &readOnly));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(readOnly, L"v", L"x"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(readOnly, L"v"));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExW(readOnly, L"New", 0, nullptr, 0, KEY_READ, nullptr, &opened, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(readOnly, L"Existing", 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &opened, &disposition));
    EXPECT_EQ(DWORD{REG_OPENED_EXISTING_KEY}, disposition);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(opened, L"v", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, SetString(opened, L"v", L"x"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));

    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(opened));
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(opened, L"v", L"x"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    const HKEY currentUser = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001)));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(currentUser, L"Software", 0, KEY_READ, &opened));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &opened));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, opened);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    RegCloseKey(readOnly);
}

// ---- The database file -------------------------------------------------------------------

TEST(RegistryFile, MissingFileReadsAsEmptyAndIsNotCreatedByReading) {
    nltest::TestEnv env;
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_READ, &key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_WRITE, &key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExW(HKEY_LOCAL_MACHINE, L"v", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(Names{}, SubkeyNames(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software"));
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
        std::string file = env.path(name), before = nltest::ReadFile(file);
        setenv("NL_REGISTRY_FILE", file.c_str(), 1);
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_READ, &key));
        EXPECT_EQ(Names{}, SubkeyNames(HKEY_LOCAL_MACHINE));
        EXPECT_EQ(ERROR_BADDB, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_WRITE,
                                               nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_BADDB, SetString(HKEY_LOCAL_MACHINE, L"v", L"x"));
        EXPECT_EQ(before, nltest::ReadFile(file));
    }
}

// ---- Permissions ---------------------------------------------------------------------------

// Gives up the right to write the registry: as an unprivileged user when
// running as root, else by making the file read-only.
bool DropWriteAccess(const std::string& registryFile) {
    if (geteuid() == 0) return setgid(65534) == 0 && setuid(65534) == 0;
    return chmod(registryFile.c_str(), 0444) == 0;
}

TEST(RegistryPermissions, ProcessThatMayNotWriteStillReadsEveryValue) {
    nltest::TestEnv env;
    std::wstring big(3000, L'b');
    const DWORD level = 4;
    HKEY key = CreateKey(L"Software\\Product");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"Big", big));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"DebugLevel", 0, REG_DWORD, Bytes(&level), 4));
    RegCloseKey(key);
    EXPECT_EQ(
        0, InChild([&] {
            CHILD_CHECK(DropWriteAccess(env.registryFile()));
            HKEY denied = nullptr, reader = nullptr;
            CHILD_CHECK(OpenKey(L"Software\\Product", KEY_WRITE, &denied) == ERROR_ACCESS_DENIED);
            CHILD_CHECK(OpenKey(L"Software\\Product", KEY_READ | KEY_SET_VALUE, &denied) ==
                        ERROR_ACCESS_DENIED);
            CHILD_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Product", 0, nullptr, 0, KEY_READ,
                                        nullptr, &denied, nullptr) == ERROR_ACCESS_DENIED);
            CHILD_CHECK(SetString(HKEY_LOCAL_MACHINE, L"v", L"x") == ERROR_ACCESS_DENIED);
            CHILD_CHECK(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Missing") == ERROR_FILE_NOT_FOUND);
            CHILD_CHECK(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software") == ERROR_ACCESS_DENIED);
            HANDLE transaction = NewTransaction();
            CHILD_CHECK(CreateIn(transaction, L"Software", &denied) == ERROR_ACCESS_DENIED);
            CloseHandle(transaction);

            DWORD read = 0, size = 4;
            CHILD_CHECK(OpenKey(L"Software\\Product", KEY_READ, &reader) == ERROR_SUCCESS);
            CHILD_CHECK(ReadString(reader, L"Big") == big);
            CHILD_CHECK(RegQueryValueExW(reader, L"DebugLevel", nullptr, nullptr, Bytes(&read), &size) ==
                        ERROR_SUCCESS);
            CHILD_CHECK(read == level);
            return 0;
        }));
}

TEST(RegistryPermissions, ProcessThatMayNotWriteCreatesNoDatabase) {
    nltest::TestEnv env;
    EXPECT_EQ(0, InChild([&] {
                  CHILD_CHECK(geteuid() == 0 ? DropWriteAccess(env.registryFile())
                                             : chmod(env.dir().c_str(), 0555) == 0);
                  HKEY key = nullptr;
                  CHILD_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_READ,
                                              nullptr, &key, nullptr) == ERROR_ACCESS_DENIED);
                  CHILD_CHECK(SetString(HKEY_LOCAL_MACHINE, L"v", L"x") == ERROR_ACCESS_DENIED);
                  CHILD_CHECK(!nltest::FileExists(env.path("registry")));
                  return 0;
              }));
    chmod(env.dir().c_str(), 0755);
}

// ---- Processes and threads sharing the registry -----------------------------------------

// A value of some kilobytes telling which writer wrote it and when: all its
// characters are the same, so a torn value shows.
std::wstring Pattern(int writer, int round) {
    return std::wstring(2000 + 100 * writer, L'A' + (writer + round) % 26);
}

bool IsWholePattern(const std::wstring& value) {
    for (int writer = 0; writer < 4; ++writer)
        if (!value.empty() && value.size() == Pattern(writer, 0).size())
            return value.find_first_not_of(value[0]) == std::wstring::npos;
    return false;
}

TEST(RegistrySharing, ReadersInOtherProcessesOnlyEverSeeWholeValues) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Shared");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"v", Pattern(0, 0)));
    RegCloseKey(key);
    std::vector<pid_t> workers;
    for (int worker = 0; worker < 4; ++worker) {
        workers.push_back(StartChild([worker] {  // even workers write and read, odd ones only read
            HKEY shared = nullptr;
            CHILD_CHECK(OpenKey(L"Shared", KEY_ALL_ACCESS, &shared) == ERROR_SUCCESS);
            for (int round = 0; round < 50; ++round) {
                CHILD_CHECK(worker % 2 || SetString(shared, L"v", Pattern(worker, round)) == ERROR_SUCCESS);
                CHILD_CHECK(IsWholePattern(ReadString(shared, L"v")));
            }
            return 0;
        }));
    }
    for (pid_t pid : workers) EXPECT_EQ(0, ExitStatus(pid));
}

TEST(RegistrySharing, ThreadsShareHandles) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Threads");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, L"v", Pattern(0, 0)));
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                HKEY own = nullptr;
                failures[t] += t % 2 == 0 && SetString(key, L"v", Pattern(t, round)) != ERROR_SUCCESS;
                failures[t] += OpenKey(L"Threads", KEY_READ, &own) != ERROR_SUCCESS;
                failures[t] += !IsWholePattern(ReadString(t % 2 ? own : key, L"v"));
                failures[t] += RegCloseKey(own) != ERROR_SUCCESS;
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
                  HKEY own = nullptr;
                  CHILD_CHECK(ReadString(key, L"parent") == L"p");
                  CHILD_CHECK(SetString(key, L"child", L"c") == ERROR_SUCCESS);
                  CHILD_CHECK(OpenKey(L"Fork", KEY_READ, &own) == ERROR_SUCCESS);
                  CHILD_CHECK(ReadString(own, L"child") == L"c");
                  return 0;
              }));
    EXPECT_EQ(L"c", ReadString(key, L"child"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, L"parent", L"again"));
    RegCloseKey(key);
}

// ---- Transactions --------------------------------------------------------------------------

TEST(RegistryTransactions, ChangesAppearTogetherOnCommitAndNotBefore) {
    nltest::TestEnv env;
    HKEY existing = CreateKey(L"Existing");
    ASSERT_EQ(ERROR_SUCCESS, SetString(existing, L"v", L"old"));
    HANDLE transaction = NewTransaction();
    HKEY created = nullptr, opened = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, CreateIn(transaction, L"Imported", &created, &disposition));
    EXPECT_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition);
    ASSERT_EQ(ERROR_SUCCESS, SetString(created, L"v", L"new"));
    RegCloseKey(CreateKey(L"Below", created));  // a key created below joins the transaction
    ASSERT_EQ(ERROR_SUCCESS, OpenIn(transaction, L"Existing", &opened));
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
    EXPECT_EQ(ERROR_SUCCESS, OpenKey(L"Imported\\Below", KEY_READ, &key));

    EXPECT_FALSE(CommitTransaction(transaction));
    EXPECT_EQ(DWORD{ERROR_TRANSACTION_NOT_ACTIVE}, GetLastError());
    EXPECT_EQ(ERROR_TRANSACTION_NOT_ACTIVE, SetString(created, L"v", L"late"));
    for (HKEY open : {key, existing, created, opened}) RegCloseKey(open);
    EXPECT_TRUE(CloseHandle(transaction));
}

TEST(RegistryTransactions, RollbackOrClosingWithoutCommitLeavesTheRegistryAsItWas) {
    nltest::TestEnv env;
    HKEY existing = CreateKey(L"Existing\\Leaf");
    ASSERT_EQ(ERROR_SUCCESS, SetString(existing, L"v", L"old"));
    for (bool rollback : {true, false}) {
        SCOPED_TRACE(rollback ? "rollback" : "close");
        HANDLE transaction = NewTransaction();
        HKEY opened = nullptr, created = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, OpenIn(transaction, L"Existing\\Leaf", &opened));
        ASSERT_EQ(ERROR_SUCCESS, SetString(opened, L"v", L"changed"));
        ASSERT_EQ(ERROR_SUCCESS, CreateIn(transaction, L"New", &created));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegDeleteKeyTransactedW(HKEY_LOCAL_MACHINE, L"Existing\\Leaf", 0, 0, transaction, nullptr));
        EXPECT_EQ(TRUE, rollback ? RollbackTransaction(transaction) : TRUE);
        EXPECT_TRUE(CloseHandle(transaction));
        EXPECT_EQ(L"old", ReadString(existing, L"v"));
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"New", KEY_READ, &key));
        EXPECT_EQ(ERROR_INVALID_HANDLE, OpenIn(transaction, L"Existing", &key));
        RegCloseKey(opened);
        RegCloseKey(created);
    }
    RegCloseKey(existing);
}

}  // namespace
