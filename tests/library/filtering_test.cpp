// Silenced modules and features in a logging process: DebugLogDisabledDlls
// and DebugLogDisabledFeatures as the refresh and the set-up apply them to
// live loggers, and DBG::ReloadFeatureConfiguration re-reading the feature
// mapping file.
#include <sys/stat.h>
#include <unistd.h>

#include "logging_process.h"

extern "C" void PluginLog(const char* text);
extern "C" void VersionedPluginLog(const char* text);

namespace {

using namespace nltest;

const char kExecutable[] = "utildebug_filtering_test";
const char kPlugin[] = "libtest_plugin.so";
const char kVersioned[] = "libversioned_plugin.so";

class FilteringTest : public LoggingProcess {
  protected:
    void SetUp() override {
        LoggingProcess::SetUp();
        mkdir(env_.path("data").c_str(), 0755);
        mkdir(env_.path("data/config").c_str(), 0755);
        ASSERT_TRUE(SetRegistryString(L"DataRootPath", Widen(env_.path("data"))));
    }
    void WriteMapping(const std::string& content) {
        WriteFile(env_.path("data/config/dbglog_FeatureMapping.ini"), content);
    }

    // Each module writes one record with text; returns the loggers whose
    // record reached the file.
    std::vector<std::string> WhoSpeaks(const std::string& text) {
        Log(text.c_str());
        PluginLog(text.c_str());
        VersionedPluginLog(text.c_str());
        std::vector<std::string> loggers;
        for (const Record& record : RecordsWithText(Records(), text)) loggers.push_back(record.logger);
        return loggers;
    }
    // Lets the next record run the settings refresh.
    void NextRefresh() { clock_.Advance(60001); }

    FakeClock clock_;
};

using Loggers = std::vector<std::string>;

TEST_F(FilteringTest, DisabledDllNamesAsTheRefreshAppliesThem) {
    EXPECT_EQ(WhoSpeaks("all"), (Loggers{kExecutable, kPlugin, kVersioned}));
    const struct {
        std::wstring value;
        Loggers speaking;
    } cases[] = {
        {L"LibTest_Plugin.SO;other.so", {kExecutable, kVersioned}},
        // Logger names carry the extension, and blanks are kept.
        {L"libtest_plugin", {kExecutable, kPlugin, kVersioned}},
        {L"utildebug_filtering_test; libtest_plugin.so", {kPlugin, kVersioned}},
        // The version suffix is no part of the name.
        {L"libversioned_plugin.so;libversioned_plugin.so", {kExecutable, kPlugin}},
        {L"libversioned_plugin.so.1", {kExecutable, kPlugin, kVersioned}},
        // Names past the first 2,047 characters are not read.
        {std::wstring(2047 - 18, L'x') + L";libtest_plugin.so", {kExecutable, kVersioned}},
        {std::wstring(2047 - 17, L'x') + L";libtest_plugin.so", {kExecutable, kPlugin, kVersioned}},
        {L"", {kExecutable, kPlugin, kVersioned}},
    };
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.value.begin(), c.value.end()).substr(0, 60));
        ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", c.value));
        NextRefresh();
        EXPECT_EQ(WhoSpeaks("round " + std::to_string(++round)), c.speaking);
    }
}

TEST_F(FilteringTest, SilencedLoggersStayOffUntilAnEmptyValue) {
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", L"libtest_plugin.so"));
    // Applied at the set-up, before the plugin logs for the first time.
    EXPECT_EQ(WhoSpeaks("first"), (Loggers{kExecutable, kVersioned}));
    DBG::SetDebugMode(1);
    DBG::SetDebugMode(3);
    EXPECT_EQ(WhoSpeaks("after mode changes"), (Loggers{kExecutable, kVersioned}));
    // A deleted value changes nothing.
    ASSERT_TRUE(DeleteRegistryValue(L"DebugLogDisabledDlls"));
    NextRefresh();
    EXPECT_EQ(WhoSpeaks("value deleted"), (Loggers{kExecutable, kVersioned}));
    // A change of letter case only is no change either.
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", L"LIBTEST_PLUGIN.SO"));
    NextRefresh();
    EXPECT_EQ(WhoSpeaks("case changed"), (Loggers{kExecutable, kVersioned}));
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", L""));
    NextRefresh();
    EXPECT_EQ(WhoSpeaks("value emptied"), (Loggers{kExecutable, kPlugin, kVersioned}));
}

TEST_F(FilteringTest, ListsChangedWhileTheProcessDoesNotLogWaitForIt) {
    EXPECT_EQ(WhoSpeaks("first"), (Loggers{kExecutable, kPlugin, kVersioned}));
    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"utildebug_filtering_test=0"));
    NextRefresh();
    WhoSpeaks("off");
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", L"libtest_plugin.so"));
    NextRefresh();
    WhoSpeaks("still off");
    // Both change at the same refresh: the process logs again, and the list
    // that was not applied while it did not is applied now.
    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"utildebug_filtering_test=1"));
    NextRefresh();
    EXPECT_EQ(WhoSpeaks("on again"), (Loggers{kExecutable, kVersioned}));
}

TEST_F(FilteringTest, FeaturesSilenceTheirModulesAndAReloadRereadsTheFile) {
    WriteMapping("[Indexing]\nlibtest_plugin.so\nlibversioned_plugin.so\n[Search]\nLibVersioned_Plugin.so\n");
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledFeatures", L"indexing"));
    // A module another feature still lists keeps logging.
    EXPECT_EQ(WhoSpeaks("first"), (Loggers{kExecutable, kVersioned}));

    // The plugin moves to the enabled feature: it speaks at once, without a
    // change in the registry.
    WriteMapping("[Indexing]\nlibversioned_plugin.so\n[Search]\nlibtest_plugin.so\n");
    DBG::ReloadFeatureConfiguration();
    EXPECT_EQ(WhoSpeaks("plugin moved"), (Loggers{kExecutable, kPlugin}));

    // Without the file no feature silences anything; disabled DLLs still do.
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledDlls", L"utildebug_filtering_test"));
    NextRefresh();
    EXPECT_EQ(WhoSpeaks("dll added"), (Loggers{kPlugin}));
    unlink(env_.path("data/config/dbglog_FeatureMapping.ini").c_str());
    DBG::ReloadFeatureConfiguration();
    EXPECT_EQ(WhoSpeaks("file deleted"), (Loggers{kPlugin, kVersioned}));
}

TEST_F(FilteringTest, AReloadSpeaksAgainForFeaturesTheFileNoLongerBacksWhenTheValuesAreEmpty) {
    WriteMapping("[Indexing]\nlibtest_plugin.so\n");
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledFeatures", L"Indexing"));
    EXPECT_EQ(WhoSpeaks("first"), (Loggers{kExecutable, kVersioned}));
    // The value is emptied and the feature dropped before the refresh ran.
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledFeatures", L""));
    WriteMapping("");
    DBG::ReloadFeatureConfiguration();
    EXPECT_EQ(WhoSpeaks("reloaded"), (Loggers{kExecutable, kPlugin, kVersioned}));
}

TEST_F(FilteringTest, AReloadBeforeTheFirstRecordDoesNothing) {
    WriteMapping("[Indexing]\nlibtest_plugin.so\n");
    ASSERT_TRUE(SetRegistryString(L"DebugLogDisabledFeatures", L"Indexing"));
    DBG::ReloadFeatureConfiguration();
    // The back end is not set up by it: no log file yet.
    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(WhoSpeaks("first"), (Loggers{kExecutable, kVersioned}));
}

}  // namespace
