#include "display.h"

#include <stdint.h>
#include <stdio.h>

namespace qpdbgview {

namespace {

void AppendEscapedByte(std::string& shown, unsigned char byte) {
    switch (byte) {
        case '\n':
            shown += "\\n";
            return;
        case '\r':
            shown += "\\r";
            return;
        case '\t':
            shown += "\\t";
            return;
    }
    char escaped[8];
    snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    shown += escaped;
}

// Characters that a terminal acts on or that change how a line reads: the
// C1 controls, the line and paragraph separators, and the bidirectional
// marks and overrides.
bool IsHiddenCharacter(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The length of the well-formed UTF-8 sequence at text[at] and its
// character, or 0 when the bytes there are not one (overlong forms and
// surrogates included).
size_t DecodeUtf8(const std::string& text, size_t at, char32_t* character) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || at + length > text.size()) return 0;
    char32_t c = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        c = c << 6 | (next & 0x3F);
    }
    static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *character = c;
    return length;
}

}  // namespace

std::string ShownText(const std::string& text) {
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    if (end > 0 && end < text.size() && text[end - 1] == '\r') --end;
    std::string shown;
    shown.reserve(end);
    for (size_t at = 0; at < end;) {
        unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7F)
                AppendEscapedByte(shown, byte);
            else
                shown += static_cast<char>(byte);
            ++at;
            continue;
        }
        char32_t character = 0;
        size_t length = DecodeUtf8(text, at, &character);
        if (length == 0) {
            AppendEscapedByte(shown, byte);
            ++at;
            continue;
        }
        if (IsHiddenCharacter(character)) {
            char escaped[12];
            snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(character));
            shown += escaped;
        } else {
            shown.append(text, at, length);
        }
        at += length;
    }
    return shown;
}

}  // namespace qpdbgview
