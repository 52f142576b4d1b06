#include "messages.h"

#include "console.h"

namespace qpreg {
namespace {

struct StatusText {
    LSTATUS status;
    const wchar_t* text;
};

// The system's own texts for the codes the registry returns.
constexpr StatusText kStatusTexts[] = {
    {ERROR_FILE_NOT_FOUND, L"The system was unable to find the specified registry key or value."},
    {ERROR_PATH_NOT_FOUND, L"The system was unable to find the specified registry key or value."},
    {ERROR_ACCESS_DENIED, L"Access is denied."},
    {ERROR_INVALID_HANDLE, L"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, L"Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, L"The data is invalid."},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect."},
    {ERROR_BADDB, L"The configuration registry database is corrupt."},
    {ERROR_BADKEY, L"The configuration registry key is invalid."},
    {ERROR_CANTOPEN, L"The configuration registry key could not be opened."},
    {ERROR_CANTREAD, L"The configuration registry key could not be read."},
    {ERROR_CANTWRITE, L"The configuration registry key could not be written."},
    {ERROR_KEY_DELETED, L"Illegal operation attempted on a registry key that has been marked for deletion."},
};

std::wstring StatusMessage(LSTATUS status) {
    for (const StatusText& entry : kStatusTexts)
        if (entry.status == status) return entry.text;
    return L"The registry reported error " + std::to_wstring(status) + L".";
}

std::wstring UsageHint(const std::wstring& operation) {
    std::wstring command = operation.empty() ? L"qpreg" : L"qpreg " + operation;
    return L"Type \"" + command + L" /?\" for usage.\n";
}

}  // namespace

int ReportInvalidSyntax(const std::wstring& operation) {
    PrintError(L"ERROR: Invalid syntax.\n" + UsageHint(operation));
    return kExitFailure;
}

int ReportInvalidKeyName(const std::wstring& operation) {
    PrintError(L"ERROR: Invalid key name.\n" + UsageHint(operation));
    return kExitFailure;
}

int ReportStatus(LSTATUS status) { return ReportError(StatusMessage(status)); }

int ReportError(const std::wstring& message) {
    PrintError(L"ERROR: " + message + L"\n");
    return kExitFailure;
}

int ReportSuccess() {
    PrintOut(L"The operation completed successfully.\n");
    return kExitSuccess;
}

}  // namespace qpreg
