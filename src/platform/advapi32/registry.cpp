// advapi32 and ktmw32: the registry functions and the transactions that group
// their changes, on the database of registry_store.
#include <windows.h>

#include <string.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "advapi32/registry_store.h"
#include "common/unicode.h"
#include "kernel32/handle.h"

namespace {

using nlplatform::registry::Connection;
using nlplatform::registry::Intent;
using nlplatform::registry::KeyId;
using nlplatform::registry::KeyPath;
using nlplatform::registry::kRootKey;
using nlplatform::registry::Lease;
using nlplatform::registry::StoredValue;
using nlplatform::registry::Transaction;

// The longest key name (of one level) and value name Windows accepts.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

// What an HKEY stands for.
struct OpenKey {
    std::string database;                      // the file the key lives in
    std::shared_ptr<Transaction> transaction;  // set for a transacted key
    KeyId id = kRootKey;
    REGSAM access = 0;
};

// The objects behind live handles; a handle is its object's address. A
// handle not in the table (closed, or never opened) is refused and never
// dereferenced.
template <class Object>
class HandleTable {
  public:
    HandleTable() { nlplatform::registry::KeepUsableAcrossFork(mutex_); }

    void Add(const void* handle, std::shared_ptr<Object> object) {
        std::lock_guard<std::mutex> lock(mutex_);
        objects_.emplace(handle, std::move(object));
    }
    std::shared_ptr<Object> Find(const void* handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second;
    }
    std::shared_ptr<Object> Remove(const void* handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = objects_.find(handle);
        if (found == objects_.end()) return nullptr;
        std::shared_ptr<Object> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

  private:
    std::mutex mutex_;
    std::unordered_map<const void*, std::shared_ptr<Object>> objects_;
};

struct Handles {
    HandleTable<OpenKey> keys;
    HandleTable<Transaction> transactions;
};

Handles& OpenHandles() {
    // Never destroyed: threads still running at exit may use it.
    static Handles* const handles = (nlplatform::registry::RegisterConnectionLocks(), new Handles);
    return *handles;
}

// A transaction's HANDLE, which kernel32's CloseHandle closes and frees.
class TransactionObject final : public nlplatform::KernelObject {
  public:
    bool Close() override {
        if (std::shared_ptr<Transaction> transaction = OpenHandles().transactions.Remove(this))
            transaction->Close();
        return true;
    }
};

// The key behind a handle: HKEY_LOCAL_MACHINE, always fully accessible, in
// the database of the moment, or an open key.
bool Resolve(HKEY handle, OpenKey* key) {
    if (handle == HKEY_LOCAL_MACHINE) {
        *key = OpenKey{nlplatform::registry::DatabasePath(), nullptr, kRootKey, KEY_ALL_ACCESS};
        return true;
    }
    std::shared_ptr<OpenKey> open = OpenHandles().keys.Find(handle);
    if (open) *key = *open;
    return open != nullptr;
}

HKEY AddKey(OpenKey key) {
    auto open = std::make_shared<OpenKey>(std::move(key));
    HKEY handle = reinterpret_cast<HKEY>(open.get());
    OpenHandles().keys.Add(handle, std::move(open));
    return handle;
}

// The key to work in: base, or base joined to the transaction when one is
// given.
LSTATUS ResolveIn(HKEY handle, HANDLE transaction, OpenKey* key) {
    if (!Resolve(handle, key)) return ERROR_INVALID_HANDLE;
    key->transaction = OpenHandles().transactions.Find(transaction);
    return key->transaction ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Runs an operation on the connection the key is reached through: its
// transaction's, or this process's.
template <class Operation>
LSTATUS Run(const OpenKey& key, Intent intent, Operation operation) {
    Lease lease;
    LSTATUS status = key.transaction ? key.transaction->LeaseConnection(key.database, intent, &lease)
                                     : nlplatform::registry::LeaseConnection(key.database, intent, &lease);
    return status == ERROR_SUCCESS ? operation(*lease.connection) : status;
}

// Splits a subkey path at each '\'. Windows refuses a leading '\' and skips
// repeated and trailing ones.
LSTATUS SplitPath(LPCWSTR subKey, KeyPath* path) {
    if (!subKey) return ERROR_SUCCESS;
    if (*subKey == L'\\') return ERROR_BAD_PATHNAME;
    const wchar_t* name = subKey;
    while (*name) {
        const wchar_t* end = wcschr(name, L'\\');
        if (!end) end = name + wcslen(name);
        if (end > name) path->emplace_back(name, end);
        name = *end ? end + 1 : end;
    }
    return ERROR_SUCCESS;
}

std::wstring ValueName(LPCWSTR name) { return name ? std::wstring(name) : std::wstring(); }

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool WantsWrite(REGSAM access) { return access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY); }

// The registry's bytes for data handed to RegSetValueExW. String data comes
// as wchar_t text while size counts the UTF-16 bytes to store: the text is
// converted until it has made that many bytes, reading never more than
// size / 2 elements. An odd last byte is stored as zero. NT also stores a
// terminator the caller did not count when the character after the data is
// one; reading that character could fault here, so only what was counted is
// stored.
std::string StoredBytes(DWORD type, const BYTE* data, DWORD size) {
    if (size == 0) return std::string();
    if (!IsStringType(type)) return std::string(reinterpret_cast<const char*>(data), size);
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    size_t elements = 0;
    for (size_t units = 0; elements < size / 2 && units * 2 < size; ++elements)
        units += nlplatform::Utf16Length(text + elements, 1);
    std::string bytes = nlplatform::PackUtf16Le(text, elements);
    bytes.resize(size, '\0');
    return bytes;
}

// Stored string data as text; an odd last byte makes a code unit of its own.
std::wstring StoredText(const std::string& bytes) {
    std::string whole = bytes;
    if (whole.size() % 2) whole += '\0';
    return nlplatform::UnpackUtf16Le(whole.data(), whole.size());
}

// Whether the last code unit of non-empty string data is a terminator; an odd
// last byte is a unit of its own.
bool EndsWithTerminator(const std::string& bytes) {
    for (size_t i = (bytes.size() - 1) / 2 * 2; i < bytes.size(); ++i)
        if (bytes[i] != '\0') return false;
    return true;
}

void StoreWide(BYTE* data, size_t index, const wchar_t* text, size_t count) {
    memcpy(data + index * sizeof(wchar_t), text, count * sizeof(wchar_t));
}

// Hands string data to a wchar_t buffer of capacity bytes, that is
// capacity / 2 elements; the data is known to fit. Like NT, adds a
// terminator to a string stored without one when the buffer has 2 bytes to
// spare.
void CopyText(const std::string& stored, DWORD capacity, BYTE* data) {
    std::wstring text = StoredText(stored);
    size_t room = capacity / 2;
    size_t count = std::min(text.size(), room);
    StoreWide(data, 0, text.data(), count);
    bool unterminated = !stored.empty() && !EndsWithTerminator(stored);
    if (unterminated && stored.size() + 2 <= capacity && count < room) StoreWide(data, count, L"", 1);
}

// Hands a value over as RegQueryValueExW does: a null data asks for the size;
// data that does not fit leaves the buffer untouched and reports the size it
// needs.
LSTATUS CopyValue(const StoredValue& value, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (type) *type = value.type;
    DWORD stored = static_cast<DWORD>(value.data.size());
    if (!data) {
        if (dataSize) *dataSize = stored;
        return ERROR_SUCCESS;
    }
    DWORD capacity = *dataSize;
    *dataSize = stored;
    if (stored > capacity) return ERROR_MORE_DATA;
    if (IsStringType(value.type))
        CopyText(value.data, capacity, data);
    else
        memcpy(data, value.data.data(), stored);
    return ERROR_SUCCESS;
}

// A name into a buffer of *size elements, with its terminator; *size becomes
// its length. False, changing nothing, when it does not fit.
bool CopyName(const std::wstring& name, LPWSTR buffer, LPDWORD size) {
    if (name.size() >= *size) return false;
    wmemcpy(buffer, name.data(), name.size());
    buffer[name.size()] = L'\0';
    *size = static_cast<DWORD>(name.size());
    return true;
}

LSTATUS OpenSubkey(const OpenKey& base, LPCWSTR subKey, REGSAM desired, PHKEY result) {
    KeyPath path;
    LSTATUS status = SplitPath(subKey, &path);
    OpenKey opened{base.database, base.transaction, kRootKey, desired};
    if (status == ERROR_SUCCESS)
        status =
            Run(base, Intent::kRead, [&](Connection& c) { return c.FindKey(base.id, path, &opened.id); });
    // The database's permissions stand in for the key's security: Windows
    // checks the rights asked for when the key is opened.
    if (status == ERROR_SUCCESS && WantsWrite(desired) &&
        !nlplatform::registry::MayWriteDatabase(base.database))
        status = ERROR_ACCESS_DENIED;
    if (status == ERROR_SUCCESS) *result = AddKey(std::move(opened));
    return status;
}

LSTATUS CreateSubkey(const OpenKey& base, LPCWSTR subKey, REGSAM desired, PHKEY result, LPDWORD disposition) {
    KeyPath path;
    LSTATUS status = SplitPath(subKey, &path);
    if (status != ERROR_SUCCESS) return status;
    for (const std::wstring& name : path)
        if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (!nlplatform::registry::MayWriteDatabase(base.database)) return ERROR_ACCESS_DENIED;
    OpenKey created{base.database, base.transaction, kRootKey, desired};
    bool isNew = false;
    status = Run(base, Intent::kCreate, [&](Connection& c) {
        return c.CreateKey(base.id, path, base.access & KEY_CREATE_SUB_KEY, &created.id, &isNew);
    });
    if (status != ERROR_SUCCESS) return status;
    if (disposition) *disposition = isNew ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = AddKey(std::move(created));
    return ERROR_SUCCESS;
}

LSTATUS DeleteSubkey(const OpenKey& base, LPCWSTR subKey) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    KeyPath path;
    LSTATUS status = SplitPath(subKey, &path);
    if (status != ERROR_SUCCESS) return status;
    return Run(base, Intent::kChange, [&](Connection& c) { return c.DeleteKey(base.id, path); });
}

}  // namespace

