#include "add_data.h"

#include <limits>

#include "hex_text.h"
#include "messages.h"
#include "registry_value.h"

namespace qpreg {
namespace {

// Decimal digits, or 0x and hexadecimal digits; no sign, no blanks.
bool ParseNumber(const std::wstring& text, uint64_t maximum, uint64_t* number) {
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    unsigned base = hex ? 16 : 10;
    size_t start = hex ? 2 : 0;
    if (text.size() == start) return false;
    uint64_t result = 0;
    for (size_t i = start; i < text.size(); ++i) {
        int digit = HexDigitValue(text[i]);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
        if (result > (maximum - static_cast<unsigned>(digit)) / base) return false;
        result = result * base + static_cast<unsigned>(digit);
    }
    *number = result;
    return true;
}

// Little endian for every number type: reg.exe stores REG_DWORD_BIG_ENDIAN
// data as an ordinary REG_DWORD too.
Bytes NumberBytes(uint64_t number, size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    return bytes;
}

// An odd count of digits reads as if it had a leading zero.
bool ParseHexBytes(const std::wstring& text, Bytes* bytes) {
    std::wstring digits = text.size() % 2 ? L"0" + text : text;
    for (size_t i = 0; i < digits.size(); i += 2) {
        int high = HexDigitValue(digits[i]);
        int low = HexDigitValue(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

// A separator may end the list, but an empty string cannot stand inside it:
// it would end the list early. A separator alone is the list of one empty
// string.
bool ParseMultiString(const std::wstring& text, const std::wstring& separator, Bytes* data) {
    if (text == separator) {
        *data = Utf16LeFromWide(std::wstring(2, L'\0'));
        return true;
    }
    std::wstring strings;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == start) return false;
        strings += text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start) + L'\0';
        if (end == std::wstring::npos) break;
        start = end + separator.size();
    }
    *data = Utf16LeFromWide(strings + L'\0');
    return true;
}

bool InvalidData(const DataArgument& argument, const std::wstring& expected) {
    ReportError(L"Invalid data \"" + argument.text + L"\" for " + TypeName(argument.type) + L": " + expected);
    return false;
}

// REG_DWORD needs its number; a REG_QWORD without /d is 0, and its number
// may have a minus sign, which reg.exe reads modulo 2^64 (-1 is all ones).
bool NumberData(const DataArgument& argument, size_t size, Bytes* data) {
    bool qword = size == 8;
    if (!argument.given && !qword) {
        ReportError(TypeName(argument.type) + L" needs data: give it with /d.");
        return false;
    }
    uint64_t maximum = qword ? std::numeric_limits<uint64_t>::max() : std::numeric_limits<uint32_t>::max();
    bool negative = qword && !argument.text.empty() && argument.text[0] == L'-';
    uint64_t number = 0;
    if (argument.given && !ParseNumber(argument.text.substr(negative ? 1 : 0), maximum, &number))
        return InvalidData(argument, L"expected a number from 0 to " + std::to_wstring(maximum) +
                                         (qword ? L" (or a negative one, taken modulo 2^64)" : L"") +
                                         L", in decimal or as 0x followed by hexadecimal digits.");
    *data = NumberBytes(negative ? 0 - number : number, size);
    return true;
}

}  // namespace

bool DataFromArgument(const DataArgument& argument, Bytes* data) {
    switch (argument.type) {
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            return NumberData(argument, 4, data);
        case REG_QWORD:
            return NumberData(argument, 8, data);
        case REG_BINARY:
            if (!ParseHexBytes(argument.text, data))
                return InvalidData(argument,
                                   L"expected hexadecimal digits, two for each byte (e.g. fe340ead).");
            return true;
        case REG_MULTI_SZ:
            if (!ParseMultiString(argument.text, argument.separator, data))
                return InvalidData(argument, L"an empty string cannot stand between two separators.");
            return true;
        default:
            // REG_NONE too: reg.exe keeps its text as a string, two zero
            // bytes without /d.
            *data = StringData(argument.text);
            return true;
    }
}

}  // namespace qpreg
