// qpreg --help, qpreg /?, qpreg OPERATION /? and qpreg --version.
#include "console.h"
#include "messages.h"
#include "operations.h"

#define QPREG_WIDEN2(text) L##text
#define QPREG_WIDEN(text) QPREG_WIDEN2(text)
#define QPREG_VERSION_WIDE QPREG_WIDEN(QPREG_VERSION)

namespace qpreg {
namespace {

constexpr const wchar_t* kOverview =
    L"qpreg: reads and changes the registry of this machine (HKEY_LOCAL_MACHINE),\n"
    L"with the command line and output of reg.exe.\n"
    L"\n"
    L"  qpreg query  KEY [/v NAME | /ve] [/s]\n"
    L"  qpreg query  KEY /f PATTERN [/k] [/v] [/d] [/c] [/e] [/t TYPE] [/s]\n"
    L"  qpreg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
    L"  qpreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    L"  qpreg export KEY FILE [/y]\n"
    L"  qpreg import FILE\n"
    L"\n"
    L"KEY is HKLM\\SUBKEY or HKEY_LOCAL_MACHINE\\SUBKEY, in quotes: the shell removes\n"
    L"unquoted backslashes. Options start with / or -, in any case.\n"
    L"\"qpreg OPERATION /?\" (or /h) describes one operation.\n"
    L"\n"
    L"The registry is the database named by NL_REGISTRY_FILE\n"
    L"(default /var/lib/norlake/registry.db).\n"
    L"Exit status: 0 on success, 1 on failure. \"qpreg --version\" prints the version.\n";

constexpr const wchar_t* kQuery =
    L"qpreg query KEY [/v NAME | /ve] [/s]\n"
    L"qpreg query KEY [/f PATTERN] [/k] [/v] [/d] [/c] [/e] [/t TYPE] [/s]\n"
    L"\n"
    L"Lists the values and subkeys of KEY.\n"
    L"  /v NAME    list only the value NAME\n"
    L"  /ve        list only the unnamed value, shown as (Default)\n"
    L"  /s         list every key below KEY too; with /v or /ve, search the tree\n"
    L"             for the value and count the matches\n"
    L"\n"
    L"Searches the subkey names, value names and data of KEY (with /s: of its\n"
    L"whole tree) and lists the matches:\n"
    L"  /f PATTERN what to look for, * for any run of characters and ? for any\n"
    L"             one (default *)\n"
    L"  /k         look in key names    /v  in value names    /d  in data\n"
    L"             (any of them; none given: all three)\n"
    L"  /c         match letter case (by default A and a match)\n"
    L"  /e         match whole names or data only (by default any part)\n"
    L"  /t TYPE    look only at values of this type\n"
    L"\n"
    L"Examples:\n"
    L"  qpreg query \"HKLM\\SOFTWARE\\Norlake\\Quillpost\\CurrentVersion\" /v DebugLevel\n"
    L"  qpreg query \"HKLM\\SOFTWARE\\Norlake\" /f worker /d /s\n";

constexpr const wchar_t* kAdd =
    L"qpreg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
    L"\n"
    L"Creates KEY if it is missing and sets a value in it.\n"
    L"  /v NAME  the value to set\n"
    L"  /ve      the unnamed value (also used without /v: with no /t and /d it is\n"
    L"           set to an empty REG_SZ)\n"
    L"  /t TYPE  REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
    L"           REG_QWORD, REG_BINARY or REG_NONE\n"
    L"  /d DATA  the data: text for strings; a decimal or 0x hexadecimal number\n"
    L"           for REG_DWORD and REG_QWORD (REG_QWORD: 0 without /d, -1 for all\n"
    L"           ones); hexadecimal digits for REG_BINARY; strings separated by \\0\n"
    L"           for REG_MULTI_SZ\n"
    L"  /s SEP   the one-character separator of REG_MULTI_SZ strings instead of \\0\n"
    L"  /f       overwrite an existing value without asking\n"
    L"\n"
    L"Examples:\n"
    L"  qpreg add \"HKLM\\SOFTWARE\\Norlake\\Quillpost\\CurrentVersion\" /v DebugModule /t REG_SZ "
    L"/d \"worker=1;indexer=0\" /f\n"
    L"  qpreg add \"HKLM\\SOFTWARE\\Norlake\\Quillpost\\CurrentVersion\" /v DebugLevel /t REG_DWORD /d 0x3 "
    L"/f\n";

constexpr const wchar_t* kDelete =
    L"qpreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    L"\n"
    L"Deletes KEY with all its subkeys, or values of KEY.\n"
    L"  /v NAME  delete only the value NAME\n"
    L"  /ve      delete only the unnamed value\n"
    L"  /va      delete all values of KEY, keeping its subkeys\n"
    L"  /f       delete without asking\n"
    L"\n"
    L"Without /f qpreg asks first and reads the answer from standard input, typed\n"
    L"or piped (echo y | qpreg delete KEY); with no answer there, nothing is deleted.\n";

constexpr const wchar_t* kExport =
    L"qpreg export KEY FILE [/y]\n"
    L"\n"
    L"Writes KEY and everything below it to FILE in the .reg format of\n"
    L"\"Windows Registry Editor Version 5.00\" (UTF-16LE, CRLF), which regedit and\n"
    L"reg.exe import on Windows.\n"
    L"  /y  overwrite FILE without asking\n";

constexpr const wchar_t* kImport =
    L"qpreg import FILE\n"
    L"\n"
    L"Applies a .reg file (UTF-16LE or UTF-8, \"Windows Registry Editor Version 5.00\"\n"
    L"or REGEDIT4): creates keys, sets values, deletes [-KEY] trees and \"NAME\"=-\n"
    L"values. The whole file is checked first and applied in one transaction: a\n"
    L"malformed line or a failure leaves the registry unchanged. A file headed by\n"
    L"another REGEDIT line (REGEDIT5, ...) is accepted and changes nothing.\n";

}  // namespace

int RunVersion() {
    PrintOut(L"qpreg (utilDebug) " QPREG_VERSION_WIDE L"\n");
    return kExitSuccess;
}

int RunHelp(const Command& command) {
    const wchar_t* text = kOverview;
    if (command.helpTopic == L"query") text = kQuery;
    if (command.helpTopic == L"add") text = kAdd;
    if (command.helpTopic == L"delete") text = kDelete;
    if (command.helpTopic == L"export") text = kExport;
    if (command.helpTopic == L"import") text = kImport;
    PrintOut(text);
    return kExitSuccess;
}

}  // namespace qpreg
