// The operations of qpreg, one per reg.exe subcommand. Each returns the exit
// status and has printed its result or error.
#pragma once

#include "command_line.h"

namespace qpreg {

int RunHelp(const Command& command);
int RunQuery(const Command& command);
int RunAdd(const Command& command);
int RunDelete(const Command& command);
int RunExport(const Command& command);
int RunImport(const Command& command);

}  // namespace qpreg
