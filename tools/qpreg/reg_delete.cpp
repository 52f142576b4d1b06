// qpreg delete: removes a key with its subtree, one value, or all values of
// a key. Each asks first unless /f is given, and applies its change in one
// transaction.
#include "console.h"
#include "messages.h"
#include "operations.h"
#include "registry_access.h"

namespace qpreg {
namespace {

// Checks that the target exists before asking about it, so that a typo is
// reported rather than confirmed.
LSTATUS CheckExists(const Command& command) {
    KeyHandle key;
    LSTATUS status = OpenKey(command.key, KEY_READ, &key);
    if (status != ERROR_SUCCESS || !command.valueNamed) return status;
    RegistryValue value;
    return ReadValue(key.get(), command.valueName, &value);
}

std::wstring Question(const Command& command) {
    if (command.allValues)
        return L"Delete all values under the registry key " + command.key.fullName() + L" (Yes/No)?";
    if (command.valueNamed)
        return L"Delete the registry value " + DisplayName(command.valueName) + L" (Yes/No)?";
    return L"Permanently delete the registry key " + command.key.fullName() + L" (Yes/No)?";
}

LSTATUS DeleteValues(RegistryTransaction& transaction, const Command& command) {
    KeyHandle key;
    LSTATUS status = transaction.openKey(command.key, KEY_READ | KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    if (command.valueNamed) return RegDeleteValueW(key.get(), command.valueName.c_str());
    std::vector<RegistryValue> values;
    status = ReadValues(key.get(), &values);
    for (size_t i = 0; status == ERROR_SUCCESS && i < values.size(); ++i)
        status = RegDeleteValueW(key.get(), values[i].name.c_str());
    return status;
}

LSTATUS Delete(const Command& command) {
    RegistryTransaction transaction;
    if (transaction.startStatus() != ERROR_SUCCESS) return transaction.startStatus();
    bool deletesKey = !command.valueNamed && !command.allValues;
    LSTATUS status = deletesKey ? transaction.deleteTree(command.key) : DeleteValues(transaction, command);
    if (status != ERROR_SUCCESS) return status;
    return transaction.commit();
}

}  // namespace

int RunDelete(const Command& command) {
    // The root holds the whole registry: reg.exe does not delete it either.
    if (command.key.isRoot() && !command.valueNamed && !command.allValues)
        return ReportInvalidKeyName(L"delete");

    LSTATUS status = CheckExists(command);
    if (status != ERROR_SUCCESS) return ReportStatus(status);
    if (!command.force) {
        Answer answer = AskYesNo(Question(command));
        if (answer != Answer::kYes) return ReportNotConfirmed(answer, L"/f");
    }
    status = Delete(command);
    return status == ERROR_SUCCESS ? ReportSuccess() : ReportStatus(status);
}

}  // namespace qpreg
