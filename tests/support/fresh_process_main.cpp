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

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr const char kChildVariable[] = "NLTEST_CASE_PROCESS";

std::string SelfPath() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    return std::string(path, static_cast<size_t>(length));
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The full names of the cases the filter selects, as --gtest_list_tests
// prints them: "Suite." lines, then indented case names (a parameterised one
// followed by "  # GetParam() = ...").
std::vector<std::string> SelectedCases(const std::string& self, const std::string& filter) {
    std::string command = ShellQuote(self) + " --gtest_list_tests --gtest_filter=" + ShellQuote(filter);
    if (GTEST_FLAG_GET(also_run_disabled_tests)) command += " --gtest_also_run_disabled_tests";
    std::vector<std::string> cases;
    FILE* list = popen(command.c_str(), "r");
    if (!list) return cases;
    std::string suite;
    char line[4096];
    while (fgets(line, sizeof line, list)) {
        std::string text(line);
        text.resize(std::min(text.size(), text.find_first_of("#\n")));
        while (!text.empty() && text.back() == ' ') text.pop_back();
        if (text.empty()) continue;
        if (text[0] != ' ')
            suite = text;
        else
            cases.push_back(suite + text.substr(text.find_first_not_of(' ')));
    }
    pclose(list);
    return cases;
}

// Runs one case in a child process; true when it passed.
bool RunCaseInChild(const std::string& self, const std::string& name) {
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        setenv(kChildVariable, "1", 1);
        std::string filter = "--gtest_filter=" + name;
        std::vector<const char*> args = {self.c_str(), filter.c_str()};
        if (GTEST_FLAG_GET(also_run_disabled_tests)) args.push_back("--gtest_also_run_disabled_tests");
        args.push_back(nullptr);
        execv(self.c_str(), const_cast<char* const*>(args.data()));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int RunEachInChild(const std::string& self, const std::vector<std::string>& cases) {
    std::vector<std::string> failed;
    for (const std::string& name : cases)
        if (!RunCaseInChild(self, name)) failed.push_back(name);
    printf("\n[==========] %zu cases, each in a process of its own: %zu passed, %zu failed.\n", cases.size(),
           cases.size() - failed.size(), failed.size());
    for (const std::string& name : failed) printf("[  FAILED  ] %s\n", name.c_str());
    return failed.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (getenv(kChildVariable) || GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    const std::string self = SelfPath();
    std::vector<std::string> cases = SelectedCases(self, GTEST_FLAG_GET(filter));
    if (self.empty() || cases.size() <= 1) return RUN_ALL_TESTS();
    return RunEachInChild(self, cases);
}
