// Stands in for kernel32's GetProcAddress in a probe that links it before
// the platform layer: finds nothing, and reports each lookup on stdout. It
// takes the name utilDebug calls the layer's function by: a function of the
// Windows name never receives the library's calls.
#include <cstdio>

extern "C" __attribute__((visibility("default"))) void* NlImpl_GetProcAddress(void*, const char* name) {
    std::printf("lookup %s\n", name);
    std::fflush(stdout);
    return nullptr;
}
