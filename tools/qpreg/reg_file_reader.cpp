// The reader checks the whole file before anything is applied: it turns each
// line into import steps and stops at the first line it cannot read.
#include "reg_file.h"

#include "hex_text.h"

namespace qpreg {
namespace {

constexpr const wchar_t* kUnicodeHeader = L"Windows Registry Editor Version 5.00";
constexpr const wchar_t* kAnsiHeader = L"REGEDIT4";
// Any other first line that begins so (REGEDIT, REGEDIT5, "REGEDIT4 x") heads
// a file that regedit accepts but takes nothing from.
constexpr const wchar_t* kOtherRegeditHeader = L"REGEDIT";
// The registry's limits on a value name and on the name of one key.
constexpr size_t kMaxValueNameLength = 16383;
constexpr size_t kMaxKeyNameLength = 255;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring DecodeText(const Bytes& content) {
    if (content.size() >= 2 && content[0] == 0xFF && content[1] == 0xFE)
        return WideFromUtf16Le(content.data() + 2, content.size() - 2);
    size_t start =
        content.size() >= 3 && content[0] == 0xEF && content[1] == 0xBB && content[2] == 0xBF ? 3 : 0;
    return WideFromUtf8(std::string(content.begin() + start, content.end()));
}

// Lines end with CRLF, LF or CR.
std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

bool HasOverlongKeyName(const std::wstring& path) {
    size_t start = 0;
    for (;;) {
        size_t end = path.find(L'\\', start);
        if ((end == std::wstring::npos ? path.size() : end) - start > kMaxKeyNameLength) return true;
        if (end == std::wstring::npos) return false;
        start = end + 1;
    }
}

std::wstring Trimmed(const std::wstring& text) {
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) ++first;
    size_t last = text.size();
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// A read position in one line.
class Cursor {
  public:
    explicit Cursor(const std::wstring& text) : text_(text) {}
    void reset(const std::wstring& text) {
        text_ = text;
        pos_ = 0;
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    wchar_t peek() const { return atEnd() ? L'\0' : text_[pos_]; }
    wchar_t next() { return text_[pos_++]; }
    void skipBlanks() {
        while (!atEnd() && IsBlank(text_[pos_])) ++pos_;
    }
    bool consume(wchar_t c) {
        if (peek() != c) return false;
        ++pos_;
        return true;
    }
    // Case-insensitive, as the data prefixes are.
    bool consumeWord(const std::wstring& word) {
        if (text_.size() - pos_ < word.size() ||
            _wcsnicmp(text_.c_str() + pos_, word.c_str(), word.size()) != 0)
            return false;
        pos_ += word.size();
        return true;
    }
    // Nothing but blanks and a ; comment up to the end of the line.
    bool restIsEmpty() {
        skipBlanks();
        return atEnd() || peek() == L';';
    }
    // A backslash with only blanks, or a ; comment, after it: the data goes
    // on next line.
    bool atContinuation() const {
        if (peek() != L'\\') return false;
        for (size_t i = pos_ + 1; i < text_.size(); ++i) {
            if (text_[i] == L';') return true;
            if (!IsBlank(text_[i])) return false;
        }
        return true;
    }

  private:
    std::wstring text_;
    size_t pos_ = 0;
};

class Parser {
  public:
    Parser(std::vector<std::wstring> lines, std::vector<ImportStep>* steps, ParseFault* fault)
        : lines_(std::move(lines)), steps_(steps), fault_(fault) {}

    bool parse() {
        if (!parseHeader()) return false;
        if (!readsBody_) return true;
        for (index_ = 1; index_ < lines_.size(); ++index_)
            if (!parseLine()) return false;
        return true;
    }

  private:
    int lineNumber() const { return static_cast<int>(index_) + 1; }

    bool fail(const std::wstring& reason) {
        *fault_ = {lineNumber(), reason};
        return false;
    }

    void addStep(ImportStep::Action action, int line, const RegistryValue& value = {}) {
        steps_->push_back({action, line, key_, value});
    }

