// Environment variables. Values are taken as UTF-8.
#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>

#include <string>

#include "common/environment.h"
#include "common/unicode.h"

extern char** environ;

namespace {

// The kernel tells a setuid, setgid or capability-raised program so.
bool InSecureExecution() { return getauxval(AT_SECURE) != 0; }

// Windows looks names up ignoring case; an exact match wins here, since a
// Linux environment may hold names that differ only in case.
const char* FindVariable(const std::string& name) {
    if (const char* value = nlplatform::ReadEnvironment(name.c_str())) return value;
    if (InSecureExecution()) return nullptr;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (equals && static_cast<size_t>(equals - *entry) == name.size() &&
            strncasecmp(*entry, name.c_str(), name.size()) == 0)
            return equals + 1;
    }
    return nullptr;
}

bool LookUp(LPCWSTR name, std::wstring* value) {
    if (!name || !*name) return false;
    const char* found = FindVariable(nlplatform::WideToUtf8(std::wstring(name)));
    if (!found) return false;
    *value = nlplatform::Utf8ToWide(std::string(found));
    return true;
}

}  // namespace

namespace nlplatform {

const char* ReadEnvironment(const char* name) { return secure_getenv(name); }

}  // namespace nlplatform

extern "C" {

// Returns the length without terminator when the value fits, the size needed
// with terminator when it does not (buffer untouched), and 0 with
// ERROR_ENVVAR_NOT_FOUND when the variable is missing. An empty value gives
// 0 and an empty string, with the last error unchanged, as on Windows.
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    std::wstring value;
    if (!LookUp(name, &value)) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (!buffer || value.size() >= size) return static_cast<DWORD>(value.size() + 1);
    wmemcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<DWORD>(value.size());
}

// The port's temporary directory: $TMPDIR when set, else /tmp, with a
// trailing separator as Windows gives it. Like Windows, a buffer too small is
// cleared, and after the path the rest of the buffer is zeroed.
DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    std::wstring path;
    const char* tmpdir = nlplatform::ReadEnvironment("TMPDIR");
    path = nlplatform::Utf8ToWide(std::string(tmpdir && *tmpdir ? tmpdir : "/tmp"));
    if (path.empty() || path.back() != L'/') path += L'/';
    if (!buffer) return static_cast<DWORD>(path.size() + 1);
    if (path.size() >= size) {
        wmemset(buffer, L'\0', size);
        return static_cast<DWORD>(path.size() + 1);
    }
    wmemcpy(buffer, path.c_str(), path.size());
    wmemset(buffer + path.size(), L'\0', size - path.size());
    return static_cast<DWORD>(path.size());
}

}  // extern "C"
