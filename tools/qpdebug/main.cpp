// qpdebug: operates the debug log of this machine. It reads and changes the
// debug settings under the product key, and finds the processes that have the
// library loaded, what they log and where, by the library's own rules.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "output.h"

namespace {

const char kUsage[] =
    "Usage: qpdebug COMMAND [ARGUMENTS]\n"
    "Operates the Quillpost debug log of this machine.\n"
    "\n"
    "  status [--json]                 the settings in force and what they mean; every\n"
    "                                  process with the debug library loaded, whether it\n"
    "                                  logs, and into which file\n"
    "  on NAME [-l|--level LEVEL]      switches the program NAME on in the module list;\n"
    "                                  LEVEL (fatal, error, warn or debug) sets DebugLevel,\n"
    "                                  which applies to every program of the machine\n"
    "  off NAME                        switches the program NAME off\n"
    "  where NAME|PID                  prints the log file of a program or process\n"
    "  tail NAME|PID [-n|--lines N]    prints the last N lines (default 10) of its log\n"
    "                                  file and follows it across rolls and re-creations\n"
    "  dump NAME|PID                   has running processes write the records their\n"
    "                                  recorder kept (DebugLogRecorder) into their log\n"
    "  silence MODULE|FEATURE          silences a module (libfoo.so) or a feature of the\n"
    "                                  feature mapping file in every process that logs\n"
    "  unsilence MODULE|FEATURE        lets it speak again\n"
    "  names processes|modules|features  names for scripts and completion\n"
    "\n"
    "  -h, --help                      shows this help\n"
    "  --version                       shows the version\n"
    "\n"
    "Running processes apply a change within a minute, at their next record.\n"
    "Changes need the right to write the registry (root, for the machine's own).\n"
    "Exit status: 0 done, 1 failed, 2 bad usage. See qpdebug(1).\n";

int Usage(const std::string& problem) {
    qpdebug::Error(problem + " (see qpdebug --help)");
    return qpdebug::kExitUsage;
}

// The options of the commands, parsed by getopt_long wherever they stand
// after the command ("--" ends them); each command says which it takes.
enum Option : unsigned { kJson = 1, kLevel = 2, kLines = 4 };

struct Arguments {
    unsigned given = 0;
    std::string level;
    long lines = 10;
    std::vector<std::string> operands;
};

struct Command {
    const char* name;
    size_t operands;   // how many it takes
    unsigned options;  // which it takes
    int (*run)(const Arguments&);
};

const Command kCommands[] = {
    {"status", 0, kJson, [](const Arguments& a) { return qpdebug::Status((a.given & kJson) != 0); }},
    {"on", 1, kLevel, [](const Arguments& a) { return qpdebug::SwitchOn(a.operands[0], a.level); }},
    {"off", 1, 0, [](const Arguments& a) { return qpdebug::SwitchOff(a.operands[0]); }},
    {"silence", 1, 0, [](const Arguments& a) { return qpdebug::Silence(a.operands[0], true); }},
    {"unsilence", 1, 0, [](const Arguments& a) { return qpdebug::Silence(a.operands[0], false); }},
    {"where", 1, 0, [](const Arguments& a) { return qpdebug::Where(a.operands[0]); }},
    {"tail", 1, kLines, [](const Arguments& a) { return qpdebug::Tail(a.operands[0], a.lines); }},
    {"dump", 1, 0, [](const Arguments& a) { return qpdebug::Dump(a.operands[0]); }},
    {"names", 1, 0, [](const Arguments& a) { return qpdebug::Names(a.operands[0]); }},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return qpdebug::kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("qpdebug %s\n", QPDEBUG_VERSION);
        return 0;
    }
    const Command* chosen = nullptr;
    for (const Command& c : kCommands)
        if (command == c.name) chosen = &c;
    if (!chosen) return Usage("unknown command '" + qpdebug::Shown(command) + "'");

    static const option kOptions[] = {{"json", no_argument, nullptr, 'j'},
                                      {"level", required_argument, nullptr, 'l'},
                                      {"lines", required_argument, nullptr, 'n'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {nullptr, 0, nullptr, 0}};
    Arguments arguments;
    // The command stands where getopt_long expects the program's name.
    opterr = 0;
    optind = 1;
    for (int c; (c = getopt_long(argc - 1, argv + 1, ":hl:n:", kOptions, nullptr)) != -1;) {
        const std::string value = optarg ? optarg : "";
        switch (c) {
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case 'j':
                arguments.given |= kJson;
                break;
            case 'l':
                arguments.given |= kLevel;
                arguments.level = value;
                break;
            case 'n': {
                char* end = nullptr;
                errno = 0;
                arguments.lines = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || arguments.lines < 0 || errno)
                    return Usage("-n takes a number of lines, not '" + qpdebug::Shown(value) + "'");
                arguments.given |= kLines;
                break;
            }
            case ':':
                return Usage(std::string(optopt == 'n' ? "-n" : "--level") + " needs a value");
            default: {
                // The element getopt_long just passed, or the one letter it did not know.
                std::string option = optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind];
                return Usage("unknown option '" + qpdebug::Shown(option) + "'");
            }
        }
    }
    for (int i = optind + 1; i < argc; ++i) arguments.operands.push_back(argv[i]);
    const char* const optionNames[] = {"--json is for status", "--level is for on", "-n is for tail"};
    for (unsigned bit = 0; bit < 3; ++bit)
        if ((arguments.given & (1u << bit)) && !(chosen->options & (1u << bit)))
            return Usage(optionNames[bit]);
    if (arguments.operands.size() < chosen->operands) return Usage(command + " needs a name");
    if (arguments.operands.size() > chosen->operands) return Usage("too many arguments for " + command);
    return chosen->run(arguments);
}