    bool parseHeader() {
        index_ = 0;
        std::wstring header = lines_.empty() ? std::wstring() : Trimmed(lines_[0]);
        if (header == kUnicodeHeader) return true;
        if (header == kAnsiHeader) {
            ansi_ = true;
            return true;
        }
        if (header.rfind(kOtherRegeditHeader, 0) == 0) {
            readsBody_ = false;
            return true;
        }
        return fail(L"the file must begin with \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
    }

    bool parseLine() {
        std::wstring line = Trimmed(lines_[index_]);
        if (line.empty() || line[0] == L';' || line[0] == L'#') return true;
        if (line[0] == L'[') return parseKeyLine(line);
        if (line[0] == L'"' || line[0] == L'@') return parseValueLine(line);
        return fail(L"expected [KEY], a \"name\"=data line or a ; comment");
    }

    bool parseKeyLine(const std::wstring& line) {
        if (line.back() != L']') return fail(L"a key line must end with ]");
        std::wstring name = line.substr(1, line.size() - 2);
        bool deletion = !name.empty() && name[0] == L'-';
        if (deletion) name.erase(0, 1);
        if (name.find(L'\0') != std::wstring::npos) return fail(L"a key name cannot hold a NUL character");
        if (HasOverlongKeyName(name))
            return fail(L"a key name is longer than the registry's limit of " +
                        std::to_wstring(kMaxKeyNameLength) + L" characters");
        if (!KeyPath::Parse(name, false, &key_))
            return fail(L"\"" + name + L"\" is not a key name under HKEY_LOCAL_MACHINE");
        if (deletion && key_.isRoot()) return fail(L"HKEY_LOCAL_MACHINE itself cannot be deleted");
        // A key the registry could not read back is never created; one left
        // by a damaged file may still be deleted.
        if (!deletion && key_.depth() > kMaxKeyDepth)
            return fail(L"the key lies " + std::to_wstring(key_.depth()) +
                        L" levels below HKEY_LOCAL_MACHINE, deeper than the registry's limit of " +
                        std::to_wstring(kMaxKeyDepth));
        inKeyBlock_ = !deletion;
        addStep(deletion ? ImportStep::Action::kDeleteKey : ImportStep::Action::kCreateKey, lineNumber());
        return true;
    }

    bool parseValueLine(const std::wstring& line) {
        if (!inKeyBlock_) return fail(L"a value line must follow the [KEY] line it belongs to");
        // Hex data may go on over the next lines; the step keeps the first.
        int firstLine = lineNumber();
        Cursor cursor(line);
        RegistryValue value;
        if (!cursor.consume(L'@') && !parseQuoted(cursor, &value.name)) return false;
        if (value.name.find(L'\0') != std::wstring::npos)
            return fail(L"a value name cannot hold a NUL character");
        if (value.name.size() > kMaxValueNameLength)
            return fail(L"the value name is longer than the registry's limit of " +
                        std::to_wstring(kMaxValueNameLength) + L" characters");
        cursor.skipBlanks();
        if (!cursor.consume(L'=')) return fail(L"expected = after the value name");
        cursor.skipBlanks();
        if (cursor.consume(L'-')) {
            if (!cursor.restIsEmpty()) return fail(L"unexpected text after =-");
            addStep(ImportStep::Action::kDeleteValue, firstLine, value);
            return true;
        }
        if (!parseData(cursor, &value)) return false;
        addStep(ImportStep::Action::kSetValue, firstLine, value);
        return true;
    }

    bool parseData(Cursor& cursor, RegistryValue* value) {
        if (cursor.peek() == L'"') {
            std::wstring text;
            if (!parseQuoted(cursor, &text)) return false;
            if (!cursor.restIsEmpty()) return fail(L"unexpected text after the closing quote");
            value->type = REG_SZ;
            value->data = StringData(text);
            return true;
        }
        if (cursor.consumeWord(L"dword:")) return parseDword(cursor, value);
        if (cursor.consumeWord(L"hex:")) {
            value->type = REG_BINARY;
            return parseHexList(cursor, &value->data);
        }
        if (cursor.consumeWord(L"hex(")) return parseTypedHex(cursor, value);
        return fail(L"expected \"string\", dword:, hex: or hex(TYPE): data, or - to delete the value");
    }

    // Up to eight hex digits; stops at the first other character.
    bool parseHexNumber(Cursor& cursor, DWORD* number) {
        int digits = 0;
        *number = 0;
        while (HexDigitValue(cursor.peek()) >= 0) {
            if (++digits > 8) return false;
            *number = *number << 4 | static_cast<DWORD>(HexDigitValue(cursor.next()));
        }
        return digits > 0;
    }

    bool parseDword(Cursor& cursor, RegistryValue* value) {
        DWORD number = 0;
        if (!parseHexNumber(cursor, &number) || !cursor.restIsEmpty())
            return fail(L"dword: must be followed by one to eight hexadecimal digits");
        value->type = REG_DWORD;
        value->data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                       static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return true;
    }

    bool parseTypedHex(Cursor& cursor, RegistryValue* value) {
        if (!parseHexNumber(cursor, &value->type) || !cursor.consume(L')') || !cursor.consume(L':'))
            return fail(L"hex( must be followed by a hexadecimal type number and ):");
        if (!parseHexList(cursor, &value->data)) return false;
        convertStringBytes(value);
        return true;
    }

    // String data in hex form is UTF-16LE in a Unicode file and ANSI (here
    // UTF-8) in a REGEDIT4 file; the registry keeps it as UTF-16LE, an odd
    // size included.
    void convertStringBytes(RegistryValue* value) {
        if (IsStringType(value->type) && ansi_)
            value->data = Utf16LeFromWide(WideFromUtf8(std::string(value->data.begin(), value->data.end())));
    }

    // Comma-separated hex bytes; a backslash at the end of a line continues
    // the list on the next line.
    bool parseHexList(Cursor& cursor, Bytes* data) {
        bool expectByte = true;
        for (;;) {
            cursor.skipBlanks();
            // A comma may end the data, as regedit's own files have it.
            if (cursor.atEnd() || cursor.peek() == L';') return true;
            if (cursor.atContinuation()) {
                if (!expectByte) return fail(L"expected a comma before the line continuation");
                if (!nextDataLine()) return fail(L"the file ends where the hex data should go on");
                cursor.reset(lines_[index_]);
                continue;
            }
            if (!expectByte) return fail(L"expected a comma between hex bytes");
            int high = HexDigitValue(cursor.peek());
            if (high < 0) return fail(L"expected a hex byte (two hexadecimal digits)");
            cursor.next();
            int byte = high;
            if (HexDigitValue(cursor.peek()) >= 0) byte = high << 4 | HexDigitValue(cursor.next());
            data->push_back(static_cast<uint8_t>(byte));
            cursor.skipBlanks();
            expectByte = cursor.consume(L',');
        }
    }

    // Moves to the line where continued hex data goes on, past blank lines
    // and comments.
    bool nextDataLine() {
        while (++index_ < lines_.size()) {
            std::wstring line = Trimmed(lines_[index_]);
            if (!line.empty() && line[0] != L';') return true;
        }
        --index_;
        return false;
    }

    // A quoted name or string: \\ and \" stand for \ and ", \n and \r for
    // line breaks.
    bool parseQuoted(Cursor& cursor, std::wstring* text) {
        if (!cursor.consume(L'"')) return fail(L"expected a quoted name");
        for (;;) {
            if (cursor.atEnd()) return fail(L"missing closing quote");
            wchar_t c = cursor.next();
            if (c == L'"') return true;
            if (c != L'\\') {
                *text += c;
                continue;
            }
            if (cursor.atEnd()) return fail(L"missing closing quote");
            wchar_t escaped = cursor.next();
            switch (escaped) {
                case L'\\':
                case L'"':
                    *text += escaped;
                    break;
                case L'n':
                    *text += L'\n';
                    break;
                case L'r':
                    *text += L'\r';
                    break;
                default:
                    return fail(std::wstring(L"unknown escape \\") + escaped +
                                L" in quotes (write \\\\ for a backslash)");
            }
        }
    }

    std::vector<std::wstring> lines_;
    std::vector<ImportStep>* steps_;
    ParseFault* fault_;
    size_t index_ = 0;
    bool ansi_ = false;
    bool readsBody_ = true;
    bool inKeyBlock_ = false;
    KeyPath key_;
};

}  // namespace

bool ReadRegFile(const Bytes& content, std::vector<ImportStep>* steps, ParseFault* fault) {
    return Parser(SplitLines(DecodeText(content)), steps, fault).parse();
}

}  // namespace qpreg
