// The profile stand-ins against a table of files: encodings, line ends,
// comments, blanks, bare lines, duplicates, and the cut of results that do
// not fit.
#include "nltest.h"

namespace {

// A list as readable text: every NUL written shows as '|'.
std::string Shown(const wchar_t* buffer, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        wchar_t c = buffer[i];
        if (c == L'\0')
            out += '|';
        else if (c < 0x80)
            out += static_cast<char>(c);
        else
            out += "<" + std::to_string(static_cast<unsigned>(c)) + ">";
    }
    return out;
}

class ProfileFile {
  public:
    explicit ProfileFile(const std::string& bytes) : path_(env_.path("profile.ini")) {
        nltest::WriteFile(path_, bytes);
    }
    std::wstring path() const { return nltest::Widen(path_); }

    // The names list (no section), or the section's, and the result, for a
    // buffer of size characters: what the call wrote, up to the untouched
    // filler, or the whole buffer and the element behind it, which must stay
    // untouched.
    std::string List(const wchar_t* section, DWORD size = 4096, DWORD* result = nullptr) const {
        std::vector<wchar_t> buffer(size + 1, L'~');
        DWORD r = section ? GetPrivateProfileSectionW(section, buffer.data(), size, path().c_str())
                          : GetPrivateProfileSectionNamesW(buffer.data(), size, path().c_str());
        if (result) *result = r;
        size_t end = 0;
        while (end < size + 1 && buffer[end] != L'~') ++end;
        return Shown(buffer.data(), end == size ? size + 1 : end);
    }

  private:
    nltest::TestEnv env_;
    std::string path_;
};

std::string Utf16LeWithMark(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t unit : text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

// Each row of data/profile/files.txt (its header gives the fields): encodings,
// line ends, comments, blanks, bare lines, duplicates, and the cut of results
// that do not fit.
TEST(ProfileFiles, ReadAsTheTableSays) {
    for (const nltest::Row& row : nltest::ReadRows("profile/files.txt")) {
        SCOPED_TRACE(row[1]);
        const bool utf16 = row[1].rfind("utf16:", 0) == 0;
        ProfileFile file(utf16 ? Utf16LeWithMark(nltest::Wide(row[1].substr(6))) : row[1]);
        const std::wstring section = nltest::Wide(row[2]);
        if (row[0] == "file") {
            EXPECT_EQ(file.List(nullptr), row[3]);
            EXPECT_EQ(file.List(section.c_str()), row[4]);
            continue;
        }
        DWORD size = std::stoul(row[3]), result = 0;
        EXPECT_EQ(file.List(row[0] == "names" ? nullptr : section.c_str(), size, &result), row[5]);
        EXPECT_EQ(result, std::stoul(row[4]));
    }
}

}  // namespace
