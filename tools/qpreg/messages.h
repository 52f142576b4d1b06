// The messages qpreg ends an operation with, worded as reg.exe words them.
// Each Report function prints to stderr and returns the failure exit status.
#pragma once

#include <windows.h>

#include <string>

namespace qpreg {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// operation is the subcommand the usage hint points to ("add"), or empty.
int ReportInvalidSyntax(const std::wstring& operation);
int ReportInvalidKeyName(const std::wstring& operation);
// "ERROR: " and the text of a registry status code.
int ReportStatus(LSTATUS status);
// "ERROR: " and message.
int ReportError(const std::wstring& message);

// "The operation completed successfully." on stdout; returns kExitSuccess.
int ReportSuccess();

}  // namespace qpreg
