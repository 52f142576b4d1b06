// qpdbgview's command line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qpdbgview {

struct Options {
    pid_t onlyProcess = 0;       // -p, --pid: 0 shows every process
    unsigned long maxCount = 0;  // -n, --count: 0 runs until stopped
    bool help = false;
    bool version = false;
};

// Reads the arguments as getopt_long does: short options may be grouped and
// take their value attached (-n5) or as the next argument, long ones as
// --count=5 or --count 5, and "--" ends the options. qpdbgview takes no
// operands. False with *error set when the arguments are not valid.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

extern const char kUsage[];
extern const char kVersion[];

}  // namespace qpdbgview
