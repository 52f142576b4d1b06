// The profile stand-ins against a table of files: encodings, line ends,
// comments, blanks, bare lines, duplicates, and the cut of results that do
// not fit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"

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

    // The names list and the result, for a buffer of size characters.
    std::string Names(DWORD size = 4096, DWORD* result = nullptr) const {
        std::vector<wchar_t> buffer(size + 1, L'~');
        DWORD r = GetPrivateProfileSectionNamesW(buffer.data(), size, path().c_str());
        if (result) *result = r;
        return Shown(buffer.data(), ListEnd(buffer, r, size));
    }
    std::string Section(const wchar_t* name, DWORD size = 4096, DWORD* result = nullptr) const {
        std::vector<wchar_t> buffer(size + 1, L'~');
        DWORD r = GetPrivateProfileSectionW(name, buffer.data(), size, path().c_str());
        if (result) *result = r;
        return Shown(buffer.data(), ListEnd(buffer, r, size));
    }

  private:
    // What the call wrote: up to the untouched filler, or the whole buffer
    // and the element behind it, which must stay untouched.
    static size_t ListEnd(const std::vector<wchar_t>& buffer, DWORD, DWORD size) {
        size_t end = 0;
        while (end < size + 1 && buffer[end] != L'~') ++end;
        return end == size ? size + 1 : end;
    }
    nltest::TestEnv env_;
    std::string path_;
};

std::string Utf16LeWithMark(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

struct FileCase {
    const char* label;
    std::string bytes;
    const char* names;  // the names list as Shown
    const wchar_t* section;
    const char* lines;  // that section's lines as Shown
};

TEST(ProfileFiles, EncodingsLineEndsAndLineRules) {
    const FileCase cases[] = {
        {"CRLF", "[Sec1]\r\nk1=v1\r\nk2 = v2 \r\n\r\n[Sec2]\r\nk3=v3\r\n", "Sec1|Sec2||", L"Sec1",
         "k1=v1|k2=v2||"},
        {"LF", "[Sec1]\nk1=v1\n[Sec2]\nk3=v3\n", "Sec1|Sec2||", L"sec2", "k3=v3||"},
        {"CR only, no final line end", "[A]\ra=1\r[B]\rb=2", "A|B||", L"b", "b=2||"},
        {"UTF-8 with mark", "\xEF\xBB\xBF[A]\r\na=1\r\n", "A||", L"A", "a=1||"},
        {"UTF-8 without mark",
         "[Gr\xC3\xB6\xC3\x9F"
         "e]\nk=\xE2\x82\xAC\n",
         "Gr<246><223>e||", L"GR\u00d6\u00dfE", "k=<8364>||"},
        {"UTF-16LE with mark", Utf16LeWithMark(u"[\u03a9]\r\n\u03b1=\u03b2\r\n[B]\r\nb=2\r\n"), "<937>|B||",
         L"\u03c9", "<945>=<946>||"},
        {"comments and bare lines", ";lead\n[S]\n;c=1\nk=v\n#hash=1\n  ;indented\nlonely\n=novalue\nkey=\n",
         "S||", L"S", "k=v|#hash=1|lonely|=novalue|key=||"},
        {"blanks around names and in brackets", "  [  Spaced Sec  ]  \n\tt\t=\tv\t\n[ X ]trailing\nq=r\n",
         "Spaced Sec|X||", L"spaced sec", "t=v||"},
        {"duplicates: listed twice, the first read", "[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n", "A|B|a||", L"A",
         "x=1||"},
        {"lines before any section and empty names", "k0=v0\n[]\ne=1\n[S]\nk=v\n", "S||", L"", "k0=v0||"},
        {"broken header is a key line", "[Broken\nk=v\n[Ok]\na=b\n", "Ok||", L"Ok", "a=b||"},
        {"an empty section", "[Empty]\n[Full]\nk=v\n", "Empty|Full||", L"empty", "||"},
        {"a missing section", "[S]\nk=v\n", "S||", L"Missing", "||"},
        {"an empty file", "", "|", L"S", "||"},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.label);
        ProfileFile file(c.bytes);
        EXPECT_EQ(file.Names(), c.names);
        EXPECT_EQ(file.Section(c.section), c.lines);
    }
}

