#include "test_env.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace nltest {

TestEnv::TestEnv() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/nltest-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    // Traversable by everyone, so that a case may drop its privileges.
    chmod(dir_.c_str(), 0755);
    registryFile_ = dir_ + "/registry/registry.db";
    setenv("NL_REGISTRY_FILE", registryFile_.c_str(), 1);
    mkdir((dir_ + "/tmp").c_str(), 0755);
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
}

TestEnv::~TestEnv() {
    if (!getenv("NLTEST_KEEP")) RunCommand("rm -rf '" + dir_ + "'");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace nltest
