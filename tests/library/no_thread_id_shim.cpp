// Stands in for kernel32's GetProcAddress in a probe that links it before
// the platform layer: finds nothing, and reports each lookup on stdout.
#include <cstdio>

extern "C" __attribute__((visibility("default"))) void* GetProcAddress(void*, const char* name) {
    std::printf("lookup %s\n", name);
    std::fflush(stdout);
    return nullptr;
}
