// A logging process for one test case: a private world (TestEnv) whose
// product key sends this executable's records to <dir>/Debug/<name>.log, and
// those records read back. Derive a fixture from it, or use it as one:
//   using MyTest = nltest::LoggingProcess;
#pragma once

namespace nltest {

// Settings that send the records of the processes of that name to
// <dir>/Debug/<name>.log, in the readable layout.
inline bool LogInto(const TestEnv& env, const std::string& name) {
    return SetRegistryString(L"HomeDir", Widen(env.dir())) &&
           SetRegistryString(L"DebugModule", Widen(name) + L"=1") && UseReadableLayout();
}

class LoggingProcess : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(LogInto(env_, ExecutableName())); }
    std::string LogPath() const { return env_.path("Debug/" + ExecutableName() + ".log"); }
    std::vector<Record> Records() const { return ReadRecords(LogPath()); }
    bool Written(const std::string& text) const { return !RecordsWithText(Records(), text).empty(); }
    static void Log(const char* text, int level = 258) {
        DBG::DebugLogEx(DBG_THIS_MODULE, level, "t.cpp", 1, "%s", text);
    }

    // Runs a script of steps separated by "; ": "dword NAME N", "string NAME
    // TEXT", "delete NAME", "advance MS" (needs the FakeClock clock_ of a
    // derived fixture: see Advance), "mode N", "modules TEXT" (the setters),
    // "count N", "log TEXT", "error TEXT", "level CODE TEXT" (a record of that
    // level code), and the checks "written TEXT", "missing TEXT", "as LEVEL
    // TEXT" (its record has that level), "enabled 0|1", "critical 0|1",
    // "getmode N", "getcount N".
    // A fixture adds steps of its own in Step, false for a failed check.
    void RunSteps(const std::string& script) {
        // The step's word, what follows it, that text's first word and what follows that.
        std::string word, rest, name, tail;
        const std::map<std::string, std::function<void()>> steps = {
            {"dword", [&] { ASSERT_TRUE(SetRegistryDword(Widen(name).c_str(), std::stoul(tail))); }},
            {"string", [&] { ASSERT_TRUE(SetRegistryString(Widen(name).c_str(), Widen(tail))); }},
            {"delete", [&] { ASSERT_TRUE(DeleteRegistryValue(Widen(name).c_str())); }},
            {"advance", [&] { Advance(std::stoul(rest)); }},
            {"mode", [&] { DBG::SetDebugMode(std::stoi(rest)); }},
            {"modules", [&] { DBG::SetDebugModules(Widen(rest).c_str()); }},
            {"count", [&] { DBG::SetDebugLogCount(std::stoi(rest)); }},
            {"log", [&] { Log(rest.c_str()); }},
            {"error", [&] { Log(rest.c_str(), 4098); }},
            {"level", [&] { Log(tail.c_str(), std::stoi(name)); }},
            {"as", [&] { EXPECT_EQ(RecordsWithText(Records(), tail).at(0).level, name); }},
            {"written", [&] { EXPECT_TRUE(Written(rest)); }},
            {"missing", [&] { EXPECT_FALSE(Written(rest)); }},
            {"enabled", [&] { EXPECT_EQ(DBG::IsDebugEnabled(), rest == "1"); }},
            {"critical", [&] { EXPECT_EQ(DBG::IsCriticalLogEnabled(), rest == "1"); }},
            {"getmode", [&] { EXPECT_EQ(DBG::GetDebugMode(), std::stoi(rest)); }},
            {"getcount", [&] { EXPECT_EQ(DBG::GetDebugLogCount(), std::stoi(rest)); }},
        };
        for (size_t start = 0, end; start < script.size(); start = end + 2) {
            end = std::min(script.find("; ", start), script.size());
            const std::string step = script.substr(start, end - start);
            word = step.substr(0, step.find(' '));
            rest = step.substr(std::min(step.size(), word.size() + 1));
            name = rest.substr(0, rest.find(' '));
            tail = rest.substr(std::min(rest.size(), name.size() + 1));
            SCOPED_TRACE(step);
            if (auto found = steps.find(word); found != steps.end())
                found->second();
            else
                ASSERT_TRUE(Step(word, rest)) << "a step unknown, or a check of the fixture that failed";
            if (HasFatalFailure()) return;
        }
    }
    virtual bool Step(const std::string& /*word*/, const std::string& /*rest*/) { return false; }
    virtual void Advance(uint32_t) { ADD_FAILURE() << "this fixture has no clock"; }

    TestEnv env_;
};

// Scripts of steps for RunSteps in tests/data/<relative>, one a line.
inline std::vector<std::string> ReadScripts(const std::string& relative) {
    std::vector<std::string> scripts;
    for (const Row& row : ReadRows(relative, true)) scripts.push_back(row[0]);
    return scripts;
}

// A logging process whose clock the test moves.
class ClockedLoggingProcess : public LoggingProcess {
  protected:
    void Advance(uint32_t milliseconds) override { clock_.Advance(milliseconds); }
    FakeClock clock_;
};

}  // namespace nltest
