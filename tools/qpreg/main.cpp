// qpreg: reads and changes the product's registry with reg.exe's command line
// and output, so that the same commands work on Windows and Linux machines.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"
#include "console.h"
#include "messages.h"
#include "operations.h"
#include "text_encoding.h"

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

// The registry file, as the platform layer chooses it.
std::string RegistryFile() {
    const char* file = secure_getenv("NL_REGISTRY_FILE");
    return file && *file ? file : "/var/lib/norlake/registry.db";
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Says which registry file a command created (on a terminal: scripts see
// reg.exe's output alone), or why it could not create it: a mistyped
// NL_REGISTRY_FILE shows at once.
void ReportRegistryFile(const std::string& file, bool existed, int status) {
    if (existed) return;
    if (Exists(file)) {
        if (isatty(STDERR_FILENO))
            qpreg::PrintError(L"qpreg: created the registry file " + qpreg::WideFromUtf8(file) + L"\n");
        return;
    }
    std::string folder = file.find('/') == std::string::npos ? "." : file.substr(0, file.rfind('/') + 1);
    if (status != qpreg::kExitSuccess && !Exists(folder))
        qpreg::PrintError(L"qpreg: the registry file " + qpreg::WideFromUtf8(file) +
                          L" (NL_REGISTRY_FILE) is in a folder that does not exist\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qpreg::Command command;
    if (!qpreg::ParseCommandLine(args, &command)) return qpreg::kExitFailure;
    const std::string file = RegistryFile();
    const bool existed = Exists(file);
    int status = Run(command);
    ReportRegistryFile(file, existed, status);
    return status;
}
