#pragma once

// Work done inside the plugin library, logged under the plugin's own logger.
void DemoPluginWork(int items);
