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

#include <string>
#include <vector>

namespace {

// The cases the command line selects, as the binary lists them (run by the
// shell of popen, whose parent it is): "Suite." lines, each followed by its
// "  Case" lines (a comment may follow a name).
std::vector<std::string> SelectedCases() {
    setenv("NLTEST_FILTER", GTEST_FLAG_GET(filter).c_str(), 1);
    FILE* list = popen("exec /proc/$PPID/exe --gtest_list_tests --gtest_filter=\"$NLTEST_FILTER\"", "r");
    std::vector<std::string> cases;
    std::string suite;
    for (char line[4096]; list && fgets(line, sizeof line, list);) {
        std::string name(line + (line[0] == ' ' ? 2 : 0));
        name = name.substr(0, name.find_first_of(" \n"));
        if (line[0] == ' ')
            cases.push_back(suite + name);
        else
            suite = name;
    }
    if (list) pclose(list);
    return cases;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (getenv("NLTEST_CASE_PROCESS") || GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    setenv("NLTEST_CASE_PROCESS", "1", 1);
    const std::vector<std::string> cases = SelectedCases();
    if (cases.size() <= 1) return RUN_ALL_TESTS();
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
