// qpdbgview's command line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qpdbgview {

struct Options {
    pid_t onlyProcess = 0;       // -p: 0 shows every process
    unsigned long maxCount = 0;  // -n: 0 runs until stopped
    bool help = false;
};

// False with *error set when the arguments are not valid.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

extern const char kUsage[];

}  // namespace qpdbgview
