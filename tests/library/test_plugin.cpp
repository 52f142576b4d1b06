// A shared library that logs under its own module handle.
#include <utilDebug.h>

extern "C" __attribute__((visibility("default"))) void PluginLog(const char* text) { DBG_DEBUG("%s", text); }