extern "C" {

// ---- advapi32 ------------------------------------------------------------------------

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY result) {
    // Opening HKEY_LOCAL_MACHINE itself gives the predefined handle back.
    if (result && key == HKEY_LOCAL_MACHINE && (!subKey || !*subKey)) {
        *result = HKEY_LOCAL_MACHINE;
        return ERROR_SUCCESS;
    }
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    if (!Resolve(key, &base)) return ERROR_INVALID_HANDLE;
    return OpenSubkey(base, subKey, desired, result);
}

// Creating a key needs KEY_CREATE_SUB_KEY on the parent's handle; opening an
// existing one does not. The class, options and security are ignored.
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR, DWORD, REGSAM desired,
                        const LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_BADKEY;
    if (reserved) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    if (!Resolve(key, &base)) return ERROR_INVALID_HANDLE;
    return CreateSubkey(base, subKey, desired, result, disposition);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
    if ((data && !dataSize) || reserved) return ERROR_INVALID_PARAMETER;
    OpenKey open;
    if (!Resolve(key, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    StoredValue value;
    LSTATUS status = Run(open, Intent::kRead,
                         [&](Connection& c) { return c.QueryValue(open.id, ValueName(valueName), &value); });
    if (status == ERROR_SUCCESS) return CopyValue(value, type, data, dataSize);
    // Asked only for the size of a value that is not there, Windows answers 0.
    if (status == ERROR_FILE_NOT_FOUND && !data && dataSize) *dataSize = 0;
    return status;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    if (!data && dataSize) return ERROR_NOACCESS;
    OpenKey open;
    if (!Resolve(key, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::wstring name = ValueName(valueName);
    if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    StoredValue value{type, StoredBytes(type, data, dataSize)};
    return Run(open, Intent::kCreate, [&](Connection& c) { return c.SetValue(open.id, name, value); });
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    OpenKey open;
    if (!Resolve(key, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return Run(open, Intent::kChange,
               [&](Connection& c) { return c.DeleteValue(open.id, ValueName(valueName)); });
}

// Windows checks the deleted key's own security, not the handle's rights: here
// the database's permissions decide.
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    OpenKey base;
    if (!Resolve(key, &base)) return ERROR_INVALID_HANDLE;
    return DeleteSubkey(base, subKey);
}

// With a null subKey the key's own values go too, which needs KEY_SET_VALUE.
LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
    OpenKey open;
    if (!Resolve(key, &open)) return ERROR_INVALID_HANDLE;
    if (!subKey && !(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    KeyPath path;
    LSTATUS status = SplitPath(subKey, &path);
    if (status != ERROR_SUCCESS) return status;
    return Run(open, Intent::kChange, [&](Connection& c) { return c.DeleteTree(open.id, path, !subKey); });
}

// A name that does not fit gives ERROR_MORE_DATA and changes nothing but
// *lastWriteTime, as on Windows.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                      LPWSTR className, LPDWORD classSize, PFILETIME lastWriteTime) {
    if (reserved || !name || !nameSize) return ERROR_INVALID_PARAMETER;
    OpenKey open;
    if (!Resolve(key, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    std::wstring found;
    FILETIME written;
    LSTATUS status =
        Run(open, Intent::kRead, [&](Connection& c) { return c.EnumKey(open.id, index, &found, &written); });
    if (status != ERROR_SUCCESS) return status;
    if (lastWriteTime) *lastWriteTime = written;
    bool classFits = !className || !classSize || *classSize > 0;
    if (!classFits || !CopyName(found, name, nameSize)) return ERROR_MORE_DATA;
    if (classSize) {
        *classSize = 0;
        if (className) *className = L'\0';
    }
    return ERROR_SUCCESS;
}

// A name that does not fit gives ERROR_MORE_DATA with the type and data size
// reported and nothing else changed; data that does not fit, the name copied
// and the buffer untouched, as on Windows.
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameSize, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (reserved || !valueName || !valueNameSize || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    OpenKey open;
    if (!Resolve(key, &open)) return ERROR_INVALID_HANDLE;
    if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    std::wstring name;
    StoredValue value;
    LSTATUS status =
        Run(open, Intent::kRead, [&](Connection& c) { return c.EnumValue(open.id, index, &name, &value); });
    if (status != ERROR_SUCCESS) return status;
    if (!CopyName(name, valueName, valueNameSize)) {
        if (type) *type = value.type;
        if (dataSize) *dataSize = static_cast<DWORD>(value.data.size());
        return ERROR_MORE_DATA;
    }
    return CopyValue(value, type, data, dataSize);
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    return OpenHandles().keys.Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// ---- ktmw32 and the transacted registry ----------------------------------------------

HANDLE CreateTransaction(LPSECURITY_ATTRIBUTES, void*, DWORD, DWORD, DWORD, DWORD, LPWSTR) {
    auto object = std::make_unique<TransactionObject>();
    OpenHandles().transactions.Add(object.get(), std::make_shared<Transaction>());
    return nlplatform::AddHandle(std::move(object));
}

BOOL CommitTransaction(HANDLE transaction) {
    std::shared_ptr<Transaction> found = OpenHandles().transactions.Find(transaction);
    LSTATUS status = found ? found->Commit() : ERROR_INVALID_HANDLE;
    if (status == ERROR_SUCCESS) return TRUE;
    SetLastError(status);
    return FALSE;
}

BOOL RollbackTransaction(HANDLE transaction) {
    std::shared_ptr<Transaction> found = OpenHandles().transactions.Find(transaction);
    LSTATUS status = found ? found->Rollback() : ERROR_INVALID_HANDLE;
    if (status == ERROR_SUCCESS) return TRUE;
    SetLastError(status);
    return FALSE;
}

LSTATUS RegCreateKeyTransactedW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR, DWORD, REGSAM desired,
                                const LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition,
                                HANDLE transaction, void*) {
    if (!result) return ERROR_BADKEY;
    if (reserved) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    LSTATUS status = ResolveIn(key, transaction, &base);
    return status == ERROR_SUCCESS ? CreateSubkey(base, subKey, desired, result, disposition) : status;
}

LSTATUS RegOpenKeyTransactedW(HKEY key, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY result,
                              HANDLE transaction, void*) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    LSTATUS status = ResolveIn(key, transaction, &base);
    return status == ERROR_SUCCESS ? OpenSubkey(base, subKey, desired, result) : status;
}

LSTATUS RegDeleteKeyTransactedW(HKEY key, LPCWSTR subKey, REGSAM, DWORD, HANDLE transaction, void*) {
    OpenKey base;
    LSTATUS status = ResolveIn(key, transaction, &base);
    return status == ERROR_SUCCESS ? DeleteSubkey(base, subKey) : status;
}

DWORD NlRegStringDataSize(LPCWSTR text) {
    if (!text) return 0;
    size_t bytes = (nlplatform::Utf16Length(text, wcslen(text)) + 1) * 2;
    return static_cast<DWORD>(std::min<size_t>(bytes, UINT32_MAX));
}

DWORD NlRegStringBufferSize(SIZE_T elements) {
    return static_cast<DWORD>(std::min<SIZE_T>(elements, UINT32_MAX / 2) * 2);
}

}  // extern "C"
