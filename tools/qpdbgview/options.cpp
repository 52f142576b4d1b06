#include "options.h"

#include <errno.h>
#include <stdlib.h>
#include <windows.h>

namespace qpdbgview {

const char kUsage[] =
    "usage: qpdbgview [-p PID] [-n COUNT]\n"
    "Shows the messages that processes send to the debug-output channel, one a line:\n"
    "  HH:MM:SS.mmm [PID] TEXT\n"
    "  -p PID    show the messages of this process only\n"
    "  -n COUNT  exit after COUNT messages\n"
    "The channel is the socket " NL_DEBUG_CHANNEL_PATH
    ",\n"
    "or the one the environment variable " NL_DEBUG_CHANNEL_VARIABLE " names.\n";

namespace {

// A positive decimal number that fits max; nothing else.
bool ParsePositive(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long parsed = strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed == 0 || parsed > max) return false;
    *value = parsed;
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options->help = true;
            continue;
        }
        if (arg != "-p" && arg != "-n") {
            *error = "unknown argument '" + arg + "'";
            return false;
        }
        if (i + 1 == args.size()) {
            *error = "option " + arg + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        unsigned long number = 0;
        if (arg == "-p") {
            if (!ParsePositive(value, 0x7FFFFFFF, &number)) {
                *error = "-p takes a process id, not '" + value + "'";
                return false;
            }
            options->onlyProcess = static_cast<pid_t>(number);
        } else {
            if (!ParsePositive(value, static_cast<unsigned long>(-1), &number)) {
                *error = "-n takes a count of at least 1, not '" + value + "'";
                return false;
            }
            options->maxCount = number;
        }
    }
    return true;
}

}  // namespace qpdbgview
