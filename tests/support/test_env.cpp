#include "nltest.h"

namespace nltest {

TestEnv::TestEnv() {
    const char* base = getenv("TMPDIR");
    hadTmpdir_ = base != nullptr;
    if (base) savedTmpdir_ = base;
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/nltest-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    // Traversable by everyone, so that a case may drop its privileges.
    chmod(dir_.c_str(), 0755);
    // The registry's folder exists, as on an installed machine: a registry
    // file is created only in a folder that exists.
    mkdir((dir_ + "/registry").c_str(), 0755);
    chmod((dir_ + "/registry").c_str(), 0755);
    registryFile_ = dir_ + "/registry/registry.db";
    setenv("NL_REGISTRY_FILE", registryFile_.c_str(), 1);
    mkdir((dir_ + "/tmp").c_str(), 0755);
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
    // Nothing a case sends reaches the machine's own channel.
    setenv("NL_DEBUG_CHANNEL", (dir_ + "/nobody.sock").c_str(), 1);
}

TestEnv::~TestEnv() {
    if (hadTmpdir_)
        setenv("TMPDIR", savedTmpdir_.c_str(), 1);
    else
        unsetenv("TMPDIR");
    unsetenv("NL_DEBUG_CHANNEL");
    if (!getenv("NLTEST_KEEP")) RunCommand("rm -rf '" + dir_ + "'");
}

const wchar_t kProductKey[] = L"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion";

namespace {

// Runs change on the key at path, created when missing; true when it succeeded.
bool ChangeKey(const wchar_t* path, const std::function<LONG(HKEY)>& change) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = change(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::atomic<uint32_t> g_fakeNow{0};
DWORD FakeTickCount() { return g_fakeNow.load(); }

}  // namespace

bool SetRegistryDword(const wchar_t* name, uint32_t value, const wchar_t* keyPath) {
    return ChangeKey(keyPath, [&](HKEY key) {
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    });
}

bool SetRegistryString(const wchar_t* name, const std::wstring& value, const wchar_t* keyPath) {
    return ChangeKey(keyPath, [&](HKEY key) {
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              NlRegStringDataSize(value.c_str()));
    });
}

bool DeleteRegistryValue(const wchar_t* name, const wchar_t* keyPath) {
    return ChangeKey(keyPath, [&](HKEY key) { return RegDeleteValueW(key, name); });
}

FakeClock::FakeClock(uint32_t start) {
    g_fakeNow = start;
    NlSetTickSourceForTesting(FakeTickCount);
}

FakeClock::~FakeClock() { NlSetTickSourceForTesting(nullptr); }

void FakeClock::Advance(uint32_t milliseconds) { g_fakeNow += milliseconds; }

testing::AssertionResult WaitUntil(const std::function<bool()>& ready, const std::string& what,
                                   std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    // Yields at first, for waits between threads, then sleeps, for waits on
    // other processes.
    for (int polls = 0; !ready(); ++polls) {
        if (Clock::now() - start > timeout)
            return testing::AssertionFailure()
                   << "gave up after " << timeout.count() << " ms waiting for " << what;
        if (polls < 1000)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return testing::AssertionSuccess();
}

// The file, not argv[0]: the library names a process by its executable.
std::string ExecutableName() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string whole(path, length > 0 ? static_cast<size_t>(length) : 0);
    return whole.substr(whole.rfind('/') + 1);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool RunWithHostName(const std::string& hostName, const std::string& command, std::string* output) {
    if (RunCommand("unshare --uts true 2>/dev/null") != 0) return false;
    setenv("NLTEST_HOST", hostName.c_str(), 1);
    setenv("NLTEST_COMMAND", command.c_str(), 1);
    RunCommand("unshare --uts sh -c 'hostname \"$NLTEST_HOST\" && exec sh -c \"$NLTEST_COMMAND\"'", output);
    return true;
}

pid_t StartChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int InChild(const std::function<void()>& body) {
    return ExitStatus(StartChild([&] { return body(), testing::Test::HasFailure() ? 1 : 0; }));
}

}  // namespace nltest
