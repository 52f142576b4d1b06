// The main of the test binaries whose cases each need a process of their own:
// the library sets itself up once per process, at its first call, and a case
// that checks that set-up cannot share a process with another. Under ctest
// every case already runs alone. Run directly, such a binary runs each case it
// selects as a child process of its own: itself, with --gtest_filter naming
// that one case; their output follows one another and a summary ends it.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// gtest's filter: glob patterns separated by ':', those after a '-' excluded.
bool Glob(const char* p, const char* s) {
    if (*p == '*') return Glob(p + 1, s) || (*s && Glob(p, s + 1));
    return *p ? *s && (*p == '?' || *p == *s) && Glob(p + 1, s + 1) : !*s;
}

bool AnyGlob(const std::string& patterns, const std::string& name) {
    std::istringstream list(patterns);
    for (std::string pattern; std::getline(list, pattern, ':');)
        if (Glob(pattern.c_str(), name.c_str())) return true;
    return false;
}

bool Selected(const std::string& suite, const std::string& test) {
    const std::string filter = GTEST_FLAG_GET(filter), name = suite + "." + test;
    const size_t dash = filter.find('-');
    if (!GTEST_FLAG_GET(also_run_disabled_tests) &&
        (suite.rfind("DISABLED_", 0) == 0 || test.rfind("DISABLED_", 0) == 0))
        return false;
    return (dash == 0 || AnyGlob(filter.substr(0, dash), name)) &&
           (dash == std::string::npos || !AnyGlob(filter.substr(dash + 1), name));
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::vector<std::string> cases;
    const testing::UnitTest& all = *testing::UnitTest::GetInstance();
    for (int s = 0; s < all.total_test_suite_count(); ++s)
        for (int t = 0; t < all.GetTestSuite(s)->total_test_count(); ++t) {
            const testing::TestInfo& info = *all.GetTestSuite(s)->GetTestInfo(t);
            if (Selected(info.test_suite_name(), info.name()))
                cases.push_back(std::string(info.test_suite_name()) + "." + info.name());
        }
    if (getenv("NLTEST_CASE_PROCESS") || GTEST_FLAG_GET(list_tests) || cases.size() <= 1)
        return RUN_ALL_TESTS();
    setenv("NLTEST_CASE_PROCESS", "1", 1);
    std::vector<std::string> failed;
    for (const std::string& name : cases) {
        fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            std::string filter = "--gtest_filter=" + name;
            execl("/proc/self/exe", argv[0], filter.c_str(), "--gtest_also_run_disabled_tests", nullptr);
            _exit(127);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            failed.push_back(name);
    }
    printf("\n[==========] %zu cases, each in a process of its own: %zu passed, %zu failed.\n", cases.size(),
           cases.size() - failed.size(), failed.size());
    for (const std::string& name : failed) printf("[  FAILED  ] %s\n", name.c_str());
    return failed.empty() ? 0 : 1;
}
