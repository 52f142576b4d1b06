#include "registry_value.h"

#include <cwchar>

#include "hex_text.h"

namespace qpreg {
namespace {

struct NamedType {
    const wchar_t* name;
    DWORD type;
};

// The first name of a type is the one listings show; the others are accepted
// on input, as reg.exe accepts them.
constexpr NamedType kTypeNames[] = {
    {L"REG_NONE", REG_NONE},
    {L"REG_SZ", REG_SZ},
    {L"REG_EXPAND_SZ", REG_EXPAND_SZ},
    {L"REG_BINARY", REG_BINARY},
    {L"REG_DWORD", REG_DWORD},
    {L"REG_DWORD_LITTLE_ENDIAN", REG_DWORD},
    {L"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {L"REG_LINK", REG_LINK},
    {L"REG_MULTI_SZ", REG_MULTI_SZ},
    {L"REG_RESOURCE_LIST", 8},
    {L"REG_FULL_RESOURCE_DESCRIPTOR", 9},
    {L"REG_RESOURCE_REQUIREMENTS_LIST", 10},
    {L"REG_QWORD", REG_QWORD},
    {L"REG_QWORD_LITTLE_ENDIAN", REG_QWORD},
};

// Types reg add can write; the others are only listed.
constexpr DWORD kWritableTypes[] = {REG_NONE,  REG_SZ,    REG_EXPAND_SZ,        REG_BINARY,
                                    REG_DWORD, REG_QWORD, REG_DWORD_BIG_ENDIAN, REG_MULTI_SZ};

std::wstring Hex(uint64_t number) {
    wchar_t buffer[24];
    swprintf(buffer, sizeof buffer / sizeof buffer[0], L"0x%llx", static_cast<unsigned long long>(number));
    return buffer;
}

std::wstring UppercaseHexPairs(const Bytes& data) {
    std::wstring text;
    text.reserve(data.size() * 2);
    for (uint8_t byte : data) text += HexPair(byte, true);
    return text;
}

uint64_t LittleEndian(const Bytes& data) {
    uint64_t number = 0;
    for (size_t i = data.size(); i-- > 0;) number = (number << 8) | data[i];
    return number;
}

std::wstring UpToTerminator(const std::wstring& text) { return text.substr(0, text.find(L'\0')); }

// The strings of a REG_MULTI_SZ end at the first empty one.
std::wstring JoinMultiString(const std::wstring& text) {
    std::wstring joined;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\0', start);
        if (end == start) break;
        if (!joined.empty()) joined += L"\\0";
        joined += text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return joined;
}

}  // namespace

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::wstring TypeName(DWORD type) {
    for (const NamedType& named : kTypeNames)
        if (named.type == type) return named.name;
    return Hex(type);
}

bool TypeFromName(const std::wstring& name, DWORD* type) {
    for (const NamedType& named : kTypeNames) {
        if (_wcsicmp(named.name, name.c_str()) != 0) continue;
        for (DWORD writable : kWritableTypes) {
            if (writable == named.type) {
                *type = named.type;
                return true;
            }
        }
    }
    return false;
}

std::wstring FormatForListing(const RegistryValue& value) {
    switch (value.type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return UpToTerminator(WideFromUtf16Le(value.data.data(), value.data.size()));
        case REG_MULTI_SZ:
            return JoinMultiString(WideFromUtf16Le(value.data.data(), value.data.size()));
        case REG_DWORD:
        // Windows writes and reads REG_DWORD_BIG_ENDIAN little endian too.
        case REG_DWORD_BIG_ENDIAN:
            if (value.data.size() == 4) return Hex(LittleEndian(value.data));
            break;
        case REG_QWORD:
            if (value.data.size() == 8) return Hex(LittleEndian(value.data));
            break;
        default:
            break;
    }
    return UppercaseHexPairs(value.data);
}

std::wstring DisplayName(const std::wstring& valueName) {
    return valueName.empty() ? std::wstring(L"(Default)") : valueName;
}

Bytes StringData(const std::wstring& text) { return Utf16LeFromWide(text + L'\0'); }

}  // namespace qpreg
