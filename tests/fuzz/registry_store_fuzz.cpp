// The registry store given a damaged database: every call on it ends, with a
// result or an error, and the tools' walks over it end too. The first byte
// chooses how the input becomes a database:
//   even: the rest is the database file itself (seeds are real registries,
//         which the mutations damage);
//   odd:  the rest is rows for a registry's tables, so that the file is sound
//         to SQLite while its keys form any shape at all (cycles, a key that
//         is the root, names a path cannot hold).
#include <sqlite3.h>
#include <windows.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "operations.h"
#include "registry_access.h"

namespace {

// A row is: id, parent, kind (even: key, odd: value of type kind / 2), name
// length (low 4 bits), then the name.
void InsertRows(sqlite3* db, const uint8_t* data, size_t size) {
    sqlite3_stmt* key = nullptr;
    sqlite3_stmt* value = nullptr;
    sqlite3_prepare_v2(
        db, "INSERT OR IGNORE INTO keys(id, parent, name, folded, written) VALUES(?1, ?2, ?3, upper(?3), 0)",
        -1, &key, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT OR IGNORE INTO key_values(key_id, name, folded, type, data)"
                       " VALUES(?2, ?3, upper(?3), ?1, ?3)",
                       -1, &value, nullptr);
    size_t pos = 0;
    while (key && value && pos + 4 <= size) {
        int id = static_cast<int8_t>(data[pos]), parent = static_cast<int8_t>(data[pos + 1]);
        int kind = data[pos + 2];
        size_t length = std::min<size_t>(data[pos + 3] & 0x0F, size - pos - 4);
        sqlite3_stmt* row = kind % 2 ? value : key;
        sqlite3_bind_int(row, 1, kind % 2 ? kind / 2 : id);
        sqlite3_bind_int(row, 2, parent);
        sqlite3_bind_text(row, 3, reinterpret_cast<const char*>(data + pos + 4), static_cast<int>(length),
                          SQLITE_TRANSIENT);
        sqlite3_step(row);
        sqlite3_reset(row);
        pos += 4 + length;
    }
    sqlite3_finalize(key);
    sqlite3_finalize(value);
}

// A registry made by the store itself, its rows then replaced by the input's.
void BuildFromRows(const std::string& path, const uint8_t* data, size_t size) {
    HKEY seed = nullptr;
    FUZZ_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Seed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &seed,
                               nullptr) == ERROR_SUCCESS);
    RegCloseKey(seed);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
        sqlite3_exec(db, "DELETE FROM keys; DELETE FROM key_values;", nullptr, nullptr, nullptr);
        InsertRows(db, data, size);
    }
    sqlite3_close(db);
}

// What the tools and the library do with a registry: walk and read it all,
// delete parts of it, change it.
void Exercise() {
    std::vector<qpreg::RegFileKey> keys;
    if (qpreg::ReadKeyTree(qpreg::KeyPath(), &keys) == ERROR_SUCCESS) qpreg::WriteRegFile(keys);

    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS) {
        {
            qpreg::RegistryTransaction transaction;
            if (transaction.deleteTree(qpreg::KeyPath().child(std::wstring(name, length))) == ERROR_SUCCESS)
                transaction.commit();
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, name);
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"After\\Damage", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        DWORD dword = 1;
        RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
        RegCloseKey(key);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string path = nlfuzz::FreshRegistry();
    if (data[0] % 2)
        BuildFromRows(path, data + 1, size - 1);
    else
        nlfuzz::WriteBytes(path, data + 1, size - 1);
    Exercise();
    return 0;
}
