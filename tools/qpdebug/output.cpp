#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/unicode.h"

namespace qpdebug {

namespace {

bool IsControl(unsigned c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F ||
           c == 0x061C;
}

std::string Escape(const std::string& text, bool record) {
    std::string out;
    out.reserve(text.size());
    char escaped[16];
    for (size_t at = 0; at < text.size();) {
        // A byte that starts no UTF-8 sequence decodes as U+FFFD, which
        // the text may also hold as such.
        size_t next = at;
        unsigned c = nlplatform::DecodeUtf8(text.data(), text.size(), &next);
        size_t length = next - at;
        if (c == 0xFFFD && text.compare(at, 3, "\xEF\xBF\xBD") != 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at]));
            out += escaped;
            ++at;
            continue;
        }
        if (c == '\\' && !record) {
            out += "\\\\";
        } else if (c == '\t' && record) {
            out += '\t';
        } else if (IsControl(c)) {
            const char* name = c == '\n'   ? "\\n"
                               : c == '\t' ? "\\t"
                               : c == '\r' ? "\\r"
                               : c == 0x1B ? "\\e"
                                           : nullptr;
            if (name)
                out += name;
            else {
                std::snprintf(escaped, sizeof escaped, c < 0x80 ? "\\x%02X" : "\\u%04X", c);
                out += escaped;
            }
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

// Columns count characters, not bytes, so that UTF-8 names line up.
size_t DisplayWidth(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

std::string Shown(const std::string& text) { return Escape(text, false); }
std::string ShownRecord(const std::string& text) { return Escape(text, true); }

bool UseColour() {
    const char* noColour = getenv("NO_COLOR");
    const char* term = getenv("TERM");
    return isatty(STDOUT_FILENO) && !(noColour && *noColour) && !(term && std::string(term) == "dumb");
}

void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::string& indent) {
    std::vector<size_t> widths;
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
        }
    bool colour = UseColour();
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string line = indent;
        for (size_t i = 0; i < rows[r].size(); ++i) {
            line += rows[r][i];
            if (i + 1 < rows[r].size()) line += std::string(widths[i] - DisplayWidth(rows[r][i]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (r == 0 && colour) line = "\033[1m" + line + "\033[0m";
        std::printf("%s\n", line.c_str());
    }
}

void Error(const std::string& text) { std::fprintf(stderr, "qpdebug: %s\n", text.c_str()); }
void Warning(const std::string& text) { std::fprintf(stderr, "qpdebug: warning: %s\n", text.c_str()); }

}  // namespace qpdebug
