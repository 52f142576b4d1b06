#include "resutils/property_list.h"

#include <string.h>

#include "common/casefold.h"

namespace nlplatform::resutils {
namespace {

constexpr size_t kAlign = 4;

size_t Padded(size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

void PutDword(std::vector<BYTE>& out, DWORD value) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

void PutTextEntry(std::vector<BYTE>& out, DWORD syntax, const std::wstring& text) {
    DWORD length = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    PutDword(out, syntax);
    PutDword(out, length);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    out.insert(out.end(), bytes, bytes + length);
    out.resize(out.size() + Padded(length) - length, 0);
}

// Reads a list front to back; every read is checked against its end.
class ListReader {
  public:
    ListReader(const void* list, size_t size) : at_(static_cast<const BYTE*>(list)), left_(size) {}

    bool Dword(DWORD* value) {
        if (left_ < sizeof(DWORD)) return false;
        memcpy(value, at_, sizeof(DWORD));
        Skip(sizeof(DWORD));
        return true;
    }

    // The data of an entry whose syntax has been read: its length, then the
    // data and its padding.
    bool Data(const BYTE** data, DWORD* length) {
        if (!Dword(length) || Padded(*length) > left_) return false;
        *data = at_;
        Skip(Padded(*length));
        return true;
    }

  private:
    void Skip(size_t bytes) {
        at_ += bytes;
        left_ -= bytes;
    }
    const BYTE* at_;
    size_t left_;
};

// Text of an entry's data up to its first NUL or its end.
std::wstring TextOf(const BYTE* data, DWORD length) {
    std::wstring text(length / sizeof(wchar_t), L'\0');
    memcpy(&text[0], data, text.size() * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

bool IsStringSyntax(DWORD syntax) {
    switch (syntax & 0xFFFF) {
        case CLUSPROP_FORMAT_SZ:
        case CLUSPROP_FORMAT_EXPAND_SZ:
        case CLUSPROP_FORMAT_EXPANDED_SZ:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::vector<BYTE> BuildSzPropertyList(const PropertyValues& properties) {
    std::vector<BYTE> out;
    PutDword(out, static_cast<DWORD>(properties.size()));
    for (const auto& property : properties) {
        PutTextEntry(out, CLUSPROP_SYNTAX_NAME, property.first);
        PutTextEntry(out, CLUSPROP_SYNTAX_LIST_VALUE_SZ, property.second);
        PutDword(out, CLUSPROP_SYNTAX_ENDMARK);
    }
    return out;
}

DWORD FindSzProperty(const void* list, size_t size, const std::wstring& name, std::wstring* value) {
    if (!list) return ERROR_INVALID_DATA;
    ListReader reader(list, size);
    DWORD count = 0;
    if (!reader.Dword(&count)) return ERROR_INVALID_DATA;
    for (DWORD i = 0; i < count; ++i) {
        DWORD syntax = 0, length = 0;
        const BYTE* data = nullptr;
        if (!reader.Dword(&syntax) || syntax != CLUSPROP_SYNTAX_NAME || !reader.Data(&data, &length))
            return ERROR_INVALID_DATA;
        bool wanted = EqualIgnoringCase(TextOf(data, length), name);
        for (;;) {
            if (!reader.Dword(&syntax)) return ERROR_INVALID_DATA;
            if (syntax == CLUSPROP_SYNTAX_ENDMARK) break;
            if (!reader.Data(&data, &length)) return ERROR_INVALID_DATA;
            // The property's first value decides.
            if (wanted) {
                if (!IsStringSyntax(syntax)) return ERROR_INVALID_DATA;
                if (value) *value = TextOf(data, length);
                return ERROR_SUCCESS;
            }
        }
        if (wanted) return ERROR_INVALID_DATA;  // a property without a value
    }
    return ERROR_FILE_NOT_FOUND;
}

}  // namespace nlplatform::resutils
