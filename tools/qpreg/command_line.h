// The reg.exe command line: an operation, its positional arguments, then
// options that start with "/" or "-" in any case.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "key_path.h"

namespace qpreg {

enum class Operation { kHelp, kVersion, kQuery, kAdd, kDelete, kExport, kImport };

// What query /f looks for and where. Matching is case-insensitive for ASCII
// letters unless caseSensitive; the pattern may hold * (any run of
// characters) and ? (any one), and matches anywhere in the text unless
// exactMatch makes it match the whole text.
struct SearchOptions {
    bool active = false;  // /f, or any of /k /d /c /e /t, or /v without a name
    std::wstring pattern = L"*";
    // Where to look; none set means all three (both value fields with /t).
    bool keyNames = false;       // /k
    bool valueNames = false;     // /v without a name
    bool data = false;           // /d
    bool caseSensitive = false;  // /c
    bool exactMatch = false;     // /e
};

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

    bool typeGiven = false;  // add /t; for query, the only type searched
    DWORD type = REG_SZ;
    bool dataGiven = false;  // add /d
    std::wstring data;
    std::wstring separator = L"\\0";  // add /s

    SearchOptions search;  // query /f and its refinements
};

// Reads the arguments after the program name. On a fault prints reg.exe's
// error and returns false.
bool ParseCommandLine(const std::vector<std::string>& args, Command* command);

}  // namespace qpreg
