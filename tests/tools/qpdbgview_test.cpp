// qpdbgview as a user runs it: a separate process that shows what other
// processes send, with their process ids, and that leaves no socket behind.
#include "nltest.h"

namespace {

// A viewer running in the background, its output going to files.
class Viewer {
  public:
    Viewer(const nltest::TestEnv& env, const std::string& options, const std::string& name = "viewer")
        : out_(env.path(name + ".out")), err_(env.path(name + ".err")) {
        // A child of this process's own, which no shell can reap first when
        // it ends at once.
        std::string command = "exec '" QPDBGVIEW_PATH "' " + options + " >'" + out_ + "' 2>'" + err_ + "'";
        nltest::WriteFile(err_, "");  // not the last viewer's "reading"
        pid_ = fork();
        if (pid_ == 0) {
            // As a terminal would start it: a test run in the background
            // ignores SIGINT, which the viewer would inherit.
            for (int stop : {SIGINT, SIGTERM, SIGHUP}) signal(stop, SIG_DFL);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Viewer() {
        if (!HasExited()) Signal(SIGKILL);
        Wait();
    }

    // Waits until the viewer announced that it reads; false when it ended.
    bool WaitUntilReading() {
        nltest::WaitUntil([&] { return Errors().find("reading") != std::string::npos || HasExited(); },
                          "a viewer");
        return !exited_;
    }
    // The exit status, or -1 when it did not end within the time allowed.
    int Wait() {
        nltest::WaitUntil([&] { return HasExited(); }, "the viewer to end", std::chrono::seconds(5));
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

// Runs what in a child process as user and group 65534, as another user's
// process; returns the child's pid, or -1 when it could not take the ids or
// what failed.
pid_t RunAsNobody(const std::function<bool()>& what) {
    pid_t child = fork();
    if (child == 0) {
        bool nobody = setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
                      setresuid(65534, 65534, 65534) == 0;
        _exit(nobody && what() ? 0 : 1);
    }
    int status = 1;
    return child > 0 && waitpid(child, &status, 0) == child && status == 0 ? child : -1;
}

// Sends each text as one datagram, waiting for room in the viewer's queue.
bool SendTexts(const std::string& path, const std::vector<std::string>& texts) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {AF_UNIX, {}};
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bool sent = fd >= 0;
    for (const std::string& text : texts)
        sent = sent && sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&address),
                              sizeof address) == static_cast<ssize_t>(text.size());
    close(fd);
    return sent;
}

// The lines shown, each as "[PID] TEXT" once its time is checked and cut.
std::vector<std::string> Shown(const std::string& output) {
    static const std::regex line("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (\\[\\d+\\] .*)");
    std::vector<std::string> shown;
    std::istringstream lines(output);
    for (std::string text; std::getline(lines, text);) {
        std::smatch match;
        EXPECT_TRUE(std::regex_match(text, match, line)) << text;
        shown.push_back(match.empty() ? text : match[1].str());
    }
    return shown;
}

class QpdbgviewTest : public ::testing::Test {
  protected:
    // The environment's own channel, which TestEnv unsets when the case ends.
    QpdbgviewTest() { setenv("NL_DEBUG_CHANNEL", socket_.c_str(), 1); }

    // Runs the probe as another process sending text; returns "[PID] " as
    // the viewer shows its lines.
    std::string SendFromProbe(const std::string& text) {
        std::string output = nltest::RunProbe(env_, LOG_PROBE_PATH, "pid\nwindbg " + text + "\n");
        return "[" + output.substr(4, output.find('\n') - 4) + "] ";  // "pid=PID"
    }

