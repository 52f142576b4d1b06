// Where a process's log file lies: <HomeDir>/Debug/<executable>[-<run id>].log,
// or the same name in the temporary directory. The rule alone, from what a
// process knows of itself, so that the library and qpdebug apply the same one.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <string>
#include <vector>

namespace dbg_internal {

struct LogLocationInputs {
    std::wstring executablePath;  // full path of the process's executable
    std::wstring runId;           // NL_DEBUG_LOG_OUTPUT_ID, or empty
    std::wstring homeDir;         // HomeDir as read (at most 129 characters), or empty
    std::wstring tempDir;         // the process's temporary directory, with its trailing '/'
};

struct LogLocation {
    std::wstring path;
    // The home directory's Debug folder, which the process creates (one
    // level) before it opens the file; empty when the file is in the
    // temporary directory.
    std::wstring debugFolder;
};

// False when the path does not fit a path buffer (259 characters); the back
// end then composes a path of its own.
bool ComposeLogLocation(const LogLocationInputs& inputs, LogLocation* location);

// The directory of the log file, with no separator at its end: the home
// directory's Debug folder (then also in *debugFolder) or the temporary
// directory.
std::wstring LogDirectory(const std::wstring& homeDir, const std::wstring& tempDir,
                          std::wstring* debugFolder);

// Where records may go, best first: the configured file; in the temporary
// folder (tempDir, with its trailing separator), the same name; there, a
// name of the process's own (worker.log becomes worker.<pid>.log). Paths in
// UTF-8, as log4cxx holds them; the appender opens the first it can write.
std::vector<std::string> LogFilePlaces(const std::string& configured, const std::string& tempDir,
                                       unsigned long processId);

// directory, a separator when it has none at its end, and the name.
std::wstring JoinLogPath(const std::wstring& directory, const std::wstring& name);

}  // namespace dbg_internal
