#pragma once

// Work done inside the plugin library, logged under the plugin's own logger.
__attribute__((visibility("default"))) void DemoPluginWork(int items);
