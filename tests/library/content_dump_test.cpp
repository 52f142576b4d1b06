// DebugContentToFile: the file is replaced by the content, byte for byte, by
// the log file's rules.
#include "nltest.h"

namespace {

using namespace nltest;

// Each overload over a file that held longer content (a leftover tail would
// show): text ends at its first NUL, bytes are written whole, wide text as
// UTF-8, a wide path by its UTF-8 bytes; no line feed becomes CR LF.
TEST(ContentDump, EachOverloadReplacesTheFile) {
    TestEnv env;
    static unsigned char bytes[] = {0, 'a', '\n', 0xff, '\r', '\n', 0};
    const std::string all(reinterpret_cast<char*>(bytes), sizeof bytes);
    const std::wstring wideName = L"d\u00fcmp-\u20ac.txt";
    const std::string diskName = "d\xc3\xbcmp-\xe2\x82\xac.txt";
    const struct {
        std::function<void(const std::string&)> dump;
        std::string expected;
    } cases[] = {
        {[](const std::string& p) { DebugContentToFile(p, std::string("a\nb\0cd", 6)); }, "a\nb"},
        {[](const std::string& p) { DebugContentToFile(p, bytes, sizeof bytes); }, all},
        {[](const std::string& p) { DebugContentToFile(Widen(p), bytes, sizeof bytes); }, all},
        {[](const std::string& p) { DebugContentToFile(Widen(p), std::wstring(L"w\nx\0z", 5)); }, "w\nx"},
        {[](const std::string& p) { DebugContentToFile(Widen(p), std::wstring(L"caf\u00e9 \U0001F600")); },
         "caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {[](const std::string& p) { DebugContentToFile(p, std::string()); }, ""},
        {[](const std::string& p) { DebugContentToFile(Widen(p), nullptr, 0); }, ""},
        {[&](const std::string&) {
             DebugContentToFile(Widen(env.dir() + "/") + wideName, std::wstring(L"t"));
         },
         "t"},
        {[&](const std::string&) { DebugContentToFile(Widen(env.dir() + "/") + wideName, bytes + 1, 1); },
         "a"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string path = env.path(i >= 7 ? diskName : "dump" + std::to_string(i));
        WriteFile(path, "previous content, longer than the new one");
        cases[i].dump(path);
        EXPECT_EQ(ReadFile(path), cases[i].expected) << i;
    }
    // An empty content creates the file; a missing folder is not created.
    DebugContentToFile(Widen(env.path("new")), std::wstring());
    EXPECT_TRUE(FileExists(env.path("new")));
    DebugContentToFile(env.path("missing/a.txt"), std::string("x"));
    DebugContentToFile(Widen(env.path("missing/b.txt")), bytes, 1);
    DebugContentToFile(Widen(env.path("missing/c.txt")), std::wstring(L"x"));
    EXPECT_FALSE(FileExists(env.path("missing")));
    DebugContentToFile(std::string(), std::string("x"));
    DebugContentToFile(std::wstring(), std::wstring(L"x"));
}

// What another user plants in a world-writable folder is left alone: a link
// is not followed, another user's file is not emptied, a pipe is not waited
// for; a new file gets 0644 whatever the umask.
TEST(ContentDump, InAWorldWritableFolderOnlyTheCallersOwnRegularFileIsReplaced) {
    TestEnv env;
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant files as another user";
    std::string shared = env.path("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    std::string secret = env.path("secret");
    const std::string plantedAs[] = {"ln -s '" + secret + "' ", "echo planted > ", "mkfifo "};
    for (const std::string& plant : plantedAs) {
        std::string path = shared + "/dump.txt";
        WriteFile(secret, "root's own\n");
        std::remove(path.c_str());
        ASSERT_EQ(RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c \"" + plant + "'" +
                             path + "'\""),
                  0)
            << plant;
        struct stat before;
        ASSERT_EQ(lstat(path.c_str(), &before), 0);
        DebugContentToFile(path, std::string("dump"));
        DebugContentToFile(Widen(path), std::wstring(L"dump"));
        unsigned char bytes[] = {'d'};
        DebugContentToFile(path, bytes, 1);
        DebugContentToFile(Widen(path), bytes, 1);
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
