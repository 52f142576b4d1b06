// qpdbgview as a user runs it: a separate process that shows what other
// processes send, with their process ids, and that leaves no socket behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "probe.h"
#include "test_env.h"
#include "transcript.h"

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

// The user that other users' processes run as in these cases.
constexpr uid_t kNobody = 65534;

// Runs what in a child process under uid (and the same gid), or under this
// process's ids when uid is ours; returns the child's pid, or -1 when it
// could not take the ids or what failed.
pid_t RunAs(uid_t uid, const std::function<bool()>& what) {
    pid_t child = fork();
    if (child == 0) {
        bool ok = uid == geteuid() || (setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 &&
                                       setresuid(uid, uid, uid) == 0);
        _exit(ok && what() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return child;
}

sockaddr_un SocketAddress(const std::string& path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// Sends each text as one datagram, waiting for room in the viewer's queue.
bool SendTexts(const std::string& path, const std::vector<std::string>& texts) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = SocketAddress(path);
    bool sent = fd >= 0;
    for (const std::string& text : texts)
        sent = sent && sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&address),
                              sizeof address) == static_cast<ssize_t>(text.size());
    close(fd);
    return sent;
}

// A socket bound at path. Its descriptor stays open: in a child that then
// exits, the socket is left behind as by a viewer that was killed.
bool LeaveSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = SocketAddress(path);
    return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

struct Shown {
    unsigned long pid;
    std::string text;
};

std::vector<Shown> ShownLines(const std::string& output) {
    static const std::regex line("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\[(\\d+)\\] (.*)");
    std::vector<Shown> shown;
    std::istringstream lines(output);
    for (std::string text; std::getline(lines, text);) {
        std::smatch match;
        EXPECT_TRUE(std::regex_match(text, match, line)) << text;
        if (!match.empty()) shown.push_back({std::stoul(match[1]), match[2]});
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

// Shows what other processes send, with their pids, as the only viewer.
// SIGINT and SIGTERM end a viewer cleanly; one killed outright leaves its
// socket, which the next one takes over.
TEST_F(QpdbgviewTest, ShowsWhatOtherProcessesSendWithTheirPidsAsTheOnlyViewer) {
    for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
        Viewer viewer(env_, {});
        ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
        viewer.Signal(signal);
        EXPECT_EQ(viewer.Wait(), signal == SIGKILL ? -1 : 0) << signal;
        EXPECT_EQ(access(socket_.c_str(), F_OK), signal == SIGKILL ? 0 : -1) << signal;
    }
    Viewer viewer(env_, {"-n", "2"});
    ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
    struct stat status;
    ASSERT_EQ(stat(socket_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u);  // any user's service may send
    Viewer second(env_, {}, "second");
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Errors().find("another qpdbgview is already reading " + socket_), std::string::npos)
        << second.Errors();
    unsigned long first = SendFromProbe("first message");
    unsigned long other = SendFromProbe("gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(viewer.Wait(), 0);
    std::vector<Shown> shown = ShownLines(viewer.Output());
    ASSERT_EQ(shown.size(), 2u) << viewer.Output();
    EXPECT_EQ(shown[0].pid, first);
    // The line feed that ends the text is dropped, nothing else.
    EXPECT_EQ(shown[0].text, "first messagecommonDebugUtil.cpp19");
    EXPECT_EQ(shown[1].pid, other);
    EXPECT_NE(first, other);
    EXPECT_EQ(access(socket_.c_str(), F_OK), -1);
}

// Options as getopt reads them: attached values, long names, either form.
TEST_F(QpdbgviewTest, ShowsOneProcessOnly) {
    const std::string pid = std::to_string(getpid());
    for (const std::vector<std::string>& options : {std::vector<std::string>{"-p", pid, "-n", "1"},
                                                    {"-p" + pid, "-n1"},
                                                    {"--pid=" + pid, "--count", "1"}}) {
        Viewer viewer(env_, options);
        ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
        SendFromProbe("from another process");
        OutputDebugStringW(L"from the test");
        EXPECT_EQ(viewer.Wait(), 0) << options[0];
        std::vector<Shown> shown = ShownLines(viewer.Output());
        ASSERT_EQ(shown.size(), 1u) << viewer.Output();
        EXPECT_EQ(shown[0].pid, static_cast<unsigned long>(getpid()));
        EXPECT_EQ(shown[0].text, "from the test");
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
    std::vector<std::string> sent;
    for (const nltest::Row& text : texts) sent.push_back(text[0]);
    mode_t previous = umask(077);
    Viewer viewer(env_, {"-n", std::to_string(sent.size())});
    umask(previous);
    ASSERT_TRUE(viewer.WaitUntilReading()) << viewer.Errors();
    for (const std::string& folder : {env_.path("run"), env_.path("run/norlake")}) {
        struct stat status;
        ASSERT_EQ(stat(folder.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0755u) << folder;
    }
    pid_t sender = RunAs(kNobody, [&] { return SendTexts(socket_, sent); });
    ASSERT_GT(sender, 0);
    EXPECT_EQ(viewer.Wait(), 0);
    std::vector<Shown> shown = ShownLines(viewer.Output());
    ASSERT_EQ(shown.size(), sent.size()) << viewer.Output();
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(shown[i].text, texts[i][1]) << i;
        EXPECT_EQ(shown[i].pid, static_cast<unsigned long>(sender)) << i;
    }
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
        ASSERT_TRUE(c[2] == "@socket"          ? LeaveSocket(socket)
                    : c[2] == "@nobody-socket" ? RunAs(kNobody, [&] { return LeaveSocket(socket); }) > 0
                                               : nltest::RunCommand("cd '" + folder + "' && " + c[2]) == 0)
            << what;
        // Every entry but the lock file the viewer may make.
        std::string listing = "find '" + folder +
                              "' -mindepth 1 ! \\( -name debug.sock.lock -type f -user 0 \\) " +
                              "-printf '%P %y %U %l %s\n' | sort";
        std::string before, after;
        nltest::RunCommand(listing, &before);
        setenv("NL_DEBUG_CHANNEL", (folder + "/" + c[1]).c_str(), 1);
        Viewer viewer(env_, {});
        EXPECT_EQ(viewer.Wait(), 1) << what << ": " << viewer.Errors();
        EXPECT_NE(viewer.Errors().find(folder), std::string::npos) << what << ": " << viewer.Errors();
        nltest::RunCommand(listing, &after);
        EXPECT_EQ(after, before) << what;
    }
}

}  // namespace
