extern "C" void PluginLog() {}
