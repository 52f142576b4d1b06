// What a record costs: written (narrow and wide, from one module and from a
// thousand), rejected by the threshold, in a process whose logging is off;
// what a thread keeps after a long message; and a due settings refresh. The
// peers are in peers_bench.cpp. Compare medians of interleaved repetitions:
//   utildebug_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <utilDebug.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "bench_machine.h"
#include "ratio_reporter.h"
#include "thread_memory.h"

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion";

void SetString(const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   NlRegStringDataSize(value.c_str()));
    RegCloseKey(key);
}

void SetDword(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
}

std::string g_workDir;

}  // namespace

const std::string& BenchDirectory() { return g_workDir; }

bool CleanUpMachine() {
    std::string cleanup = "rm -rf '" + g_workDir + "'";
    return system(cleanup.c_str()) == 0;
}

void PrepareMachine() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/dev/shm") + "/utildebug-bench-XXXXXX";
    g_workDir = mkdtemp(&pattern[0]);
    setenv("NL_REGISTRY_FILE", (g_workDir + "/registry.db").c_str(), 1);
    SetString(L"HomeDir", std::wstring(g_workDir.begin(), g_workDir.end()));
    SetString(L"DebugModule", L"utildebug_bench=1");
    SetDword(L"DebugLevel", 3);
    SetDword(L"DebugLogCount", 2);
    // Where feature_mapping_bench.cpp puts its mapping file.
    SetString(L"DataRootPath", std::wstring(g_workDir.begin(), g_workDir.end()));
    // The first record sets the back end up.
    DBG::DebugLogEx(DBG_THIS_MODULE, 258, "bench.cpp", 1, "benchmark starts");
}

namespace {

// ---- Written records ---------------------------------------------------------------

void BM_WrittenRecordNarrow(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "src/bench.cpp", 42, "record %d of %s", ++i, "bench");
}
BENCHMARK(BM_WrittenRecordNarrow)->Threads(1)->Threads(2)->UseRealTime();

void BM_WrittenRecordWide(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, L"src/bench.cpp", 42, L"record %d of %s", ++i, L"bench");
}
BENCHMARK(BM_WrittenRecordWide)->Threads(1)->Threads(2)->UseRealTime();

// A thousand modules logging in turn: each record finds its module's logger
// anew. Any address inside a module stands for it, so a thousand addresses
// of this program make a thousand module handles of one name.
char g_moduleAddresses[1000];

void BM_WrittenRecordManyModules(benchmark::State& state) {
    // Each module's first record finds its name and logger: not measured.
    if (state.thread_index() == 0)
        for (char& address : g_moduleAddresses)
            DBG::DebugLogEx(reinterpret_cast<HINSTANCE>(&address), 258, "src/bench.cpp", 42, "warm-up");
    size_t next = static_cast<size_t>(state.thread_index()) * 500;
    int i = 0;
    for (auto _ : state) {
        HINSTANCE module = reinterpret_cast<HINSTANCE>(&g_moduleAddresses[next++ % 1000]);
        DBG::DebugLogEx(module, 258, "src/bench.cpp", 42, "record %d of %s", ++i, "bench");
    }
}
BENCHMARK(BM_WrittenRecordManyModules)->Threads(1)->Threads(2)->UseRealTime();

// ---- Memory ----------------------------------------------------------------------------

// What a thread keeps after a long message (tests/support/thread_memory.h).
void BM_RetainedAfterLongMessage(benchmark::State& state) {
    size_t narrow = 0, wide = 0;
    for (auto _ : state) {
        narrow = nltest::BytesKeptAfterLongMessage("src/bench.cpp", "%s");
        wide = nltest::BytesKeptAfterLongMessage(L"src/bench.cpp", L"%s");
    }
    state.counters["narrow_bytes"] = static_cast<double>(narrow);
    state.counters["wide_bytes"] = static_cast<double>(wide);
}
BENCHMARK(BM_RetainedAfterLongMessage)->Iterations(1);

