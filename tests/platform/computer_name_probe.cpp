// Prints what GetComputerNameW gives with room for 16 and for 15 characters
// (terminator included): "ok NAME" or "overflow SIZE-NEEDED" on each line.
#include <windows.h>

#include <cstdio>

#include "common/unicode.h"

namespace {

void Ask(DWORD capacity) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = capacity;
    if (GetComputerNameW(name, &size))
        std::printf("ok %s\n", nlplatform::WideToUtf8(name).c_str());
    else
        std::printf("%s %u\n", GetLastError() == ERROR_BUFFER_OVERFLOW ? "overflow" : "error", size);
}

}  // namespace

int main() {
    Ask(MAX_COMPUTERNAME_LENGTH + 1);
    Ask(MAX_COMPUTERNAME_LENGTH);
    return 0;
}
