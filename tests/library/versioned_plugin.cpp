// A shared library with a version suffix (libversioned_plugin.so.1.2.3),
// loaded by its soname libversioned_plugin.so.1.
#include <utilDebug.h>

extern "C" __attribute__((visibility("default"))) void VersionedPluginLog(const char* text) {
    DBG_DEBUG("%s", text);
}
