// The demo: an executable and a plugin library log through utilDebug.
#include <utilDebug.h>

#include <cstdio>

#include "demo_plugin.h"

// The version the stress banner shows.
DBG_FILE_VERSION(1, 0, 0, 7);

int main() {
    DBG::StressLogTitle();
    DBG::DebugLogEx(DBG_THIS_MODULE, DBG_LEVEL_ENTRY, __FILE__, __LINE__, "main: narrow format, %s",
                    "narrow text");
    DBG::DebugLogEx(DBG_THIS_MODULE, DBG_LEVEL_DEBUG, L"C:\\src\\demo\\wide.cpp", 42, L"wide format: %s, %S",
                    L"wide text", "narrow argument");
    DBG::DebugLogEx(DBG_THIS_MODULE, DBG_LEVEL_DEBUG, L"mixed.cpp", 7, "wide file, narrow format: %d items",
                    3);
    DemoPluginWork(2);
    DBG_LOGW(DBG_LEVEL_ERROR, L"an error record: code %I64d", 0x80004005LL);
    DBG_LOG(DBG_LEVEL_CRITICAL, "critical information (%s)", DBG::IsCriticalLogEnabled() ? "on" : "off");
    DBG_FATAL("a fatal record: non-ASCII survives: %s", "gr\xc3\xbc\xc3\x9f Gott \xe2\x82\xac");
    // The C exports: one pointer-sized argument, the logger "unknown".
    DebugLogEx(DBG_LEVEL_WARNING, L"c_export.c", 99, L"C export with one argument: %p", (const void*)0x1234);
    DBG_LEAVE("main");
    // To the debug-output channel, which qpdbgview shows.
    std::wstring greeting = L"demo says hello through the debug-output channel ";
    DebugStringToWindbg(greeting);
    DebugStringToWindbg(L"demo: finished, debug logging %s\n", IsDebugEnabled() ? L"on" : L"off");
    std::printf("debug logging enabled: %s\n", IsDebugEnabled() ? "yes" : "no");
    return 0;
}
