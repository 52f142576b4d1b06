// The operations of qpreg, one per reg.exe subcommand. Each returns the exit
// status and has printed its result or error.
#pragma once

#include <windows.h>

#include <vector>

#include "command_line.h"
#include "reg_file.h"

namespace qpreg {

int RunHelp(const Command& command);
// qpreg --version.
int RunVersion();
int RunQuery(const Command& command);
// query with /f, /k, /d, /c, /e, /t or a /v without a name (reg_find.cpp).
int RunFind(const Command& command);
int RunAdd(const Command& command);
int RunDelete(const Command& command);
int RunExport(const Command& command);
int RunImport(const Command& command);

// The work of export and import without their files and messages.
// Reads the key and everything below it, in the order export writes it.
LSTATUS ReadKeyTree(const KeyPath& path, std::vector<RegFileKey>* keys);
// Applies the steps in one transaction; on failure *failedLine is the line
// whose change failed, or 0 when the transaction itself did.
LSTATUS ApplyImport(const std::vector<ImportStep>& steps, int* failedLine);

}  // namespace qpreg
