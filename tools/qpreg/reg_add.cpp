// qpreg add: creates the key when it is missing and sets a value, all in one
// transaction. Without /v the value is the key's unnamed one, which reg.exe
// sets to an empty REG_SZ even when no option asks for it.
#include "add_data.h"
#include "console.h"
#include "messages.h"
#include "operations.h"
#include "registry_access.h"

namespace qpreg {
namespace {

bool ValueExists(const KeyPath& path, const std::wstring& name) {
    KeyHandle key;
    RegistryValue value;
    return OpenKey(path, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS &&
           ReadValue(key.get(), name, &value) == ERROR_SUCCESS;
}

LSTATUS CreateKeyAndSet(const KeyPath& path, const RegistryValue& value) {
    RegistryTransaction transaction;
    if (transaction.startStatus() != ERROR_SUCCESS) return transaction.startStatus();
    KeyHandle key;
    LSTATUS status = transaction.createKey(path, &key);
    if (status == ERROR_SUCCESS) status = WriteValue(key.get(), value);
    key.close();
    if (status != ERROR_SUCCESS) return status;
    return transaction.commit();
}

}  // namespace

int RunAdd(const Command& command) {
    if (command.key.depth() > kMaxKeyDepth)
        return ReportError(L"The key lies " + std::to_wstring(command.key.depth()) +
                           L" levels below HKEY_LOCAL_MACHINE, deeper than the registry's limit of " +
                           std::to_wstring(kMaxKeyDepth) + L".");
    RegistryValue value;
    value.name = command.valueName;
    value.type = command.type;
    if (!DataFromArgument({command.type, command.dataGiven, command.data, command.separator}, &value.data))
        return kExitFailure;

    if (!command.force && ValueExists(command.key, value.name)) {
        Answer answer = AskYesNo(L"Value " + DisplayName(value.name) + L" exists, overwrite(Yes/No)?");
        if (answer != Answer::kYes) return ReportNotConfirmed(answer, L"/f");
    }
    LSTATUS status = CreateKeyAndSet(command.key, value);
    return status == ERROR_SUCCESS ? ReportSuccess() : ReportStatus(status);
}

}  // namespace qpreg
