// A host that never links the library: it loads plugins that do, as a
// service or an interpreter would. Steps come as arguments:
//   keep PATH     loads PATH and never unloads it
//   load PATH     loads the plugin at PATH (RTLD_NOW | RTLD_LOCAL)
//   log TEXT      the last loaded plugin logs TEXT
//   close         unloads the last loaded plugin
//   where         prints "base=ADDRESS" of the last loaded plugin
//   errors        prints "setlasterror=N": the calls that reached the
//                 host's own SetLastError
//   swap A B N    N times: loads A, which logs, unloads it, and the same
//                 with B
//   heap          prints "heap=BYTES": the bytes malloc has handed out
// The host carries its own SetLastError and GetLastError, as programs
// ported from Windows often do; the library must never call them.
#include <dlfcn.h>
#include <link.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
thread_local unsigned long t_lastError = 0;
unsigned long g_setLastErrorCalls = 0;
}  // namespace

extern "C" __attribute__((visibility("default"))) void SetLastError(unsigned int error) {
    ++g_setLastErrorCalls;
    t_lastError = error;
}
extern "C" __attribute__((visibility("default"))) unsigned int GetLastError() {
    return static_cast<unsigned int>(t_lastError);
}

int main(int argc, char** argv) {
    void* plugin = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string step = argv[i];
        const char* argument = i + 1 < argc ? argv[i + 1] : "";
        if (step == "keep" || step == "load") {
            void* handle = dlopen(argument, RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                std::fprintf(stderr, "plugin_host: %s\n", dlerror());
                return 2;
            }
            if (step == "load") plugin = handle;
            ++i;
        } else if (step == "log") {
            auto log = reinterpret_cast<void (*)(const char*)>(dlsym(plugin, "PluginLog"));
            if (!log) return 2;
            log(argument);
            ++i;
        } else if (step == "close") {
            dlclose(plugin);
            plugin = nullptr;
        } else if (step == "where") {
            link_map* map = nullptr;
            dlinfo(plugin, RTLD_DI_LINKMAP, &map);
            std::printf("base=%#lx\n", static_cast<unsigned long>(map->l_addr));
        } else if (step == "swap" && i + 3 < argc) {
            for (int n = std::atoi(argv[i + 3]); n > 0; --n)
                for (int which = 1; which <= 2; ++which) {
                    void* handle = dlopen(argv[i + which], RTLD_NOW | RTLD_LOCAL);
                    auto log = reinterpret_cast<void (*)(const char*)>(dlsym(handle, "PluginLog"));
                    if (!log) return 2;
                    log("swapped in");
                    dlclose(handle);
                }
            i += 3;
        } else if (step == "heap") {
            struct mallinfo2 heap = mallinfo2();
            std::printf("heap=%zu\n", heap.uordblks + heap.hblkhd);
        } else if (step == "errors") {
            std::printf("setlasterror=%lu\n", g_setLastErrorCalls);
        }
    }
    std::fflush(stdout);
    return 0;
}
