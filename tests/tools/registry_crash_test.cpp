// A writer killed in the middle of a change (qpreg import, SIGKILL) leaves
// the registry as it was for every reader, one that may not write the
// database included: never empty, never half changed.
#include "nltest.h"

namespace {

const char kKey[] = "HKLM\\SOFTWARE\\Norlake\\Quillpost\\CurrentVersion";

// A .reg file that deletes the product's tree and writes it anew, far larger
// than SQLite's page cache, so that an import killed midway has changed the
// database file itself.
std::string LargeImport() {
    std::string text = "Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake]\n";
    for (int key = 0; key < 200; ++key) {
        text += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake\\Bulk\\K" + std::to_string(key) + "]\n";
        for (int value = 0; value < 100; ++value)
            text += "\"V" + std::to_string(value) + "\"=\"" + std::string(200, 'x') + "\"\n";
    }
    return text +
           "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake\\Quillpost\\CurrentVersion]\n\"DebugModule\"=\"new\"\n";
}

// The DebugModule value as a process of the given user reads it, and the
// exit status.
std::string ReadDebugModule(const std::string& asUser) {
    std::string output;
    nltest::RunCommand(asUser + " '" QPREG_PATH "' query '" + kKey + "' /v DebugModule 2>&1; echo $?",
                       &output);
    return output;
}

// A rollback journal that still describes a change: SQLite zeroes the header
// of one it is done with.
bool HasLiveJournal(const std::string& database) {
    std::string journal = nltest::ReadFile(database + "-journal").substr(0, 8);
    return journal == std::string("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8);
}

TEST(RegistryCrashTest, AReaderThatMayNotWriteSeesTheRegistryAsBeforeAKilledImport) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to read as a user who may not write the database";
    nltest::TestEnv env;
    ASSERT_TRUE(nltest::SetRegistryString(L"DebugModule", L"before"));  // in kKey
    nltest::WriteFile(env.path("bulk.reg"), LargeImport());
    int killedMidway = 0;
    const int attempts = 8;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        pid_t writer = fork();
        if (writer == 0) {
            execl(QPREG_PATH, QPREG_PATH, "import", env.path("bulk.reg").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // The kill falls at a different point of the change each time: once
        // the writer has begun it, a few milliseconds more each attempt.
        int status = 0;
        bool ended = false;
        while (!ended && !HasLiveJournal(env.registryFile())) {
            ended = waitpid(writer, &status, WNOHANG) == writer;
            usleep(100);
        }
        if (!ended) {
            usleep(static_cast<useconds_t>(attempt) * 3000);
            kill(writer, SIGKILL);
            waitpid(writer, &status, 0);
        }
        if (!HasLiveJournal(env.registryFile())) continue;
        ++killedMidway;
        // The registry before the import, or after it when the kill came
        // after its commit; never without the value.
        std::string seen = ReadDebugModule("setpriv --reuid=65534 --regid=65534 --clear-groups");
        EXPECT_TRUE(seen.find("REG_SZ    before\n") != std::string::npos ||
                    seen.find("REG_SZ    new\n") != std::string::npos)
            << "attempt " << attempt << ": " << seen;
        // A reader that may write rolls the change back for good.
        EXPECT_EQ(ReadDebugModule(""), seen);
    }
    std::printf("imports killed with a journal left: %d of %d\n", killedMidway, attempts);
    EXPECT_GT(killedMidway, 0) << "no import was killed in the middle: the import ran too fast or too slow";
}

}  // namespace
