// Cluster property lists, the binary form in which a cluster control code
// returns a resource's properties: a DWORD count, then per property a name
// entry, its value entries and an end mark. Every entry is a DWORD syntax, a
// DWORD byte length and the data, padded with zeros to a multiple of four
// bytes. Text is wchar_t, terminated, its terminator counted in the length.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace nlplatform::resutils {

using PropertyValues = std::vector<std::pair<std::wstring, std::wstring>>;

// A property list of string properties (CLUSPROP_SYNTAX_LIST_VALUE_SZ), in
// the given order.
std::vector<BYTE> BuildSzPropertyList(const PropertyValues& properties);

// Finds the string property named name (compared ignoring case) in a list
// of size bytes. ERROR_SUCCESS with its text up to the first NUL in *value;
// ERROR_FILE_NOT_FOUND when no property has that name; ERROR_INVALID_DATA
// when the list is malformed before the property is found, or the
// property's first value is not a string (SZ, EXPAND_SZ, EXPANDED_SZ).
DWORD FindSzProperty(const void* list, size_t size, const std::wstring& name, std::wstring* value);

}  // namespace nlplatform::resutils