TEST(ProfileFiles, AFileThatCannotBeReadHasNoSections) {
    nltest::TestEnv env;
    std::wstring missing = nltest::Widen(env.path("missing.ini"));
    std::wstring directory = nltest::Widen(env.dir());
    // A pipe is never waited for, a device never read without end.
    ASSERT_EQ(mkfifo(env.path("fifo.ini").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/zero", env.path("zero.ini").c_str()), 0);
    const struct {
        std::wstring path;
        DWORD error;
    } cases[] = {
        {missing, ERROR_FILE_NOT_FOUND},
        {directory, ERROR_ACCESS_DENIED},
        {nltest::Widen(env.path("fifo.ini")), ERROR_CANT_ACCESS_FILE},
        {nltest::Widen(env.path("zero.ini")), ERROR_CANT_ACCESS_FILE},
        {L"relative.ini", ERROR_FILE_NOT_FOUND},  // no Windows directory to look in
    };
    for (const auto& c : cases) {
        wchar_t buffer[8];
        wmemset(buffer, L'~', 8);
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 8, c.path.c_str()), 0u);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(Shown(buffer, 2), "|~");
        wmemset(buffer, L'~', 8);
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(GetPrivateProfileSectionW(L"S", buffer, 8, c.path.c_str()), 0u);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(Shown(buffer, 3), "||~");
    }
    // A file that is read clears the last error, even for an empty result.
    nltest::WriteFile(env.path("empty.ini"), "[S]\n");
    SetLastError(0xDEADBEEF);
    wchar_t empty[4];
    EXPECT_EQ(GetPrivateProfileSectionW(L"S", empty, 4, nltest::Widen(env.path("empty.ini")).c_str()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    wchar_t buffer[8];
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileSectionW(nullptr, buffer, 8, missing.c_str()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The parse of the last file is kept, and dropped as soon as the file
// changes, even to the same size within the same second.
TEST(ProfileFiles, AChangedFileIsReadAgain) {
    nltest::TestEnv env;
    std::string path = env.path("changing.ini");
    std::wstring widePath = nltest::Widen(path);
    nltest::WriteFile(path, "[one]\nx.so\n");
    // Written long ago, and last changed (by utimensat) before the reading,
    // so that the parse may be kept.
    struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    wchar_t buffer[64];
    for (const char* next : {"[two]\ny.so\n", "[666]\nz.so\n"}) {
        GetPrivateProfileSectionNamesW(buffer, 64, widePath.c_str());
        std::string before = Shown(buffer, 5);
        std::ofstream(path, std::ios::in | std::ios::out) << next;
        EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 64, widePath.c_str()), 4u);
        EXPECT_EQ(Shown(buffer, 4), std::string(next, 1, 3) + "|") << "after " << before;
        GetPrivateProfileSectionW(std::wstring(next + 1, next + 4).c_str(), buffer, 64, widePath.c_str());
        EXPECT_EQ(Shown(buffer, 5), std::string(next + 6, next + 10) + "|");
    }
}

struct CutCase {
    DWORD size;
    DWORD result;
    const char* written;  // up to and including the element behind the buffer
};

// Names "section1|section2|section3||": 27 characters and the last NUL.
TEST(ProfileFiles, SectionNamesThatDoNotFitAreCutAndDoublyTerminated) {
    ProfileFile file("[section1]\n[section2]\n[section3]\n");
    const CutCase cases[] = {
        {29, 27, "section1|section2|section3||"},
        {28, 26, "section1|section2|section3||~"},  // an exact fit counts as too small
        {27, 25, "section1|section2|section||~"},
        {10, 8, "section1||~"},
        {9, 7, "section||~"},
        {3, 1, "s||~"},
        {2, 0, "||~"},
        {1, 0, "|~"},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.size);
        DWORD result = 0;
        EXPECT_EQ(file.Names(c.size, &result), c.written);
        EXPECT_EQ(result, c.result);
    }
}

// Lines "name1=val1|name2=|name3|name4=val4||": 35 characters and the last NUL.
TEST(ProfileFiles, SectionLinesThatDoNotFitAreCutAndDoublyTerminated) {
    ProfileFile file("[S]\nname1=val1\nname2=\nname3\nname4=val4\n");
    const CutCase cases[] = {
        {37, 35, "name1=val1|name2=|name3|name4=val4||"},
        {36, 34, "name1=val1|name2=|name3|name4=val4||~"},  // an exact fit counts as too small
        {24, 22, "name1=val1|name2=|name||~"},
        {13, 11, "name1=val1||"},  // no room left for a further line
        {8, 6, "name1=||~"},
        {3, 1, "n||~"},
        {2, 0, "||~"},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.size);
        DWORD result = 0;
        EXPECT_EQ(file.Section(L"S", c.size, &result), c.written);
        EXPECT_EQ(result, c.result);
    }
}

}  // namespace
