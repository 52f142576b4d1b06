// What a record sent to the system journal costs, beside the same record
// written to the file and beside spdlog's systemd sink sending the same
// message with its location. Run beside a journald of its own (make bench does
// it through scripts/with-journald.sh), never the machine's: each send is a
// datagram that journald must read, so the figures include waiting for it
// when its socket's queue is full, for every contender alike. The
// destination is switched between benchmarks the way a running process
// switches it, by the settings refresh, on a clock of the benchmark's own.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/systemd_sink.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <utilDebug.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion";
constexpr int kBenchLine = 42;

void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void SetString(const wchar_t* name, const std::wstring& value) {
    SetValue(name, REG_SZ, value.c_str(), NlRegStringDataSize(value.c_str()));
}

void SetDword(const wchar_t* name, DWORD value) { SetValue(name, REG_DWORD, &value, 4); }

std::atomic<DWORD> g_now{10000000};
DWORD BenchClock() { return g_now.load(std::memory_order_relaxed); }

// Makes the running process take the settings now: the next record finds the
// refresh due.
void Refresh(const wchar_t* destination, DWORD mode) {
    SetString(L"DebugLogDestination", destination);
    SetDword(L"DebugLevel", mode);
    g_now += 61000;
    DBG::DebugLogEx(DBG_THIS_MODULE, 65537, "bench.cpp", 1, "settings refreshed");
}

void WrittenRecords(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "src/bench.cpp", kBenchLine, "record %d of %s", ++i, "bench");
}

void BM_FileRecord(benchmark::State& state) {
    if (state.thread_index() == 0) Refresh(L"file", 3);
    WrittenRecords(state);
}
BENCHMARK(BM_FileRecord)->Threads(1)->Threads(2)->UseRealTime();

void BM_JournalRecord(benchmark::State& state) {
    if (state.thread_index() == 0) Refresh(L"journal", 3);
    WrittenRecords(state);
}
BENCHMARK(BM_JournalRecord)->Threads(1)->Threads(2)->UseRealTime();

void BM_JournalRecordWide(benchmark::State& state) {
    if (state.thread_index() == 0) Refresh(L"journal", 3);
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, L"src/bench.cpp", kBenchLine, L"record %d of %s", ++i,
                        L"bench");
}
BENCHMARK(BM_JournalRecordWide)->Threads(1)->UseRealTime();

// Rejected by the threshold while the destination is the journal: the
// destination is looked at only after the gates.
void BM_RejectedRecordJournal(benchmark::State& state) {
    if (state.thread_index() == 0) Refresh(L"journal", 0);
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "src/bench.cpp", kBenchLine, "record %d of %s", ++i, "bench");
}
BENCHMARK(BM_RejectedRecordJournal)->Threads(1);

// spdlog's own sink for the journal, which sends MESSAGE, PRIORITY,
// SYSLOG_IDENTIFIER and the location (CODE_FILE, CODE_LINE, CODE_FUNC).
std::shared_ptr<spdlog::logger> SpdlogJournalPeer() {
    static std::shared_ptr<spdlog::logger> logger = [] {
        auto sink = std::make_shared<spdlog::sinks::systemd_sink_mt>("utildebug_journal_bench");
        auto made = std::make_shared<spdlog::logger>("peer", sink);
        made->set_level(spdlog::level::trace);
        return made;
    }();
    return logger;
}

void BM_PeerSpdlogSystemdSink(benchmark::State& state) {
    std::shared_ptr<spdlog::logger> logger = SpdlogJournalPeer();
    int i = 0;
    for (auto _ : state)
        logger->log(spdlog::source_loc{"bench.cpp", kBenchLine, ""}, spdlog::level::debug, "record {} of {}",
                    ++i, "bench");
}
BENCHMARK(BM_PeerSpdlogSystemdSink)->Threads(1)->Threads(2)->UseRealTime();

std::string g_workDir;

}  // namespace

int main(int argc, char** argv) {
    struct stat status;
    if (stat("/run/systemd/journal/socket", &status) != 0) {
        std::fprintf(stderr,
                     "utildebug_journal_bench: no journal to send to; run it through "
                     "scripts/with-journald.sh (make bench does)\n");
        return 77;
    }
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/dev/shm") + "/utildebug-journal-bench-XXXXXX";
    g_workDir = mkdtemp(&pattern[0]);
    setenv("NL_REGISTRY_FILE", (g_workDir + "/registry.db").c_str(), 1);
    SetString(L"HomeDir", std::wstring(g_workDir.begin(), g_workDir.end()));
    SetString(L"DebugModule", L"utildebug_journal_bench=1");
    SetDword(L"DebugLevel", 3);
    SetDword(L"DebugLogCount", 2);
    NlSetTickSourceForTesting(BenchClock);
    DBG::DebugLogEx(DBG_THIS_MODULE, 258, "bench.cpp", 1, "benchmark starts");

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::string cleanup = "rm -rf '" + g_workDir + "'";
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
