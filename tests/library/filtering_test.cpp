// Silenced modules and features in a logging process: DebugLogDisabledDlls
// and DebugLogDisabledFeatures as the refresh and the set-up apply them to
// live loggers, and DBG::ReloadFeatureConfiguration re-reading the feature
// mapping file.
#include "nltest.h"

extern "C" void PluginLog(const char* text);
extern "C" void VersionedPluginLog(const char* text);

namespace {

using namespace nltest;

// The test's own steps for LoggingProcess::RunSteps: "mapping", "unmap",
// "reload", "nolog" and "who" (data/library/filtering_scripts.txt says what
// they do). WhoSpeaks names the modules that logged a text by letters: e the
// executable, p the plugin, v the versioned plugin.
class FilteringTest : public ClockedLoggingProcess {
  protected:
    void SetUp() override {
        LoggingProcess::SetUp();
        mkdir(env_.path("data").c_str(), 0755);
        mkdir(env_.path("data/config").c_str(), 0755);
        ASSERT_TRUE(SetRegistryString(L"DataRootPath", Widen(env_.path("data"))));
    }
    std::string Mapping() const { return env_.path("data/config/dbglog_FeatureMapping.ini"); }
    std::string WhoSpeaks(const std::string& text) {
        Log(text.c_str());
        PluginLog(text.c_str());
        VersionedPluginLog(text.c_str());
        const std::string names[] = {"utildebug_filtering_test", "libtest_plugin.so",
                                     "libversioned_plugin.so"};
        std::string letters;
        for (const Record& record : RecordsWithText(Records(), text))
            letters += "epv?"[std::find(names, names + 3, record.logger) - names];
        return letters;
    }
    bool Step(const std::string& word, const std::string& rest) override {
        std::string text = rest;
        std::replace(text.begin(), text.end(), '|', '\n');
        if (word == "mapping") WriteFile(Mapping(), text);
        if (word == "unmap") unlink(Mapping().c_str());
        if (word == "reload") DBG::ReloadFeatureConfiguration();
        if (word == "nolog") return !FileExists(LogPath());
        size_t space = rest.find(' ');
        if (word != "who") return word == "mapping" || word == "unmap" || word == "reload";
        std::string speakers = WhoSpeaks(rest.substr(0, space));
        if (space != std::string::npos) {
            EXPECT_EQ(speakers, rest.substr(space + 1));
        }
        return true;
    }
};

// The scripts of data/library/filtering_scripts.txt.
class FilteringScript : public FilteringTest, public ::testing::WithParamInterface<std::string> {};
TEST_P(FilteringScript, Runs) { RunSteps(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scripts, FilteringScript,
                         ::testing::ValuesIn(ReadScripts("library/filtering_scripts.txt")));

}  // namespace
