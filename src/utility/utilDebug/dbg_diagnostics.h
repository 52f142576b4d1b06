// What the library says about its own troubles when DebugLogDiagnostics asks
// it to: a file it refused, a layout it would not use. The lines go to the
// process's standard error, as log4cxx's own diagnostics do; without the
// switch nothing is said.
// On the library's ladder: readers; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <string>

namespace dbg_internal {

// The switch as the back end's set-up read it; before the set-up the value
// is read from the registry when there is something to say.
void SetDiagnostics(bool on);
// Says one line, prefixed "utilDebug: ", when the switch is on.
void SayDiagnostic(const std::string& text);
// Why a file was not opened, from the error its opening left.
const char* FileRefusalReason(DWORD error);
// Whether an opening error means only that the file is not there.
inline bool IsMissingFileError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
// "<what> <path> <outcome> (<reason>)", for a file that was there but was
// refused: a pipe, a device, a socket, a folder, a link where none may be.
void SayFileRefused(const char* what, const std::wstring& path, const char* outcome, DWORD error);

}  // namespace dbg_internal
