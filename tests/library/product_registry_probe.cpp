// Prints the six names LoadProductRegistry settles for this executable, one a
// line, in UTF-8: the key path, then the HomeDir, DebugLevel, DebugLogCount,
// DebugModule and LogCriticalInfo value names. The file is read while the
// process still runs in the "C" locale, as a service started without a
// locale would.
#include <locale.h>
#include <stdio.h>

#include "ProductRegINIReader.h"

using namespace dbg_internal;

int main() {
    LoadProductRegistry();
    if (setlocale(LC_CTYPE, "C.UTF-8") == nullptr) return 2;
    const wchar_t* const names[] = {g_productRegistry.keyPath,     g_productRegistry.homeDir,
                                    g_productRegistry.debugLevel,  g_productRegistry.debugLogCount,
                                    g_productRegistry.debugModule, g_productRegistry.logCriticalInfo};
    for (const wchar_t* name : names) printf("%ls\n", name);
    return 0;
}
