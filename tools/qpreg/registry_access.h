// qpreg's only way into the registry: the platform's Reg* API, with the data
// turned into the registry's Windows byte layout on the way out and back on
// the way in. Every function returns the API's status code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "key_path.h"
#include "registry_value.h"

namespace qpreg {

// An open key, closed when the handle goes out of scope.
class KeyHandle {
  public:
    KeyHandle() = default;
    ~KeyHandle() { close(); }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;

    HKEY get() const { return key_; }
    // For the API to store a newly opened key in; closes the one held before.
    PHKEY receive() {
        close();
        return &key_;
    }
    void close();

  private:
    HKEY key_ = nullptr;
};

LSTATUS OpenKey(const KeyPath& path, REGSAM access, KeyHandle* key);

// ERROR_FILE_NOT_FOUND when the value does not exist.
LSTATUS ReadValue(HKEY key, const std::wstring& name, RegistryValue* value);
// All values of the key, in the registry's order.
LSTATUS ReadValues(HKEY key, std::vector<RegistryValue>* values);
LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::wstring>* names);
LSTATUS WriteValue(HKEY key, const RegistryValue& value);

// A set of changes that reach the registry together or not at all. Keys
// created or opened through it join it, and so does every change made through
// those keys. Rolled back unless committed.
class RegistryTransaction {
  public:
    RegistryTransaction();
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // ERROR_SUCCESS when the transaction could be started.
    LSTATUS startStatus() const { return startStatus_; }
    LSTATUS createKey(const KeyPath& path, KeyHandle* key);
    LSTATUS openKey(const KeyPath& path, REGSAM access, KeyHandle* key);
    // Deletes the key with all its subkeys; ERROR_FILE_NOT_FOUND when missing.
    LSTATUS deleteTree(const KeyPath& path);
    LSTATUS commit();

  private:
    HANDLE transaction_ = INVALID_HANDLE_VALUE;
    LSTATUS startStatus_ = ERROR_SUCCESS;
    bool committed_ = false;
};

}  // namespace qpreg
