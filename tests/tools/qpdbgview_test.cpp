// qpdbgview as a user runs it: a separate process that shows what other
// processes send, with their process ids, and that leaves no socket behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "probe.h"
#include "test_env.h"

extern char** environ;

namespace {

// A viewer running in the background, its output going to files.
class Viewer {
  public:
    Viewer(const nltest::TestEnv& env, const std::vector<std::string>& options,
           const std::string& name = "viewer")
        : out_(env.path(name + ".out")), err_(env.path(name + ".err")) {
        std::vector<std::string> args = {QPDBGVIEW_PATH};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&files);
    }
    ~Viewer() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }

    // Waits until the viewer announced that it reads, or ended.
    bool WaitUntilReading() {
        for (int i = 0; i < 500; ++i) {
            if (Errors().find("reading") != std::string::npos) return true;
            if (HasExited()) return false;
            usleep(10000);
        }
        return false;
    }
    // The exit status, or -1 when it did not end within the time allowed.
    int Wait(int timeoutMs = 5000) {
        for (int waited = 0; !exited_ && waited < timeoutMs; waited += 10) {
            if (HasExited()) break;
            usleep(10000);
        }
        return exited_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    void Signal(int signal) { kill(pid_, signal); }
    std::string Output() const { return nltest::ReadFile(out_); }
    std::string Errors() const { return nltest::ReadFile(err_); }

  private:
    bool HasExited() {
        if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
        return exited_;
    }

    std::string out_, err_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
};

struct Shown {
    unsigned long pid;
    std::string text;
};

std::vector<Shown> ShownLines(const std::string& output) {
    static const std::regex line("(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d\\d\\d) \\[(\\d+)\\] (.*)");
    std::vector<Shown> shown;
    size_t start = 0;
    for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        std::smatch match;
        std::string text = output.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(text, match, line)) << text;
        if (!match.empty()) shown.push_back({std::stoul(match[5]), match[6]});
    }
    return shown;
}

class QpdbgviewTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("NL_DEBUG_CHANNEL", socket_.c_str(), 1); }
    void TearDown() override { unsetenv("NL_DEBUG_CHANNEL"); }

    // Runs the probe as another process sending text; returns its pid.
    unsigned long SendFromProbe(const std::string& text) {
        std::string output = nltest::RunProbe(env_, PROBE_PATH, "pid\nwindbg " + text + "\n");
        return output.compare(0, 4, "pid=") == 0 ? std::stoul(output.substr(4)) : 0;
    }

    nltest::TestEnv env_;
    // In a folder the viewer creates.
    std::string socket_ = env_.path("run/norlake/debug.sock");
};

TEST_F(QpdbgviewTest, ShowsWhatOtherProcessesSendWithTheirPids) {
    Viewer viewer(env_, {"-n", "2"});
    ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
    struct stat status;
    ASSERT_EQ(stat(socket_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u);  // any user's service may send
    unsigned long first = SendFromProbe("first message");
    unsigned long second = SendFromProbe("gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(viewer.Wait(), 0);
    std::vector<Shown> shown = ShownLines(viewer.Output());
    ASSERT_EQ(shown.size(), 2u) << viewer.Output();
    EXPECT_EQ(shown[0].pid, first);
    // The line feed that ends the text is dropped, nothing else.
    EXPECT_EQ(shown[0].text, "first messagecommonDebugUtil.cpp19");
    EXPECT_EQ(shown[1].pid, second);
    EXPECT_NE(first, second);
    EXPECT_EQ(access(socket_.c_str(), F_OK), -1);
}

TEST_F(QpdbgviewTest, ShowsOneProcessOnly) {
    Viewer viewer(env_, {"-p", std::to_string(getpid()), "-n", "1"});
    ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
    SendFromProbe("from another process");
    OutputDebugStringW(L"from the test");
    EXPECT_EQ(viewer.Wait(), 0);
    std::vector<Shown> shown = ShownLines(viewer.Output());
    ASSERT_EQ(shown.size(), 1u) << viewer.Output();
    EXPECT_EQ(shown[0].pid, static_cast<unsigned long>(getpid()));
    EXPECT_EQ(shown[0].text, "from the test");
}

TEST_F(QpdbgviewTest, ASecondViewerIsRefused) {
    Viewer first(env_, {"-n", "1"}, "first");
    ASSERT_TRUE(first.WaitUntilReading()) << first.Errors();
    Viewer second(env_, {}, "second");
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Errors().find("another qpdbgview is already reading " + socket_), std::string::npos)
        << second.Errors();
    // The first viewer still has its socket.
    SendFromProbe("still here");
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(ShownLines(first.Output()).size(), 1u);
}

TEST_F(QpdbgviewTest, StopSignalsEndItCleanly) {
    for (int signal : {SIGINT, SIGTERM}) {
        Viewer viewer(env_, {});
        ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
        viewer.Signal(signal);
        EXPECT_EQ(viewer.Wait(), 0) << signal;
        EXPECT_EQ(access(socket_.c_str(), F_OK), -1) << signal;
    }
}

// A viewer killed outright leaves its socket; the next one takes it over.
TEST_F(QpdbgviewTest, ASocketLeftByAKilledViewerIsTakenOver) {
    {
        Viewer killed(env_, {});
        ASSERT_TRUE(killed.WaitUntilReading());
    }
    ASSERT_EQ(access(socket_.c_str(), F_OK), 0);
    Viewer viewer(env_, {"-n", "1"});
    ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
    SendFromProbe("after the takeover");
    EXPECT_EQ(viewer.Wait(), 0);
    EXPECT_EQ(ShownLines(viewer.Output()).size(), 1u);
}

TEST_F(QpdbgviewTest, BadArgumentsAreRefusedWithAReason) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-p", "abc"}, "-p takes a process id"}, {{"-p", "0"}, "-p takes a process id"},
        {{"-n", "0"}, "-n takes a count"},        {{"-n", "-3"}, "-n takes a count"},
        {{"-n"}, "option -n needs a value"},      {{"-x"}, "unknown argument '-x'"},
    };
    for (const auto& c : cases) {
        Viewer viewer(env_, c.first);
        EXPECT_EQ(viewer.Wait(), 2) << c.second;
        EXPECT_NE(viewer.Errors().find(c.second), std::string::npos) << viewer.Errors();
        EXPECT_NE(viewer.Errors().find("usage: qpdbgview"), std::string::npos);
    }
    setenv("NL_DEBUG_CHANNEL", env_.path(std::string(120, 'p')).c_str(), 1);
    Viewer tooLong(env_, {});
    EXPECT_EQ(tooLong.Wait(), 1);
    EXPECT_NE(tooLong.Errors().find("too long"), std::string::npos) << tooLong.Errors();
}

}  // namespace
