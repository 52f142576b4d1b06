// The reg.exe command line: an operation, its positional arguments, then
// options that start with "/" or "-" in any case.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "key_path.h"

namespace qpreg {

enum class Operation { kHelp, kQuery, kAdd, kDelete, kExport, kImport };

struct Command {
    Operation operation = Operation::kHelp;
    // For kHelp: the operation whose usage was asked for, or empty for all.
    std::wstring helpTopic;

    KeyPath key;
    // The file of export and import, as the bytes the user typed.
    std::string file;

    // /v NAME or /ve (which names the unnamed value, "").
    bool valueNamed = false;
    std::wstring valueName;
    bool allValues = false;  // delete /va
    bool recursive = false;  // query /s
    bool force = false;      // /f of add and delete, /y of export

    bool typeGiven = false;  // add /t
    DWORD type = REG_SZ;
    bool dataGiven = false;  // add /d
    std::wstring data;
    std::wstring separator = L"\\0";  // add /s
};

// Reads the arguments after the program name. On a fault prints reg.exe's
// error and returns false.
bool ParseCommandLine(const std::vector<std::string>& args, Command* command);

}  // namespace qpreg
