// A plugin library: its records go to the logger named after its own file.
#include "demo_plugin.h"

#include <utilDebug.h>

void DemoPluginWork(int items) {
    DBG_ENTER("DemoPluginWork(%d)", items);
    for (int i = 0; i < items; ++i) DBG_DEBUG("plugin processed item %d of %d", i + 1, items);
    DBG_WARN("plugin cache is %d%% full", 85);
    DBG_LEAVE("DemoPluginWork");
}
