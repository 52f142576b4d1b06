#include "options.h"

#include <errno.h>
#include <getopt.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace qpdbgview {

const char kUsage[] =
    "usage: qpdbgview [-p PID] [-n COUNT]\n"
    "Shows the messages that processes send to the debug-output channel, one a line:\n"
    "  HH:MM:SS.mmm [PID] TEXT\n"
    "  -p, --pid=PID      show the messages of this process only\n"
    "  -n, --count=COUNT  exit after COUNT messages\n"
    "  -h, --help         print this help\n"
    "  -V, --version      print the version\n"
    "Control characters and line breaks in a text are shown escaped (\\n, \\x1b).\n"
    "The channel is the socket " NL_DEBUG_CHANNEL_PATH
    ",\n"
    "or the one the environment variable " NL_DEBUG_CHANNEL_VARIABLE " names.\n";

const char kVersion[] = "qpdbgview (utilDebug) " QPDBGVIEW_VERSION "\n";

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

bool SetValue(int option, const std::string& value, Options* options, std::string* error) {
    unsigned long number = 0;
    if (option == 'p') {
        if (!ParsePositive(value, 0x7FFFFFFF, &number)) {
            *error = "-p takes a process id, not '" + value + "'";
            return false;
        }
        options->onlyProcess = static_cast<pid_t>(number);
        return true;
    }
    if (!ParsePositive(value, static_cast<unsigned long>(-1), &number)) {
        *error = "-n takes a count of at least 1, not '" + value + "'";
        return false;
    }
    options->maxCount = number;
    return true;
}

// The option as the user wrote it: "--count" of "--count=x", or "-n".
std::string Spelling(const char* argument, int option) {
    std::string written = argument ? argument : "";
    if (written.rfind("--", 0) == 0) return written.substr(0, written.find('='));
    return std::string("-") + static_cast<char>(option);
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    static const option kLongOptions[] = {
        {"pid", required_argument, nullptr, 'p'},
        {"count", required_argument, nullptr, 'n'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    std::vector<std::string> copies = args;
    std::vector<char*> argv = {const_cast<char*>("qpdbgview")};
    for (std::string& arg : copies) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(argv.size()) - 1;
    // '+': no reordering, the first operand ends the options; ':': a missing
    // value is told apart from an unknown option; both reported here.
    opterr = 0;
    optind = 0;
    for (int c; (c = getopt_long(argc, argv.data(), "+:p:n:hV", kLongOptions, nullptr)) != -1;) {
        const char* current = argv[optind - 1];
        switch (c) {
            case 'p':
            case 'n':
                if (!SetValue(c, optarg, options, error)) return false;
                break;
            case 'h':
                options->help = true;
                break;
            case 'V':
                options->version = true;
                break;
            case ':':
                *error = "option " + Spelling(current, optopt) + " needs a value";
                return false;
            default: {
                // An unknown long option, or a known one given a value it
                // does not take (--help=x), is named as written; an unknown
                // letter alone, since it may stand in a group.
                bool asWritten = optopt == 0 || strchr("pnhV", optopt) != nullptr;
                std::string named =
                    asWritten ? std::string(current) : std::string("-") + static_cast<char>(optopt);
                *error = "unknown argument '" + named + "'";
                return false;
            }
        }
    }
    if (optind < argc) {
        *error = "unknown argument '" + std::string(argv[optind]) + "'";
        return false;
    }
    return true;
}

}  // namespace qpdbgview
