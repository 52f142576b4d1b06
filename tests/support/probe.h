// Runs the log probe (library/log_probe.cpp) as a process of a chosen name.
// A test binary that includes this defines LOG_PROBE_PATH.
#pragma once

namespace nltest {

// Copies the probe to env.path(relativePath) and returns that path.
inline std::string InstallProbe(const TestEnv& env, const std::string& relativePath) {
    std::string target = env.path(relativePath);
    RunCommand("mkdir -p \"$(dirname '" + target + "')\" && cp '" LOG_PROBE_PATH "' '" + target + "'");
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

}  // namespace nltest