// ---- Records that are not written ---------------------------------------------------

// Mode 1 (ERROR) rejects debug records before anything is formatted.
void BM_RejectedRecord(benchmark::State& state) {
    if (state.thread_index() == 0) DBG::SetDebugMode(1);
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "src/bench.cpp", 42, "record %d of %s", ++i, "bench");
    if (state.thread_index() == 0) DBG::SetDebugMode(3);
}
BENCHMARK(BM_RejectedRecord)->Threads(1)->Threads(2);

// A process that the module list leaves out: a clock read and a byte test.
void BM_LoggingOff(benchmark::State& state) {
    if (state.thread_index() == 0) DBG::SetDebugModules(L"someone_else=1");
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "src/bench.cpp", 42, "record %d of %s", ++i, "bench");
    if (state.thread_index() == 0) DBG::SetDebugModules(L"utildebug_bench=1");
}
BENCHMARK(BM_LoggingOff)->Threads(1)->Threads(2);

// ---- The recorder ---------------------------------------------------------------------------

std::atomic<DWORD> g_now{0};
DWORD BenchClock() { return g_now.load(std::memory_order_relaxed); }

// Sets DebugLogRecorder and has the process read it: a refresh falls due.
void SetRecorder(DWORD records) {
    SetDword(L"DebugLogRecorder", records);
    g_now = GetTickCount() + 120000;
    NlSetTickSourceForTesting(BenchClock);
    DBG::DebugLogEx(DBG_THIS_MODULE, 4097, "bench.cpp", 1, "recorder %lu",
                    static_cast<unsigned long>(records));
    NlSetTickSourceForTesting(nullptr);
}

// Mode 1 with DebugLogRecorder 1000: every debug record is formatted and kept.
void BM_KeptRecord(benchmark::State& state) {
    if (state.thread_index() == 0) {
        DBG::SetDebugMode(1);
        SetRecorder(1000);
    }
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "src/bench.cpp", 42, "record %d of %s", ++i, "bench");
    if (state.thread_index() == 0) {
        SetRecorder(0);
        DBG::SetDebugMode(3);
    }
}
BENCHMARK(BM_KeptRecord)->Threads(1)->Threads(2);

// A written record while the recorder is on (and keeps nothing, at mode 3).
void BM_WrittenRecordRecorderOn(benchmark::State& state) {
    if (state.thread_index() == 0) SetRecorder(1000);
    int i = 0;
    for (auto _ : state)
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "src/bench.cpp", 42, "record %d of %s", ++i, "bench");
    if (state.thread_index() == 0) SetRecorder(0);
}
BENCHMARK(BM_WrittenRecordRecorderOn)->Threads(1)->Threads(2)->UseRealTime();

// ---- A due refresh ------------------------------------------------------------------------

// Every call finds the refresh due: it reads the settings from the registry
// and applies none, since none changed. Logging is off so that only the
// refresh is measured.
void BM_DueRefresh(benchmark::State& state) {
    DBG::SetDebugModules(L"someone_else=1");
    SetString(L"DebugModule", L"someone_else=1");
    g_now = 100000;
    NlSetTickSourceForTesting(BenchClock);
    DBG::DebugLogEx(DBG_THIS_MODULE, 258, "bench.cpp", 1, "settle");
    for (auto _ : state) {
        g_now += 60001;
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, "bench.cpp", 1, "refresh");
    }
    NlSetTickSourceForTesting(nullptr);
    SetString(L"DebugModule", L"utildebug_bench=1");
    DBG::SetDebugModules(L"utildebug_bench=1");
}
BENCHMARK(BM_DueRefresh);

}  // namespace

int main(int argc, char** argv) {
    PrepareMachine();
    benchmark::Initialize(&argc, argv);
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return CleanUpMachine() ? 0 : 1;
}
