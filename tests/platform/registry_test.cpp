// The registry stand-in through its Windows interface: typed values and their
// sizes, names, the key tree, snapshots and transactions (the call table), the
// database file, permissions, and processes and threads sharing it.
#include "nltest.h"
#include <sqlite3.h>

namespace {

using Names = std::vector<std::wstring>;

const BYTE* Bytes(const void* data) { return static_cast<const BYTE*>(data); }
BYTE* Bytes(void* data) { return static_cast<BYTE*>(data); }

LSTATUS Create(HKEY parent, const wchar_t* path, REGSAM access, HKEY* key, DWORD* disposition = nullptr) {
    return RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, key, disposition);
}

HKEY CreateKey(const wchar_t* path, HKEY parent = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, Create(parent, path, KEY_ALL_ACCESS, &key));
    return key;
}

LSTATUS OpenKey(const wchar_t* path, REGSAM access, HKEY* key) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key);
}

// Text of the Basic Multilingual Plane, stored with its terminator.
LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, Bytes(text.c_str()), 2 * (text.size() + 1));
}

// The value as text, or empty when it cannot be read.
std::wstring ReadString(HKEY key, const wchar_t* name) {
    std::vector<wchar_t> buffer(4096, L'\0');
    DWORD size = 2 * 4095;  // bytes, for as many elements
    LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, Bytes(buffer.data()), &size);
    return status == ERROR_SUCCESS ? std::wstring(buffer.data()) : std::wstring();
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

using nltest::ExitStatus;
using nltest::InChild;
using nltest::StartChild;

// ---- The calls ---------------------------------------------------------------------------

