// Turns the /d text of qpreg add into a value's data for the /t type.
#pragma once

#include <windows.h>

#include <string>

#include "text_encoding.h"

namespace qpreg {

struct DataArgument {
    DWORD type = REG_SZ;
    bool given = false;  // whether /d was on the command line
    std::wstring text;
    std::wstring separator;  // between the strings of a REG_MULTI_SZ
};

// Strings (and REG_NONE) take the text as it is; REG_DWORD a decimal or 0x
// hexadecimal number in range, which it requires; REG_QWORD such a number,
// negative too, or 0 without /d; REG_BINARY hexadecimal digits; REG_MULTI_SZ
// strings between separators. On a fault prints why and returns false.
bool DataFromArgument(const DataArgument& argument, Bytes* data);

}  // namespace qpreg
