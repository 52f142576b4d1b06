#include "registry_access.h"

#include "common/unicode.h"

namespace qpreg {
namespace {

// Room for the longest value name the registry allows, and a terminator.
constexpr DWORD kMaxValueNameChars = 16384;
// Room for the longest key name the registry allows, and a terminator.
constexpr DWORD kMaxKeyNameChars = 256;

// The API hands string data over as wchar_t elements but counts it in UTF-16
// bytes; other data is plain bytes. A buffer of dataSize bytes therefore has
// to hold dataSize / 2 wchar_t elements when the data turns out to be a string.
std::vector<wchar_t> ApiBuffer(DWORD dataSize) { return std::vector<wchar_t>(dataSize / 2 + 1, L'\0'); }

// Takes wchar_t elements until they make up the UTF-16 size the API reported.
// An odd size ends in half a code unit, which the registry keeps as a zero
// byte: it is kept, so that the value is written back with its own size.
Bytes StringBytesFromApi(const wchar_t* chars, DWORD dataSize) {
    size_t units = dataSize / 2;
    size_t count = 0;
    for (size_t total = 0; total < units; ++count) {
        size_t width = nlplatform::Utf16Length(chars + count, 1);
        if (total + width > units) break;
        total += width;
    }
    Bytes bytes = Utf16LeFromWide(std::wstring(chars, count));
    if (dataSize % 2) bytes.push_back(0);
    return bytes;
}

Bytes BytesFromApi(DWORD type, const std::vector<wchar_t>& buffer, DWORD dataSize) {
    if (IsStringType(type)) return StringBytesFromApi(buffer.data(), dataSize);
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
    return Bytes(bytes, bytes + dataSize);
}

}  // namespace

void KeyHandle::close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
}

LSTATUS OpenKey(const KeyPath& path, REGSAM access, KeyHandle* key) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.subKey().c_str(), 0, access, key->receive());
}

LSTATUS ReadValue(HKEY key, const std::wstring& name, RegistryValue* value) {
    for (;;) {
        DWORD type = REG_NONE;
        DWORD dataSize = 0;
        LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &dataSize);
        if (status != ERROR_SUCCESS) return status;
        std::vector<wchar_t> buffer = ApiBuffer(dataSize);
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                  &dataSize);
        // The value may have grown since its size was asked for.
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return status;
        value->name = name;
        value->type = type;
        value->data = BytesFromApi(type, buffer, dataSize);
        return ERROR_SUCCESS;
    }
}

LSTATUS ReadValues(HKEY key, std::vector<RegistryValue>* values) {
    std::vector<wchar_t> name(kMaxValueNameChars);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kMaxValueNameChars;
        LSTATUS status =
            RegEnumValueW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        RegistryValue value;
        status = ReadValue(key, std::wstring(name.data(), nameLength), &value);
        // Another process may have deleted the value since it was listed.
        if (status == ERROR_FILE_NOT_FOUND) continue;
        if (status != ERROR_SUCCESS) return status;
        values->push_back(std::move(value));
    }
}

LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::wstring>* names) {
    wchar_t name[kMaxKeyNameChars];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kMaxKeyNameChars;
        LSTATUS status = RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        names->emplace_back(name, nameLength);
    }
}

LSTATUS WriteValue(HKEY key, const RegistryValue& value) {
    if (!IsStringType(value.type))
        return RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                              static_cast<DWORD>(value.data.size()));
    std::wstring text = WideFromUtf16Le(value.data.data(), value.data.size());
    return RegSetValueExW(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(value.data.size()));
}

RegistryTransaction::RegistryTransaction() {
    transaction_ = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
    if (transaction_ == INVALID_HANDLE_VALUE) startStatus_ = static_cast<LSTATUS>(GetLastError());
}

RegistryTransaction::~RegistryTransaction() {
    if (transaction_ == INVALID_HANDLE_VALUE) return;
    if (!committed_) RollbackTransaction(transaction_);
    CloseHandle(transaction_);
}

LSTATUS RegistryTransaction::createKey(const KeyPath& path, KeyHandle* key) {
    return RegCreateKeyTransactedW(HKEY_LOCAL_MACHINE, path.subKey().c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key->receive(),
                                   nullptr, transaction_, nullptr);
}

LSTATUS RegistryTransaction::openKey(const KeyPath& path, REGSAM access, KeyHandle* key) {
    return RegOpenKeyTransactedW(HKEY_LOCAL_MACHINE, path.subKey().c_str(), 0, access, key->receive(),
                                 transaction_, nullptr);
}

// The registry empties the key in one step (a key opened in the transaction
// takes its changes into it), then the empty key goes.
LSTATUS RegistryTransaction::deleteTree(const KeyPath& path) {
    {
        KeyHandle key;
        LSTATUS status = openKey(path, KEY_READ | KEY_SET_VALUE, &key);
        if (status == ERROR_SUCCESS) status = RegDeleteTreeW(key.get(), nullptr);
        if (status != ERROR_SUCCESS) return status;
    }
    return RegDeleteKeyTransactedW(HKEY_LOCAL_MACHINE, path.subKey().c_str(), 0, 0, transaction_, nullptr);
}

LSTATUS RegistryTransaction::commit() {
    if (!CommitTransaction(transaction_)) return static_cast<LSTATUS>(GetLastError());
    committed_ = true;
    return ERROR_SUCCESS;
}

}  // namespace qpreg
