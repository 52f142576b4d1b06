// GetComputerNameW: the NetBIOS name Windows derives from the host name.
#include <windows.h>

#include <unistd.h>

#include <string>

namespace {

// The host name up to its first '.', upper-cased and cut to 15 characters,
// as Windows forms the NetBIOS name from the DNS host name. Host names are
// ASCII letters, digits and hyphens.
std::wstring NetBiosName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return std::wstring();
    std::wstring name;
    for (const char* p = host; *p && *p != '.' && name.size() < MAX_COMPUTERNAME_LENGTH; ++p) {
        char c = *p;
        name += static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : static_cast<unsigned char>(c));
    }
    return name;
}

}  // namespace

extern "C" {

BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring name = NetBiosName();
    DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    wmemcpy(buffer, name.c_str(), needed);
    *size = needed - 1;
    return TRUE;
}

}  // extern "C"
