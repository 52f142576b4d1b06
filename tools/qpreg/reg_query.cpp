// qpreg query: lists a key, one value, or a whole tree, laid out as reg.exe
// lays it out. The listing is built first and printed only when complete, so
// a failure prints an error and no half listing.
#include "console.h"
#include "key_walk.h"
#include "messages.h"
#include "operations.h"
#include "registry_access.h"

namespace qpreg {
namespace {

std::wstring ValueLine(const RegistryValue& value) {
    return L"    " + DisplayName(value.name) + L"    " + TypeName(value.type) + L"    " +
           FormatForListing(value) + L"\n";
}

// What reg.exe shows for a key whose unnamed value was never set.
std::wstring UnsetDefaultLine() { return L"    (Default)    REG_SZ    (value not set)\n"; }

std::wstring ValuesBlock(const KeyPath& path, const std::vector<RegistryValue>& values) {
    std::wstring block = path.fullName() + L"\n";
    for (const RegistryValue& value : values) block += ValueLine(value);
    return block;
}

// The key's path and values, closed by a blank line, when it has values;
// then its subkeys as full paths.
LSTATUS ListKey(const KeyPath& path, std::wstring* listing) {
    KeyHandle key;
    std::vector<RegistryValue> values;
    std::vector<std::wstring> subkeys;
    LSTATUS status = OpenKey(path, KEY_READ, &key);
    if (status == ERROR_SUCCESS) status = ReadValues(key.get(), &values);
    if (status == ERROR_SUCCESS) status = ReadSubkeyNames(key.get(), &subkeys);
    if (status != ERROR_SUCCESS) return status;

    if (!values.empty()) *listing += ValuesBlock(path, values) + L"\n";
    for (const std::wstring& name : subkeys) *listing += path.child(name).fullName() + L"\n";
    return ERROR_SUCCESS;
}

// Every key of the tree with its values, each followed by a blank line; the
// queried key itself only when it has values.
LSTATUS ListTree(const KeyPath& path, std::wstring* listing) {
    bool top = true;
    return VisitKeyTree(path, [listing, &top](const KeyPath& keyPath, HKEY key) {
        std::vector<RegistryValue> values;
        LSTATUS status = ReadValues(key, &values);
        if (status == ERROR_SUCCESS && (!top || !values.empty()))
            *listing += ValuesBlock(keyPath, values) + L"\n";
        top = false;
        return status;
    });
}

LSTATUS ListValue(const KeyPath& path, const std::wstring& name, std::wstring* listing) {
    KeyHandle key;
    RegistryValue value;
    LSTATUS status = OpenKey(path, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    status = ReadValue(key.get(), name, &value);
    if (status == ERROR_FILE_NOT_FOUND && name.empty()) {
        *listing += path.fullName() + L"\n" + UnsetDefaultLine() + L"\n";
        return ERROR_SUCCESS;
    }
    if (status == ERROR_SUCCESS) *listing += ValuesBlock(path, {value}) + L"\n";
    return status;
}

// The keys of the tree that hold the value, and how many they are.
LSTATUS SearchValue(const KeyPath& path, const std::wstring& name, std::wstring* listing, int* matches) {
    return VisitKeyTree(path, [&](const KeyPath& keyPath, HKEY key) {
        RegistryValue value;
        LSTATUS status = ReadValue(key, name, &value);
        if (status == ERROR_FILE_NOT_FOUND) return static_cast<LSTATUS>(ERROR_SUCCESS);
        if (status != ERROR_SUCCESS) return status;
        *listing += ValuesBlock(keyPath, {value}) + L"\n";
        ++*matches;
        return status;
    });
}

int RunSearch(const Command& command) {
    std::wstring listing = L"\n";
    int matches = 0;
    LSTATUS status = SearchValue(command.key, command.valueName, &listing, &matches);
    if (status != ERROR_SUCCESS) return ReportStatus(status);
    PrintOut(listing + L"End of search: " + std::to_wstring(matches) + L" match(es) found.\n");
    // Like a missing value without /s, a search that finds nothing fails.
    return matches > 0 ? kExitSuccess : kExitFailure;
}

}  // namespace

int RunQuery(const Command& command) {
    if (command.search.active) return RunFind(command);
    if (command.valueNamed && command.recursive) return RunSearch(command);
    std::wstring listing = L"\n";
    LSTATUS status;
    if (command.valueNamed)
        status = ListValue(command.key, command.valueName, &listing);
    else if (command.recursive)
        status = ListTree(command.key, &listing);
    else
        status = ListKey(command.key, &listing);
    if (status != ERROR_SUCCESS) return ReportStatus(status);
    PrintOut(listing);
    return kExitSuccess;
}

}  // namespace qpreg