    nltest::TestEnv env_;
    // In a folder the viewer creates.
    std::string socket_ = env_.path("run/norlake/debug.sock");
};

// Shows what other processes send, with their pids, as the only viewer.
// SIGINT and SIGTERM end a viewer cleanly; one killed outright leaves its
// socket, which the next one takes over.
TEST_F(QpdbgviewTest, ShowsWhatOtherProcessesSendWithTheirPidsAsTheOnlyViewer) {
    for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
        Viewer viewer(env_, "");
        ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
        viewer.Signal(signal);
        EXPECT_EQ(viewer.Wait(), signal == SIGKILL ? -1 : 0) << signal;
        EXPECT_EQ(access(socket_.c_str(), F_OK), signal == SIGKILL ? 0 : -1) << signal;
    }
    Viewer viewer(env_, "-n 2");
    ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
    struct stat status;
    ASSERT_EQ(stat(socket_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u);  // any user's service may send
    Viewer second(env_, "", "second");
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Errors().find("another qpdbgview is already reading " + socket_), std::string::npos)
        << second.Errors();
    std::string first = SendFromProbe("first message"), other = SendFromProbe("second");
    EXPECT_EQ(viewer.Wait(), 0);
    // The line feed that ends the text is dropped, nothing else.
    EXPECT_EQ(Shown(viewer.Output()), (std::vector<std::string>{first + "first messagecommonDebugUtil.cpp19",
                                                                other + "secondcommonDebugUtil.cpp19"}));
    EXPECT_EQ(access(socket_.c_str(), F_OK), -1);
}

// Options as getopt reads them: attached values, long names, either form.
TEST_F(QpdbgviewTest, ShowsOneProcessOnly) {
    const std::string pid = std::to_string(getpid());
    for (const std::string& options :
         {"-p " + pid + " -n 1", "-p" + pid + " -n1", "--pid=" + pid + " --count 1"}) {
        Viewer viewer(env_, options);
        ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
        SendFromProbe("from another process");
        OutputDebugStringW(L"from the test");
        EXPECT_EQ(viewer.Wait(), 0) << options;
        EXPECT_EQ(Shown(viewer.Output()), std::vector<std::string>{"[" + pid + "] from the test"}) << options;
    }
}

TEST_F(QpdbgviewTest, CommandLinesGiveWhatTheTranscriptSays) {
    nltest::Transcript(env_, "timeout 5 " QPDBGVIEW_PATH).Play("qpdbgview/arguments.txt");
}

// ---- Other users -------------------------------------------------------------------

// A viewer receives from every user by design, whatever umask it ran under;
// a sender can neither start a line of its own nor drive the terminal.
TEST_F(QpdbgviewTest, UnderAnyUmaskOtherUsersTextsAreShownOneLineEachWithControlsEscaped) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
    const std::vector<nltest::Row> texts = nltest::ReadRows("qpdbgview/escapes.txt");
    std::vector<std::string> sent, expected;
    for (const nltest::Row& text : texts) sent.push_back(text[0]);
    mode_t previous = umask(077);
    Viewer viewer(env_, "-n " + std::to_string(sent.size()));
    umask(previous);
    ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
    std::string modes;  // of the folders the viewer made
    nltest::RunCommand("cd '" + env_.dir() + "' && stat -c '%n %a' run run/norlake", &modes);
    EXPECT_EQ(modes, "run 755\nrun/norlake 755\n");
    pid_t sender = RunAsNobody([&] { return SendTexts(socket_, sent); });
    ASSERT_GT(sender, 0);
    EXPECT_EQ(viewer.Wait(), 0);
    for (const nltest::Row& text : texts) expected.push_back("[" + std::to_string(sender) + "] " + text[1]);
    EXPECT_EQ(Shown(viewer.Output()), expected);
}

// What another user planted at the channel's path, its lock or its folder
// stays as it was, and the viewer refuses to start.
TEST_F(QpdbgviewTest, NothingButAStaleSocketOfItsOwnIsReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant files as another user";
    int index = 0;
    for (const nltest::Row& c : nltest::ReadRows("qpdbgview/planted.txt")) {
        const std::string& what = c[0];
        // A folder every user may write to, as /tmp.
        std::string folder = env_.path("case" + std::to_string(index++));
        ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
        ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
        const std::string socket = folder + "/debug.sock";
        std::optional<nltest::DebugListener> inUse;
        if (c[2] == "@socket") inUse.emplace(socket);
        // The stale one is never closed: its process ends, as a killed viewer.
        ASSERT_TRUE(inUse ? inUse->bound()
                    : c[2] == "@nobody-socket"
                        ? RunAsNobody([&] { return (new nltest::DebugListener(socket))->bound(); }) > 0
                        : nltest::RunCommand("cd '" + folder + "' && " + c[2]) == 0)
            << what;
        // Every entry but the lock file the viewer may make.
        std::string listing = "find '" + folder +
                              "' -mindepth 1 ! \\( -name debug.sock.lock -type f -user 0 \\) " +
                              "-printf '%P %y %U %l %s\n' | sort";
        std::string before, after;
        nltest::RunCommand(listing, &before);
        setenv("NL_DEBUG_CHANNEL", (folder + "/" + c[1]).c_str(), 1);
        Viewer viewer(env_, "");
        EXPECT_EQ(viewer.Wait(), 1) << what << ": " << viewer.Errors();
        EXPECT_NE(viewer.Errors().find(folder), std::string::npos) << what << ": " << viewer.Errors();
        nltest::RunCommand(listing, &after);
        EXPECT_EQ(after, before) << what;
    }
}

}  // namespace