// Each row of data/registry/calls.txt (its header gives the calls): values and
// their sizes, names, the key tree's order and depth, deleting, snapshots and
// transactions. A value is set from data that ends right before an
// inaccessible page, so that reading one element more than the size covers
// shows.
TEST(RegistryCalls, GiveWhatTheTableSays) {
    const std::map<std::string, LSTATUS> statuses = {{"ok", ERROR_SUCCESS},
                                                     {"not-found", ERROR_FILE_NOT_FOUND},
                                                     {"bad-path", ERROR_BAD_PATHNAME},
                                                     {"invalid", ERROR_INVALID_PARAMETER},
                                                     {"deleted", ERROR_KEY_DELETED},
                                                     {"bad-handle", ERROR_INVALID_HANDLE},
                                                     {"denied", ERROR_ACCESS_DENIED},
                                                     {"more-data", ERROR_MORE_DATA},
                                                     {"no-more", ERROR_NO_MORE_ITEMS},
                                                     {"no-access", ERROR_NOACCESS},
                                                     {"not-active", ERROR_TRANSACTION_NOT_ACTIVE}};
    const std::map<std::string, REGSAM> rights = {
        {"read", KEY_READ}, {"read64", KEY_READ | KEY_WOW64_64KEY}, {"write", KEY_WRITE}};
    std::optional<nltest::TestEnv> env;
    std::map<std::string, HKEY> keys;
    std::map<std::string, HANDLE> transactions;
    std::atomic<LSTATUS> written{-1};
    std::thread writer;
    const long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, pages);
    ASSERT_EQ(0, mprotect(pages + page, page, PROT_NONE));
    auto joined = [](const Names& names) {
        std::wstring text;
        for (const std::wstring& name : names) text += (text.empty() ? L"" : L"|") + name;
        return text;
    };
    std::function<void(const nltest::Row&)> run = [&](const nltest::Row& row) {
        const std::string& op = row[0];
        if (op == "fresh") {
            env.reset(), env.emplace(), keys = {{"HKLM", HKEY_LOCAL_MACHINE}};
            return;
        }
        HKEY& key = keys[row[1]];
        const auto in = transactions.find(op == "create"                   ? row[3]
                                          : op == "open" && row.size() > 4 ? row[4]
                                                                           : "");
        const HANDLE transaction = in == transactions.end() ? nullptr : in->second;
        const std::wstring name = nltest::Wide(row.size() > 2 ? row[2] : ""), last = nltest::Wide(row.back());
        DWORD disposition = 0, size = 12345;
        if (op == "create") {
            EXPECT_EQ(
                statuses.at(row[4]),
                transaction
                    ? RegCreateKeyTransactedW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                              nullptr, &key, &disposition, transaction, nullptr)
                    : Create(keys.at(row[3]), name.c_str(),
                             row.size() > 6 ? rights.at(row[6]) : KEY_ALL_ACCESS, &key, &disposition));
            DWORD expected = row.size() < 6 || row[5].empty() ? disposition
                             : row[5] == "new"                ? REG_CREATED_NEW_KEY
                                                              : REG_OPENED_EXISTING_KEY;
            EXPECT_EQ(expected, disposition);
        } else if (op == "open") {
            EXPECT_EQ(statuses.at(row[3]),
                      transaction
                          ? RegOpenKeyTransactedW(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_ALL_ACCESS, &key,
                                                  transaction, nullptr)
                          : OpenKey(name.c_str(), row.size() > 4 ? rights.at(row[4]) : KEY_READ, &key));
        } else if (op == "set") {
            EXPECT_EQ(statuses.at(row[4]), SetString(key, name.c_str(), nltest::Wide(row[3])));
        } else if (op == "typed") {
            const DWORD type = std::stoul(row[3], nullptr, 0), stored = std::stoul(row[5]);
            std::string bytes;
            if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
                const std::wstring text = nltest::Wide(nltest::Unescape(row[4]));
                bytes.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
            } else {
                for (size_t i = 0; i + 1 < row[4].size(); i += 2)
                    bytes += static_cast<char>(std::stoi(row[4].substr(i, 2), nullptr, 16));
            }
            char* source =
                static_cast<char*>(memcpy(pages + page - bytes.size(), bytes.data(), bytes.size()));
            ASSERT_EQ(statuses.at(row[6]), RegSetValueExW(key, name.c_str(), 0, type,
                                                          bytes.empty() ? nullptr : Bytes(source), stored));
            if (row[6] != "ok") return;
            DWORD storedType = 0;
            EXPECT_EQ(ERROR_SUCCESS,
                      RegQueryValueExW(key, name.c_str(), nullptr, &storedType, nullptr, &size));
            EXPECT_EQ(type, storedType);
            EXPECT_EQ(stored, size);
            std::string buffer(2 * stored + 8, '\xAA');
            EXPECT_EQ(ERROR_SUCCESS,
                      RegQueryValueExW(key, name.c_str(), nullptr, &storedType, Bytes(&buffer[0]), &size));
            EXPECT_EQ(stored, size);
            const size_t readBack = std::stoul(row[7]);  // not one byte more
            EXPECT_EQ(bytes.substr(0, readBack) + '\xAA', buffer.substr(0, readBack + 1));
        } else if (op == "read") {
            const std::wstring shown = nltest::Wide(nltest::Unescape(row[6]));
            std::wstring buffer(shown.size(), L'#');
            size = row[3].back() == 'e' ? NlRegStringBufferSize(std::stoul(row[3])) : std::stoul(row[3]);
            EXPECT_EQ(statuses.at(row[4]),
                      RegQueryValueExW(key, name.c_str(), nullptr, nullptr, Bytes(&buffer[0]), &size));
            EXPECT_EQ(std::stoul(row[5]), size);
            EXPECT_EQ(shown, buffer);
        } else if (op == "datasize") {
            const std::wstring text = nltest::Wide(nltest::Unescape(row[1]));
            EXPECT_EQ(std::stoul(row[2]), NlRegStringDataSize(row[1] == "-" ? nullptr : text.c_str()));
        } else if (op == "get") {
            EXPECT_EQ(last, ReadString(key, name.c_str()));
        } else if (op == "query") {
            EXPECT_EQ(statuses.at(row[3]),
                      RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size));
            EXPECT_EQ(row.size() > 4 ? std::stoul(row[4]) : size, size);
        } else if (op == "delvalue") {
            EXPECT_EQ(statuses.at(row[3]), RegDeleteValueW(key, name.c_str()));
        } else if (op == "deltree") {
            EXPECT_EQ(statuses.at(row[3]), RegDeleteTreeW(key, row[2] == "-" ? nullptr : name.c_str()));
        } else if (op == "commit" || op == "rollback" || (op == "close" && transactions.count(row[1]))) {
            const HANDLE ending = transactions.at(row[1]);
            const BOOL done = op == "commit"     ? CommitTransaction(ending)
                              : op == "rollback" ? RollbackTransaction(ending)
                                                 : CloseHandle(ending);
            EXPECT_EQ(statuses.at(row[2]), done ? ERROR_SUCCESS : LSTATUS(GetLastError()));
        } else if (op == "close") {
            EXPECT_EQ(statuses.at(row[2]), RegCloseKey(key));
        } else if (op == "keys" || op == "values") {
            EXPECT_EQ(row.size() > 2 ? name : L"", joined(EnumNames(key, op == "keys")));
        } else if (op == "subkey" || op == "value") {
            const bool value = op == "value", noData = value && row[4] == "-";
            wchar_t found[8];
            wmemset(found, L'#', 8);
            BYTE data[8];
            DWORD type = 0, dataSize = value && !noData ? std::stoul(row[4]) : 0;
            size = std::stoul(row[3]);
            const DWORD index = std::stoul(row[2]);
            EXPECT_EQ(statuses.at(row[value ? 5 : 4]),
                      value ? RegEnumValueW(key, index, found, &size, nullptr, &type, noData ? nullptr : data,
                                            &dataSize)
                            : RegEnumKeyExW(key, index, found, &size, nullptr, nullptr, nullptr, nullptr));
            std::wstring shown = std::wstring(found, std::min<DWORD>(size, 7)) + L'/' + std::to_wstring(size);
            if (value) shown += L'/' + std::to_wstring(type) + L'/' + std::to_wstring(dataSize);
            EXPECT_EQ(last, shown);
        } else if (op == "transaction") {
            transactions[row[1]] = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
        } else if (op == "delkey") {
            EXPECT_EQ(statuses.at(row[3]), RegDeleteKeyTransactedW(HKEY_LOCAL_MACHINE, name.c_str(), 0, 0,
                                                                   transactions.at(row[1]), nullptr));
        } else if (op == "snapshot") {
            row[1] == "begin" ? NlBeginRegistrySnapshot() : NlEndRegistrySnapshot();
        } else if (op == "file") {
            setenv("NL_REGISTRY_FILE",
                   row[1] == "-" ? env->registryFile().c_str() : env->path(row[1]).c_str(), 1);
        } else if (op == "later") {
            writer =
                std::thread([&written, key, name, last] { written = SetString(key, name.c_str(), last); });
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(-1, written.load()) << "the change did not wait";
        } else if (op == "join") {
            writer.join();
            EXPECT_EQ(statuses.at(row[1]), written.exchange(-1));
        } else if (op == "child") {
            EXPECT_EQ(0, InChild([&] { run(nltest::Row(row.begin() + 1, row.end())); }));
        } else {
            ADD_FAILURE() << "unknown call " << op;
        }
    };
    for (const nltest::Row& row : nltest::ReadRows("registry/calls.txt", true)) {
        SCOPED_TRACE(row[0] + " " + (row.size() > 2 ? row[2].substr(0, 60) : ""));
        run(row);
    }
    munmap(pages, 2 * page);
}

