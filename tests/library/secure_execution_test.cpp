// A setuid-root copy of the probe, started by another user with an
// environment of that user's choosing: no variable steers it.
#include "nltest.h"

namespace {

using namespace nltest;

TEST(SecureExecutionTest, ASetuidProcessIgnoresItsCallersEnvironment) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a setuid-root copy of the probe";
    TestEnv env;
    // The caller's own registry would send root's records through a link of
    // the caller's into a file that only root may write.
    std::string secret = env.path("secret");
    WriteFile(secret, "root:x:0:0\n");
    chmod(secret.c_str(), 0600);
    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1"));
    ASSERT_TRUE(SetRegistryString(L"HomeDir", Widen(env.path("home"))));
    ASSERT_TRUE(SetRegistryString(L"DebugLogFormat", L"%m%n"));
    RunCommand("mkdir -p '" + env.path("home/Debug") + "' && ln -s '" + secret + "' '" +
               env.path("home/Debug/worker.log") + "' && chmod -R a+rX '" + env.dir() + "'");
    std::string probe = InstallProbe(env, "bin/worker");
    ASSERT_EQ(chown(probe.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(probe.c_str(), 04755), 0);

    WriteFile(env.path("commands.txt"),
              "whoami\nlog nobody:x:0:0\ntemp\ngetenv NL_DEBUG_LOG_OUTPUT_ID\ngetenv NL_DEBUG_CHANNEL\n");
    std::string output;
    RunCommand(
        "NL_DEBUG_LOG_OUTPUT_ID=7 NL_DEBUG_CHANNEL=stderr setpriv --reuid=65534 --regid=65534 "
        "--clear-groups '" +
            probe + "' < '" + env.path("commands.txt") + "'",
        &output);
    if (output.find("secure=1 euid=0") == std::string::npos)
        GTEST_SKIP() << "the setuid copy does not run setuid here (a nosuid mount?): " << output;

    EXPECT_EQ(ReadFile(secret), "root:x:0:0\n");
    // The temporary directory is the machine's, not the caller's TMPDIR, and
    // the caller's variables read as unset.
    EXPECT_NE(output.find("\n/tmp/\n\n\n"), std::string::npos) << output;
}

}  // namespace
