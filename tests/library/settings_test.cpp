// The settings store: getters and setters, and the refresh that notices
// changed registry values at most once a minute.
#include <log4cxx/logger.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include "nltest.h"

namespace {

using namespace nltest;

using SettingsTest = ClockedLoggingProcess;

// Code ported from Windows passes sizeof of its wchar_t array. A list that
// does not fit (here 25 characters into 16) is cut to what the buffer holds,
// and nothing beyond the buffer is touched.
TEST_F(SettingsTest, GetDebugModulesTakesTheSizeofOfTheCallersBuffer) {
    struct {
        wchar_t modules[16];
        wchar_t after[32];
    } memory;
    std::fill(std::begin(memory.modules), std::end(memory.modules), L'\0');
    std::fill(std::begin(memory.after), std::end(memory.after), L'#');
    DBG::GetDebugModules(memory.modules, sizeof memory.modules);
    EXPECT_EQ(std::wstring(memory.modules, 16), std::wstring(L"utildebug_setti") + L'\0');
    EXPECT_EQ(std::wstring(memory.after, 32), std::wstring(32, L'#'));

    ASSERT_TRUE(SetRegistryString(L"DebugModule", L"worker=1;x=0"));
    DBG::GetDebugModules(memory.modules, sizeof memory.modules);
    EXPECT_STREQ(memory.modules, L"worker=1;x=0");
}

// Getters, setters and the refresh, as scripts of steps
// (data/library/settings_scripts.txt says what each checks).
class RefreshScript : public SettingsTest, public ::testing::WithParamInterface<std::string> {
  protected:
    bool Step(const std::string& word, const std::string& rest) override {
        if (word == "backups")
            return std::stoi(rest) ==
                   log4cxx::cast<log4cxx::rolling::RollingFileAppender>(
                       log4cxx::Logger::getRootLogger()->getAppender(LOG4CXX_STR("rootAppender")))
                       ->getMaxBackupIndex();
        if (word != "all") return false;
        log4cxx::Logger::getLogger("utildebug_settings_test")->setLevel(log4cxx::Level::getAll());
        return true;
    }
};

TEST_P(RefreshScript, Runs) { RunSteps(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Refresh, RefreshScript,
                         ::testing::ValuesIn(ReadScripts("library/settings_scripts.txt")));

// Without the right to write the registry a setter still changes the running
// process, and the refresh does not undo it.
TEST_F(SettingsTest, SettersWorkWithoutTheRightToWrite) {
    ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
    mkdir(env_.path("Debug").c_str(), 0777);
    chmod(env_.path("Debug").c_str(), 0777);
    if (geteuid() != 0) chmod(env_.registryFile().c_str(), 0444);
    ASSERT_EQ(0, nltest::ExitStatus(nltest::StartChild([&] {
                  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
                  Log("first");
                  DBG::SetDebugMode(2);
                  if (DBG::GetDebugMode() != 3) return 11;
                  clock_.Advance(60001);
                  Log("debug after the setter");
                  Log("error after the setter", 4098);
                  return 0;
              })));
    EXPECT_TRUE(Written("first"));
    EXPECT_FALSE(Written("debug after the setter"));
    EXPECT_TRUE(Written("error after the setter"));
}

}  // namespace
