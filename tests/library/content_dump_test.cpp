// DebugContentToFile: the file is replaced by the content, byte for byte, by
// the log file's rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utilDebug.h>

#include <string>

#include "test_env.h"

namespace {

using nltest::ReadFile;
using nltest::Widen;

class ContentDumpTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return env_.path(name); }
    nltest::TestEnv env_;
};

TEST_F(ContentDumpTest, EachOverloadReplacesTheFile) {
    std::string path = Path("dump.txt");
    unsigned char bytes[] = {'b', '\n', 'c'};
    struct Case {
        const char* what;
        void (*dump)(const std::string& path, unsigned char* bytes);
        std::string expected;
    };
    const Case cases[] = {
        {"narrow text",
         [](const std::string& p, unsigned char*) { DebugContentToFile(p, std::string("a\nb")); }, "a\nb"},
        {"narrow bytes", [](const std::string& p, unsigned char* b) { DebugContentToFile(p, b, 3); }, "b\nc"},
        {"wide text",
         [](const std::string& p, unsigned char*) { DebugContentToFile(Widen(p), std::wstring(L"w\nx")); },
         "w\nx"},
        {"wide path, bytes",
         [](const std::string& p, unsigned char* b) { DebugContentToFile(Widen(p), b, 2); }, "b\n"},
    };
    for (const Case& c : cases) {
        // Longer than any content: a leftover tail would show.
        nltest::WriteFile(path, "previous content, longer than the new one");
        c.dump(path, bytes);
        // No line feed becomes CR LF.
        EXPECT_EQ(ReadFile(path), c.expected) << c.what;
    }
}

TEST_F(ContentDumpTest, EmptyContentEmptiesOrCreatesTheFile) {
    nltest::WriteFile(Path("a"), "old");
    DebugContentToFile(Path("a"), std::string());
    EXPECT_TRUE(nltest::FileExists(Path("a")));
    EXPECT_EQ(ReadFile(Path("a")), "");
    DebugContentToFile(Widen(Path("b")), nullptr, 0);
    EXPECT_TRUE(nltest::FileExists(Path("b")));
    EXPECT_EQ(ReadFile(Path("b")), "");
    DebugContentToFile(Widen(Path("c")), std::wstring());
    EXPECT_TRUE(nltest::FileExists(Path("c")));
}

TEST_F(ContentDumpTest, TextEndsAtItsFirstNulButBytesAreWrittenWhole) {
    DebugContentToFile(Path("narrow"), std::string("ab\0cd", 5));
    EXPECT_EQ(ReadFile(Path("narrow")), "ab");
    DebugContentToFile(Widen(Path("wide")), std::wstring(L"xy\0z", 4));
    EXPECT_EQ(ReadFile(Path("wide")), "xy");
    unsigned char bytes[] = {0, 'a', 0, 0xff, '\r', '\n', 0};
    DebugContentToFile(Path("bytes"), bytes, sizeof bytes);
    EXPECT_EQ(ReadFile(Path("bytes")), std::string(reinterpret_cast<char*>(bytes), sizeof bytes));
    DebugContentToFile(Widen(Path("wide-bytes")), bytes, sizeof bytes);
    EXPECT_EQ(ReadFile(Path("wide-bytes")), std::string(reinterpret_cast<char*>(bytes), sizeof bytes));
}

// Every character, not only those a single-byte locale knows.
TEST_F(ContentDumpTest, WideTextIsWrittenAsUtf8) {
    DebugContentToFile(Widen(Path("utf8")), std::wstring(L"caf\u00e9 \u0416 \u20ac \U0001F600 end"));
    EXPECT_EQ(ReadFile(Path("utf8")), "caf\xc3\xa9 \xd0\x96 \xe2\x82\xac \xf0\x9f\x98\x80 end");
}

TEST_F(ContentDumpTest, AMissingFolderIsNotCreatedAndNothingIsReported) {
    DebugContentToFile(Path("missing/a.txt"), std::string("x"));
    unsigned char byte = 'x';
    DebugContentToFile(Widen(Path("missing/b.txt")), &byte, 1);
    DebugContentToFile(Widen(Path("missing/c.txt")), std::wstring(L"x"));
    EXPECT_FALSE(nltest::FileExists(Path("missing")));
    DebugContentToFile(std::string(), std::string("x"));
    DebugContentToFile(std::wstring(), std::wstring(L"x"));
}

// A wide path names the file by its UTF-8 bytes, in both wide-path overloads.
TEST_F(ContentDumpTest, AWidePathIsUtf8OnDisk) {
    std::wstring widePath = Widen(Path("")) + L"d\u00fcmp-\u20ac.txt";
    std::string diskPath = Path("d\xc3\xbcmp-\xe2\x82\xac.txt");
    DebugContentToFile(widePath, std::wstring(L"text"));
    EXPECT_EQ(ReadFile(diskPath), "text");
    unsigned char bytes[] = {'b', 'y'};
    DebugContentToFile(widePath, bytes, 2);
    EXPECT_EQ(ReadFile(diskPath), "by");
}

// What another user plants in a world-writable folder is left alone: a link
// is not followed, another user's file is not emptied, a pipe is not waited
// for; a new file gets 0644 whatever the umask.
TEST_F(ContentDumpTest, InAWorldWritableFolderOnlyTheCallersOwnRegularFileIsReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant files as another user";
    std::string shared = Path("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    std::string secret = Path("secret");
    const std::string plantedAs[] = {"ln -s '" + secret + "' ", "echo planted > ", "mkfifo "};
    for (const std::string& plant : plantedAs) {
        std::string path = shared + "/dump.txt";
        nltest::WriteFile(secret, "root's own\n");
        std::remove(path.c_str());
        ASSERT_EQ(nltest::RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c \"" + plant + "'" +
                                     path + "'\""),
                  0)
            << plant;
        struct stat before;
        ASSERT_EQ(lstat(path.c_str(), &before), 0);
        DebugContentToFile(path, std::string("dump"));
        DebugContentToFile(nltest::Widen(path), std::wstring(L"dump"));
        unsigned char bytes[] = {'d'};
        DebugContentToFile(path, bytes, 1);
        DebugContentToFile(nltest::Widen(path), bytes, 1);
        EXPECT_EQ(ReadFile(secret), "root's own\n") << plant;
        struct stat after;
        ASSERT_EQ(lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_uid, 65534u) << plant;
        EXPECT_EQ(after.st_size, before.st_size) << plant;
    }
    std::remove((shared + "/dump.txt").c_str());
    mode_t previous = umask(0);
    DebugContentToFile(shared + "/own.txt", std::string("dump"));
    umask(previous);
    struct stat own;
    ASSERT_EQ(stat((shared + "/own.txt").c_str(), &own), 0);
    EXPECT_EQ(own.st_mode & 07777, 0644u);
    EXPECT_EQ(ReadFile(shared + "/own.txt"), "dump");
}

}  // namespace
