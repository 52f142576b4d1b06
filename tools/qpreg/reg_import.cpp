// qpreg import: all or nothing. The whole file is read and checked first; a
// fault is reported with its line and nothing is changed. The changes are
// then applied in one transaction, so a failure midway changes nothing either.
#include "console.h"
#include "file_io.h"
#include "messages.h"
#include "operations.h"
#include "reg_file.h"
#include "registry_access.h"

namespace qpreg {
namespace {

// Deleting what is already gone is not an error in a .reg file.
LSTATUS IgnoreMissing(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status; }

LSTATUS ApplyStep(RegistryTransaction& transaction, const ImportStep& step, KeyHandle* currentKey) {
    switch (step.action) {
        case ImportStep::Action::kCreateKey:
            return transaction.createKey(step.key, currentKey);
        case ImportStep::Action::kDeleteKey:
            currentKey->close();
            return IgnoreMissing(transaction.deleteTree(step.key));
        case ImportStep::Action::kSetValue:
            return WriteValue(currentKey->get(), step.value);
        case ImportStep::Action::kDeleteValue:
            return IgnoreMissing(RegDeleteValueW(currentKey->get(), step.value.name.c_str()));
    }
    return ERROR_INVALID_PARAMETER;
}

}  // namespace

LSTATUS ApplyImport(const std::vector<ImportStep>& steps, int* failedLine) {
    *failedLine = 0;
    RegistryTransaction transaction;
    if (transaction.startStatus() != ERROR_SUCCESS) return transaction.startStatus();
    {
        KeyHandle currentKey;
        for (const ImportStep& step : steps) {
            LSTATUS status = ApplyStep(transaction, step, &currentKey);
            if (status != ERROR_SUCCESS) {
                *failedLine = step.line;
                return status;
            }
        }
    }
    return transaction.commit();
}

int RunImport(const Command& command) {
    std::wstring fileName = WideFromUtf8(command.file);
    Bytes content;
    std::wstring error;
    if (!ReadWholeFile(command.file, kMaxRegFileBytes, &content, &error))
        return ReportError(L"Error opening the file " + fileName + L": " + error);

    std::vector<ImportStep> steps;
    ParseFault fault;
    if (!ReadRegFile(content, &steps, &fault))
        return ReportError(L"Malformed line " + std::to_wstring(fault.line) + L" in " + fileName + L": " +
                           fault.reason + L". Nothing was imported.");

    int failedLine = 0;
    LSTATUS status = ApplyImport(steps, &failedLine);
    if (status == ERROR_SUCCESS) return ReportSuccess();
    ReportStatus(status);
    if (failedLine)
        PrintError(L"Line " + std::to_wstring(failedLine) + L" of " + fileName +
                   L" could not be applied. Nothing was imported.\n");
    else
        PrintError(L"Nothing was imported.\n");
    return kExitFailure;
}

}  // namespace qpreg