// ---- The database file -------------------------------------------------------------------

TEST(RegistryFile, MissingFileReadsAsEmptyUntilTheFirstWriteCreatesItForAllToRead) {
    nltest::TestEnv env;
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_READ, &key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(L"Software", KEY_WRITE, &key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExW(HKEY_LOCAL_MACHINE, L"v", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(Names{}, EnumNames(HKEY_LOCAL_MACHINE, true));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software"));
    EXPECT_FALSE(nltest::FileExists(env.registryFile()));

    mode_t saved = umask(077);  // whatever the umask
    RegCloseKey(CreateKey(L"Software"));
    umask(saved);
    struct stat file;
    ASSERT_EQ(0, stat(env.registryFile().c_str(), &file));
    EXPECT_EQ(0644u, file.st_mode & 07777);
}

// ---- Connections sharing the registry -------------------------------------------------------

// A writer waits for a registry that another connection holds locked, rather
// than failing at once.
TEST(RegistrySharing, AWriterWaitsForALockHeldForASecond) {
    nltest::TestEnv env;
    HKEY key = CreateKey(L"Software");
    sqlite3* other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(env.registryFile().c_str(), &other));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, L"v", L"x"));
    release.join();
    sqlite3_close(other);
    RegCloseKey(key);
}

}  // namespace
