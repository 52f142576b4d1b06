// Hexadecimal digits as the command line and .reg files write them.
#pragma once

#include <cstdint>
#include <string>

namespace qpreg {

// The digit's value, or -1 when c is not a hexadecimal digit.
inline int HexDigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The byte as two digits.
inline std::wstring HexPair(uint8_t byte, bool uppercase) {
    const wchar_t* digits = uppercase ? L"0123456789ABCDEF" : L"0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 0xF]};
}

}  // namespace qpreg
