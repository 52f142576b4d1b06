// qpreg: reads and changes the product's registry with reg.exe's command line
// and output, so that the same commands work on Windows and Linux machines.
#include <string>
#include <vector>

#include "command_line.h"
#include "messages.h"
#include "operations.h"

namespace {

int Run(const qpreg::Command& command) {
    switch (command.operation) {
        case qpreg::Operation::kHelp:
            return qpreg::RunHelp(command);
        case qpreg::Operation::kVersion:
            return qpreg::RunVersion();
        case qpreg::Operation::kQuery:
            return qpreg::RunQuery(command);
        case qpreg::Operation::kAdd:
            return qpreg::RunAdd(command);
        case qpreg::Operation::kDelete:
            return qpreg::RunDelete(command);
        case qpreg::Operation::kExport:
            return qpreg::RunExport(command);
        case qpreg::Operation::kImport:
            return qpreg::RunImport(command);
    }
    return qpreg::kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qpreg::Command command;
    if (!qpreg::ParseCommandLine(args, &command)) return qpreg::kExitFailure;
    return Run(command);
}
