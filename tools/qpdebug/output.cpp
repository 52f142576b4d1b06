#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qpdebug {

bool UseColour() {
    const char* noColour = getenv("NO_COLOR");
    const char* term = getenv("TERM");
    return isatty(STDOUT_FILENO) && !(noColour && *noColour) && !(term && std::string(term) == "dumb");
}

// Columns count characters, not bytes, so that UTF-8 names line up.
static size_t DisplayWidth(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
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

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void Error(const std::string& text) { std::fprintf(stderr, "qpdebug: %s\n", text.c_str()); }
void Warning(const std::string& text) { std::fprintf(stderr, "qpdebug: warning: %s\n", text.c_str()); }

}  // namespace qpdebug
