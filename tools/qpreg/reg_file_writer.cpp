#include "reg_file.h"

#include <cwchar>

#include "hex_text.h"

namespace qpreg {
namespace {

constexpr const wchar_t* kHeader = L"Windows Registry Editor Version 5.00";
constexpr const wchar_t* kLineEnd = L"\r\n";
// A hex line is broken once it reaches this column: with its trailing
// backslash at most 80 columns, as regedit and reg.exe break it.
constexpr size_t kHexWrapColumn = 77;
constexpr const wchar_t* kContinuation = L"\\\r\n  ";

// Inside quotes a backslash and a quote are escaped; line breaks too, so a
// name keeps to one line.
std::wstring Quoted(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"')
            quoted += {L'\\', c};
        else if (c == L'\n')
            quoted += L"\\n";
        else if (c == L'\r')
            quoted += L"\\r";
        else
            quoted += c;
    }
    return quoted + L"\"";
}

std::wstring NamePart(const std::wstring& name) {
    return name.empty() ? std::wstring(L"@=") : Quoted(name) + L"=";
}

// Whether the data is one terminated string that the quoted form restores
// byte for byte.
bool HasPlainStringForm(const Bytes& data, std::wstring* text) {
    if (data.size() < 2 || data.size() % 2 || data[data.size() - 2] || data[data.size() - 1]) return false;
    *text = WideFromUtf16Le(data.data(), data.size() - 2);
    if (text->find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos) return false;
    return Utf16LeFromWide(*text + L'\0') == data;
}

std::wstring HexList(const Bytes& data, size_t column) {
    std::wstring list;
    for (size_t i = 0; i < data.size(); ++i) {
        list += HexPair(data[i], false);
        column += 2;
        if (i + 1 == data.size()) break;
        list += L',';
        if (++column >= kHexWrapColumn) {
            list += kContinuation;
            column = 2;
        }
    }
    return list;
}

std::wstring HexPrefix(DWORD type) {
    if (type == REG_BINARY) return L"hex:";
    wchar_t prefix[24];
    swprintf(prefix, sizeof prefix / sizeof prefix[0], L"hex(%x):", static_cast<unsigned>(type));
    return prefix;
}

std::wstring ValueLine(const RegistryValue& value) {
    std::wstring line = NamePart(value.name);
    std::wstring text;
    if (value.type == REG_SZ && HasPlainStringForm(value.data, &text)) return line + Quoted(text) + kLineEnd;
    if (value.type == REG_DWORD && value.data.size() == 4) {
        wchar_t number[16];
        uint32_t dword =
            value.data[0] | value.data[1] << 8 | value.data[2] << 16 | uint32_t{value.data[3]} << 24;
        swprintf(number, sizeof number / sizeof number[0], L"dword:%08x", static_cast<unsigned>(dword));
        return line + number + kLineEnd;
    }
    line += HexPrefix(value.type);
    return line + HexList(value.data, line.size()) + kLineEnd;
}

}  // namespace

Bytes WriteRegFile(const std::vector<RegFileKey>& keys) {
    std::wstring text = std::wstring(kHeader) + kLineEnd;
    for (const RegFileKey& key : keys) {
        text += kLineEnd;
        text += L"[" + key.path.fullName() + L"]" + kLineEnd;
        for (const RegistryValue& value : key.values) text += ValueLine(value);
    }
    text += kLineEnd;
    Bytes bytes = {0xFF, 0xFE};
    Bytes body = Utf16LeFromWide(text);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

}  // namespace qpreg
