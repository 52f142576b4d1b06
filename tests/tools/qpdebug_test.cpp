// qpdebug against live processes of the log probe, started by the test in a
// scratch registry and folders: one switched on, one off, one started before
// HomeDir was set, one whose plugin is silenced, two of names that no
// terminal should see raw. Every command's output (a
// transcript, tests/data/qpdebug/session.txt), and its effect on their records.
#include "nltest.h"

namespace {

using nltest::Widen;

// A probe that stays alive and takes its commands through a FIFO, the first
// ones as it starts; its clock is the probe's own, so that a minute passes at
// once.
class LiveProbe {
  public:
    LiveProbe(const nltest::TestEnv& env, const std::string& name, const std::string& commands,
              const std::string& folder = "bin")
        : env_(env), name_(folder + "-" + name) {
        std::string executable = nltest::InstallProbe(env, folder + "/" + name);
        // Its files' names stay plain, whatever its own.
        for (char& c : name_)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        std::string fifo = env.path(name_ + ".fifo");
        mkfifo(fifo.c_str(), 0600);
        // Open for reading and writing, so that neither side waits for the
        // other; the probe sees the end of its input when this closes.
        fd_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        nltest::RunCommand("'" + executable + "' > '" + env.path(name_ + ".out") + "' 2>&1 < '" + fifo +
                           "' &");
        Run("clock 10000000\npid\n" + commands);
        std::string out = nltest::ReadFile(env.path(name_ + ".out"));
        pid_ = out.substr(out.find("pid=") + 4, out.find('\n') - out.find("pid=") - 4);
    }
    ~LiveProbe() { close(fd_); }
    // Has the probe run the commands, one a line, and waits until it has.
    void Run(const std::string& commands) {
        std::string marker = env_.path(name_ + ".sync" + std::to_string(++syncs_));
        std::string lines = commands + "\ntouch " + marker + "\n";
        EXPECT_EQ(write(fd_, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
        ASSERT_TRUE(
            nltest::WaitUntil([&] { return nltest::FileExists(marker); }, name_ + " to run its commands"));
    }
    const std::string& pid() const { return pid_; }

  private:
    const nltest::TestEnv& env_;
    std::string name_;
    int fd_ = -1;
    int syncs_ = 0;
    std::string pid_;
};

// The live probes by name.
using Probes = std::map<std::string, std::unique_ptr<LiveProbe>>;

// Transcripts of qpdebug (tests/data/qpdebug): <NAME> stands for the process
// id of a probe, and tables are compared with runs of blanks as one, whatever
// else the machine runs. Two tags of its own: "R NAME VALUE" sets the registry
// value NAME, and "P NAME COMMAND" has the probe NAME run the COMMAND once
// more than a minute has passed (so that it reads its settings again).
class QpdebugTranscript : public nltest::Transcript {
  public:
    QpdebugTranscript(const nltest::TestEnv& env, const Probes& probes)
        : Transcript(env, QPDEBUG_PATH), probes_(probes) {
        for (const auto& [name, probe] : probes) names_.push_back({"<" + name + ">", probe->pid()});
        names_.push_back({"<version>", QPDEBUG_VERSION});
        names_.push_back({"<plugin>", TEST_PLUGIN_PATH});
        // A process reads 24,575 characters of DebugModule: room for 8 more.
        names_.push_back({"<long list>", std::string(24567, 'x')});
    }

  protected:
    bool Extra(const std::string& tag, const std::string& text) override {
        std::string name = text.substr(0, text.find(' ')),
                    rest = text.substr(std::min(text.size(), name.size() + 1));
        EXPECT_TRUE(tag != "R" || nltest::SetRegistryString(Widen(name).c_str(), Widen(rest)));
        if (tag == "P") probes_.at(name)->Run("advance 61000\n" + rest);
        return tag == "R" || tag == "P";
    }
    std::string Shown(const std::string& text) override {
        std::string out = text;
        out.erase(std::unique(out.begin(), out.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
                  out.end());
        return out;
    }

  private:
    const Probes& probes_;
};

class QpdebugTest : public ::testing::Test {
  protected:
    // The machine of the cases: early logs into the temporary directory,
    // started before HomeDir was set; then worker on, indexer off, and
    // plugged, whose plugin is silenced.
    void SetUp() override {
        EXPECT_EQ(Run("on early"), 0);
        probes_["early"] = std::make_unique<LiveProbe>(env_, "early", "log early record");
        mkdir(env_.path("home").c_str(), 0755);
        ASSERT_TRUE(nltest::SetRegistryString(L"HomeDir", Widen(env_.path("home"))));
        for (const char* command : {"on worker", "off indexer", "on plugged", "silence libtest_plugin.so"})
            EXPECT_EQ(Run(command), 0) << command;
        for (const char* name : {"worker", "indexer", "plugged"})
            probes_[name] =
                std::make_unique<LiveProbe>(env_, name, "log first debug\nlevel 4098 first error");
        probes_["plugged"]->Run(std::string("plugin ") + TEST_PLUGIN_PATH + " plugin record");
        // Names another user may give: a backslash, and escapes, a line feed and a byte that is not UTF-8.
        probes_["backslash"] = std::make_unique<LiveProbe>(env_, "x\\indexer", "");
        probes_["escapes"] = std::make_unique<LiveProbe>(env_, "e\x1b[2J\nforged\xff", "");
    }

    int Run(const std::string& arguments) {
        return nltest::RunCommand("'" QPDEBUG_PATH "' " + arguments + " >/dev/null");
    }
    std::string Log(const std::string& name) const { return env_.path("home/Debug/" + name + ".log"); }

    nltest::TestEnv env_;
    Probes probes_;
};

class QpdebugSession : public QpdebugTest, public ::testing::WithParamInterface<const char*> {};

// session: every command's output; changes: their effect on the records of
// running processes at their next refresh.
TEST_P(QpdebugSession, GivesWhatTheTranscriptSays) {
    QpdebugTranscript(env_, probes_).Play(std::string("qpdebug/") + GetParam() + ".txt");
}

INSTANTIATE_TEST_SUITE_P(Transcripts, QpdebugSession, ::testing::Values("session", "changes"));

TEST_F(QpdebugTest, TailFollowsTheLogFile) {
    // Follows the file across a roll (renamed aside, a new one created), a
    // deletion and re-creation, lines appended fast to a slow reader, and a
    // truncation, from the last record on: every line once.
    probes_["worker"]->Run("level 4098 before tail");
    std::string out = env_.path("tail.out"), err = env_.path("tail.err");
    // A slow reader of the output: the follower's reads overlap the writes.
    nltest::RunCommand(
        "sh -c 'echo $$ > " + out + ".pid; exec \"$0\" tail worker -n 1' '" QPDEBUG_PATH "' 2> '" + err +
        "' < /dev/null | sh -c 'while IFS= read -r l; do printf \"%s\\n\" \"$l\"; done' > '" + out + "' &");
    // The follower stops with the case, however the case ends.
    struct Stop {
        std::string pidFile;
        ~Stop() { nltest::RunCommand("kill $(cat '" + pidFile + "')"); }
    } stop{out + ".pid"};
    auto shows = [&](const std::string& text) {
        return nltest::WaitUntil([&] { return nltest::ReadFile(out).find(text) != std::string::npos; },
                                 "tail to show " + text, std::chrono::seconds(20));
    };
    EXPECT_TRUE(shows("before tail"));
    nltest::RunCommand("mv '" + Log("worker") + "' '" + Log("worker") + ".1'");
    LiveProbe second(env_, "worker", "level 4098 after roll", "bin2");
    EXPECT_TRUE(shows("after roll"));
    nltest::RunCommand("rm '" + Log("worker") + "'; sleep 0.5");
    second.Run("level 4098 after re-creation");
    EXPECT_TRUE(shows("after re-creation"));
    nltest::RunCommand("i=0; while [ $i -lt 20000 ]; do echo \"fast $i\" >> '" + Log("worker") +
                       "'; i=$((i+1)); [ $((i % 400)) != 0 ] || sleep 0.02; done");
    EXPECT_TRUE(shows("fast 19999"));
    nltest::RunCommand(": > '" + Log("worker") + "'; printf 'after truncation\\033[2J\\n' >> '" +
                       Log("worker") + "'");
    EXPECT_TRUE(shows("after truncation\\e[2J"));
    std::string shown = nltest::ReadFile(out);
    size_t fast = 0;
    for (size_t at = 0; (at = shown.find("\nfast ", at)) != std::string::npos; ++at) ++fast;
    EXPECT_EQ(fast, 20000u);
    EXPECT_EQ(shown.find("first error"), std::string::npos) << "only the last record before following";
    std::string said = nltest::ReadFile(err);
    EXPECT_EQ(said.find("truncated"), said.rfind("truncated")) << said;
    EXPECT_NE(said.find("truncated"), std::string::npos) << said;
}

// dump: a process whose recorder is on writes its kept records within 5 s of
// the request, and runs on.
TEST_F(QpdebugTest, DumpHasARunningProcessWriteItsKeptRecords) {
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLevel", 1));
    ASSERT_TRUE(nltest::SetRegistryDword(L"DebugLogRecorder", 3));
    LiveProbe& worker = *probes_["worker"];
    worker.Run("advance 61000\nlog kept");
    std::string stop = env_.path("stop");
    std::thread ticking([&] { worker.Run("every 50 " + stop); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run("dump worker"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // It runs on: it goes on to its next command once it sees the file.
    nltest::WriteFile(stop, "");
    ticking.join();
    std::string log = nltest::ReadFile(Log("worker"));
    EXPECT_NE(log.find("~ utilDebug: the 3 records kept on request follow"), std::string::npos) << log;
}

}  // namespace
