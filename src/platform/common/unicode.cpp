#include "common/unicode.h"

#include <cwchar>

namespace nlplatform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalarValue(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

size_t EncodeUtf8(char32_t c, char* out) {
    if (!IsScalarValue(c)) c = kReplacement;
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

void AppendUtf8(std::string& out, char32_t c) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(c, bytes));
}

char32_t DecodeUtf8(const char* text, size_t length, size_t* pos) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = *pos;
    unsigned char lead = s[i];
    if (lead < 0x80) {
        *pos = i + 1;
        return lead;
    }
    int extra;
    char32_t c;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        *pos = i + 1;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= length || (s[i + k] & 0xC0) != 0x80) {
            *pos = i + 1;
            return kReplacement;
        }
        c = (c << 6) | (s[i + k] & 0x3F);
    }
    *pos = i + 1 + extra;
    if (c < minimum || !IsScalarValue(c)) return kReplacement;
    return c;
}

std::string WideToUtf8(const wchar_t* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) AppendUtf8(out, static_cast<char32_t>(text[i]));
    return out;
}

std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }

std::wstring Utf8ToWide(const char* text, size_t length) {
    std::wstring out;
    out.reserve(length);
    size_t pos = 0;
    while (pos < length) out += static_cast<wchar_t>(DecodeUtf8(text, length, &pos));
    return out;
}

std::wstring Utf8ToWide(const std::string& text) { return Utf8ToWide(text.data(), text.size()); }

std::u16string WideToUtf16(const wchar_t* text, size_t length) {
    std::u16string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if (!IsScalarValue(c)) c = kReplacement;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

size_t Utf16Length(const wchar_t* text, size_t length) {
    size_t units = 0;
    for (size_t i = 0; i < length; ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        units += IsScalarValue(c) && c >= 0x10000 ? 2 : 1;
    }
    return units;
}

std::string PackUtf16Le(const wchar_t* text, size_t length) {
    std::u16string units = WideToUtf16(text, length);
    std::string bytes(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return bytes;
}

std::wstring UnpackUtf16Le(const void* bytes, size_t size) {
    const auto* data = static_cast<const unsigned char*>(bytes);
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return Utf16ToWide(units.data(), units.size());
}

std::wstring Utf16ToWide(const char16_t* text, size_t length) {
    std::wstring out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

}  // namespace nlplatform
