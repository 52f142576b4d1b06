void DemoPluginWork() {}
