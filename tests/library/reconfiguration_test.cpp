// Live changes: thresholds of existing loggers, and a second process
// changing the settings with qpreg (the backup count's are the settings
// scripts').
#include "nltest.h"

extern "C" void PluginLog(const char* text);

namespace {

using namespace nltest;

// "plugin TEXT": the plugin logs.
class ReconfigurationTest : public LoggingProcess {
  protected:
    bool Step(const std::string& word, const std::string& rest) override {
        if (word != "plugin") return false;
        PluginLog(rest.c_str());
        return true;
    }
};

// The scripts of data/library/reconfiguration_scripts.txt.
class ReconfigurationScript : public ReconfigurationTest,
                              public ::testing::WithParamInterface<std::string> {};
TEST_P(ReconfigurationScript, Runs) { RunSteps(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Live, ReconfigurationScript,
                         ::testing::ValuesIn(ReadScripts("library/reconfiguration_scripts.txt")));

}  // namespace
