// qpdebug: operates the debug log of this machine. It reads and changes the
// debug settings under the product key, and finds the processes that have the
// library loaded, what they log and where, by the library's own rules.
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
    "  on NAME [--level LEVEL]         switches the program NAME on in the module list;\n"
    "                                  LEVEL is fatal, error, info or all (DebugLevel)\n"
    "  off NAME                        switches the program NAME off\n"
    "  where NAME|PID                  prints the log file of a program or process\n"
    "  tail NAME|PID [-n N]            prints the last N lines (default 10) of its log\n"
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

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return qpdebug::kExitUsage;
    }
    const std::string command = args[0];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("qpdebug %s\n", QPDEBUG_VERSION);
        return 0;
    }
    // Options may come before or after the one operand.
    std::vector<std::string> operands;
    bool json = false;
    std::string level;
    long lines = 10;
    bool linesGiven = false, levelGiven = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--level" || arg == "-n" || arg == "--lines") {
            if (i + 1 == args.size()) return Usage(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--level") {
                level = value;
                levelGiven = true;
            } else {
                char* end = nullptr;
                lines = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || lines < 0)
                    return Usage("-n takes a number of lines, not '" + value + "'");
                linesGiven = true;
            }
        } else if (arg.compare(0, 8, "--level=") == 0) {
            level = arg.substr(8);
            levelGiven = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option '" + arg + "'");
        } else {
            operands.push_back(arg);
        }
    }
    auto expect = [&](size_t count, bool jsonAllowed, bool levelAllowed, bool linesAllowed) {
        if (json && !jsonAllowed) return Usage("--json is for status");
        if (levelGiven && !levelAllowed) return Usage("--level is for on");
        if (linesGiven && !linesAllowed) return Usage("-n is for tail");
        if (operands.size() < count) return Usage(command + " needs a name");
        if (operands.size() > count) return Usage("too many arguments for " + command);
        return 0;
    };
    int bad = 0;
    if (command == "status") {
        if ((bad = expect(0, true, false, false))) return bad;
        return qpdebug::Status(json);
    }
    if (command == "on") {
        if ((bad = expect(1, false, true, false))) return bad;
        return qpdebug::SwitchOn(operands[0], level);
    }
    if (command == "off") {
        if ((bad = expect(1, false, false, false))) return bad;
        return qpdebug::SwitchOff(operands[0]);
    }
    if (command == "silence" || command == "unsilence") {
        if ((bad = expect(1, false, false, false))) return bad;
        return qpdebug::Silence(operands[0], command == "silence");
    }
    if (command == "where") {
        if ((bad = expect(1, false, false, false))) return bad;
        return qpdebug::Where(operands[0]);
    }
    if (command == "tail") {
        if ((bad = expect(1, false, false, true))) return bad;
        return qpdebug::Tail(operands[0], lines);
    }
    if (command == "dump") {
        if ((bad = expect(1, false, false, false))) return bad;
        return qpdebug::Dump(operands[0]);
    }
    if (command == "names") {
        if ((bad = expect(1, false, false, false))) return bad;
        return qpdebug::Names(operands[0]);
    }
    return Usage("unknown command '" + command + "'");
}
