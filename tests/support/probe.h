// Runs the log probe (library/log_probe.cpp) as a process of a chosen name,
// and a table-driven runner for cases that differ only in data. A test binary
// that includes this defines PROBE_PATH.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "log_reader.h"
#include "test_env.h"

namespace nltest {

// Copies the probe to env.path(relativePath) and returns that path.
inline std::string InstallProbe(const TestEnv& env, const std::string& relativePath) {
    std::string target = env.path(relativePath);
    RunCommand("mkdir -p \"$(dirname '" + target + "')\" && cp '" PROBE_PATH "' '" + target + "'");
    return target;
}

// Runs an executable with commands on its stdin and returns what it printed.
// environment holds shell assignments such as "NL_DEBUG_LOG_OUTPUT_ID=7".
inline std::string RunProbe(const TestEnv& env, const std::string& executable,
                            const std::string& commands = "", const std::string& environment = "") {
    std::string commandFile = env.path("probe-commands.txt");
    WriteFile(commandFile, commands);
    std::string output;
    RunCommand(environment + " '" + executable + "' < '" + commandFile + "'", &output);
    return output;
}

// One run of the probe as a table row. In the values and paths "{dir}"
// stands for the case's private directory, where "home" exists.
struct ProbeCase {
    std::string executable;                                     // where the probe runs, under {dir}
    std::vector<std::pair<std::wstring, std::string>> strings;  // product key values
    std::string environment;                                    // shell assignments
    std::string commands;                                       // the probe's stdin (empty: one record)
    std::string output;                                         // printed by the probe, when not empty
    std::string log;                                            // the log file, under {dir}, when not empty
    size_t records = 1;                                         // what that file holds
};

inline void PrintTo(const ProbeCase& c, std::ostream* out) {
    *out << c.executable;
    for (const auto& [name, value] : c.strings)
        *out << " " << std::string(name.begin(), name.end()) << "=\"" << value << "\"";
    if (!c.environment.empty()) *out << " " << c.environment;
}

inline std::string Expand(const TestEnv& env, std::string text) {
    for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, env.dir());
    return text;
}

// Runs the case in a private world and checks what it expects.
inline void RunProbeCase(const ProbeCase& c) {
    TestEnv env;
    RunCommand("mkdir -p '" + env.path("home") + "'");
    for (const auto& [name, value] : c.strings)
        ASSERT_TRUE(SetRegistryString(name.c_str(), Widen(Expand(env, value))));
    std::string output = RunProbe(env, InstallProbe(env, c.executable), c.commands, c.environment);
    if (!c.output.empty()) {
        EXPECT_NE(output.find(c.output), std::string::npos) << output;
    }
    if (!c.log.empty()) {
        EXPECT_EQ(ReadRecords(env.path(c.log)).size(), c.records) << c.log;
    }
}

}  // namespace nltest
