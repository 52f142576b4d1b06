// Cases kept as data: rows of tab-separated fields in a file under tests/data.
// Lines starting with '#' and blank lines are skipped. In a field \t, \n, \r,
// \0, \\ and \xHH stand for their bytes; text is UTF-8 (Wide reads it, also
// the encoded surrogates that stand for a lone UTF-16 unit).
#pragma once

namespace nltest {

using Row = std::vector<std::string>;

inline std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        char c = field[++i];
        if (c == 'x')
            out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
    }
    return out;
}

// The rows of tests/data/<relative>, each field unescaped unless raw.
inline std::vector<Row> ReadRows(const std::string& relative, bool raw = false) {
    std::vector<Row> rows;
    std::istringstream in(ReadFile(NL_TEST_DATA_DIR "/" + relative));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        rows.emplace_back();
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            rows.back().push_back(raw ? line.substr(start, tab - start)
                                      : Unescape(line.substr(start, tab - start)));
        rows.back().push_back(raw ? line.substr(start) : Unescape(line.substr(start)));
    }
    EXPECT_FALSE(rows.empty()) << relative;
    return rows;
}

// UTF-8 as wide text, one element a character.
inline std::wstring Wide(const std::string& utf8) {
    std::wstring out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = utf8[i];
        int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        wchar_t c = more ? lead & (0x3F >> more) : lead;
        for (++i; more-- && i < utf8.size(); ++i) c = c << 6 | (utf8[i] & 0x3F);
        out += c;
    }
    return out;
}

}  // namespace nltest
