// One registry value as qpreg handles it: the data in the registry's own
// Windows byte layout (UTF-16LE strings with their terminators, little-endian
// numbers), so that listing, export and import see the same bytes.
#pragma once

#include <windows.h>

#include <string>

#include "text_encoding.h"

namespace qpreg {

struct RegistryValue {
    std::wstring name;  // empty for the key's unnamed (default) value
    DWORD type = REG_SZ;
    Bytes data;
};

// Types whose data is UTF-16 text.
bool IsStringType(DWORD type);

// The type as reg.exe names it ("REG_SZ"); a type without a name is shown as
// its number in hexadecimal.
std::wstring TypeName(DWORD type);
// Reads a type name given with /t, in any case.
bool TypeFromName(const std::wstring& name, DWORD* type);

// The data the way reg query lists it: strings as text (up to the first
// terminator), REG_MULTI_SZ joined with a literal \0, numbers as 0x hex, all
// else as contiguous uppercase hex pairs.
std::wstring FormatForListing(const RegistryValue& value);

// The name reg query and the questions show: "(Default)" for the unnamed value.
std::wstring DisplayName(const std::wstring& valueName);

// A string's data: its UTF-16LE bytes and the terminator.
Bytes StringData(const std::wstring& text);

}  // namespace qpreg
