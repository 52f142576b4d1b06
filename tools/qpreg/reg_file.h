// Registry files (.reg) as regedit and reg.exe write and read them: a header
// line, then [KEY] blocks of "name"=data lines.
#pragma once

#include <string>
#include <vector>

#include "key_path.h"
#include "registry_value.h"

namespace qpreg {

// One key of an exported tree, with its values.
struct RegFileKey {
    KeyPath path;
    std::vector<RegistryValue> values;
};

// A "Windows Registry Editor Version 5.00" file: UTF-16LE with a byte-order
// mark and CRLF line ends, keys in the order given. Strings that the string
// form cannot carry exactly (line breaks, inner or missing terminators) are
// written as hex(1) so that an import gives back the same bytes.
Bytes WriteRegFile(const std::vector<RegFileKey>& keys);

// One change an imported file asks for, with the line that asks for it.
struct ImportStep {
    enum class Action { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
    Action action = Action::kCreateKey;
    int line = 0;
    KeyPath key;
    RegistryValue value;  // kSetValue: the value; kDeleteValue: its name
};

struct ParseFault {
    int line = 0;
    std::wstring reason;
};

// Reads a whole file, UTF-16LE with a byte-order mark or UTF-8 with or
// without one, headed "Windows Registry Editor Version 5.00" or "REGEDIT4".
// A file headed by another line that begins with "REGEDIT" (REGEDIT5, the
// REGEDIT of Windows 3.1) gives no steps, as regedit takes nothing from it.
// Returns false at the first fault, with its line and what is wrong there.
bool ReadRegFile(const Bytes& content, std::vector<ImportStep>* steps, ParseFault* fault);

}  // namespace qpreg
