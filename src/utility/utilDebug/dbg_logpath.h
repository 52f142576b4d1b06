// Where the log file lies: <HomeDir>/Debug/<executable>[-<run id>].log, or the
// same name in the temporary directory.
#pragma once

#include <cstddef>
#include <string>

// The installers always log, into the temporary directory.
bool IsInstallerProcess(const wchar_t* processBaseName);
// The executable's file name without directory and extension.
void GetProcessBaseName(wchar_t* buffer, size_t size);
// The log file path of this process into buffer (size in characters); false
// only for a null buffer. A path that does not fit leaves the buffer empty.
bool BuildLogFilePath(wchar_t* buffer, int size);
// The back end's own path when the interface handed over none: the home
// directory under the default key, or the temporary directory, and the
// process base name.
std::wstring ComposeFallbackLogPath(const std::wstring& processBaseName);
