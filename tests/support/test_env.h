// A private world for one test case: its own temporary directory, registry
// database (NL_REGISTRY_FILE), TMPDIR and debug-output channel
// (NL_DEBUG_CHANNEL, where nobody listens), removed when the case ends.
#pragma once

namespace nltest {

class TestEnv {
  public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    const std::string& dir() const { return dir_; }
    const std::string& registryFile() const { return registryFile_; }
    // A path inside the private directory.
    std::string path(const std::string& relative) const { return dir_ + "/" + relative; }

  private:
    std::string dir_;
    std::string registryFile_;
    std::string savedTmpdir_;
    bool hadTmpdir_ = false;
};

// The product key's values, written through the platform's registry.
extern const wchar_t kProductKey[];
bool SetRegistryDword(const wchar_t* name, uint32_t value, const wchar_t* key = kProductKey);
bool SetRegistryString(const wchar_t* name, const std::wstring& value, const wchar_t* key = kProductKey);
bool DeleteRegistryValue(const wchar_t* name, const wchar_t* key = kProductKey);

// Replaces the platform's GetTickCount for the life of the object.
class FakeClock {
  public:
    explicit FakeClock(uint32_t start = 10000000);
    ~FakeClock();
    void Advance(uint32_t milliseconds);
};

// An ASCII path as the registry's wide text.
inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Waits until ready() holds, checking often, for at most timeout. The result
// fails with what was awaited when it never came:
//   ASSERT_TRUE(nltest::WaitUntil([&] { return FileExists(path); }, "the probe to start"));
testing::AssertionResult WaitUntil(const std::function<bool()>& ready, const std::string& what,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Runs body in a forked child process, whose exit status is body's result;
// the child's pid.
pid_t StartChild(const std::function<int()>& body);
// Waits for the child: its exit status, or 128 + the signal that ended it.
int ExitStatus(pid_t pid);
// Runs body in a child process: 0 when no check in it failed (a failure also
// shows in the child's output).
int InChild(const std::function<void()>& body);

// The file name of the running executable.
std::string ExecutableName();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Runs a shell command, returns its exit status; its output goes to *output.
int RunCommand(const std::string& command, std::string* output = nullptr);
// Runs a shell command in a UTS namespace of its own whose host name is
// hostName. False when this machine does not allow it (no unshare, no right).
bool RunWithHostName(const std::string& hostName, const std::string& command, std::string* output);

}  // namespace nltest
