// What a record costs: written (narrow and wide) against a raw log4cxx
// forcedLog through the same layout and appender; rejected by the threshold;
// in a process whose logging is off; and a due settings refresh.
//
// Runs against a private registry and log directory under $TMPDIR, or
// /dev/shm when TMPDIR is not set, so that the disk's latency does not drown
// the library's own cost. Compare medians of interleaved repetitions:
//   utildebug_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <stdlib.h>
#include <utilDebug.h>
#include <windows.h>

#include <atomic>
#include <string>

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

void PrepareMachine() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/dev/shm") + "/utildebug-bench-XXXXXX";
    g_workDir = mkdtemp(&pattern[0]);
    setenv("NL_REGISTRY_FILE", (g_workDir + "/registry.db").c_str(), 1);
    SetString(L"HomeDir", std::wstring(g_workDir.begin(), g_workDir.end()));
    SetString(L"DebugModule", L"utildebug_bench=1");
    SetDword(L"DebugLevel", 3);
    SetDword(L"DebugLogCount", 2);
    // The first record sets the back end up.
    DBG::DebugLogEx(DBG_THIS_MODULE, 258, "bench.cpp", 1, "benchmark starts");
}

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

// The same record handed straight to log4cxx: the root logger's appender and
// layout, a message built by the caller.
void BM_RawLog4cxxForcedLog(benchmark::State& state) {
    log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger("raw");
    log4cxx::LevelPtr level = log4cxx::Level::getDebug();
    int i = 0;
    for (auto _ : state) {
        std::string message = "record " + std::to_string(++i) + " of bench";
        logger->forcedLog(level, message, log4cxx::spi::LocationInfo("bench.cpp", "bench.cpp", "", 42));
    }
}
BENCHMARK(BM_RawLog4cxxForcedLog)->Threads(1)->Threads(2)->UseRealTime();

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

// ---- A due refresh ------------------------------------------------------------------------

std::atomic<DWORD> g_now{0};
DWORD BenchClock() { return g_now.load(std::memory_order_relaxed); }

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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::string cleanup = "rm -rf '" + g_workDir + "'";
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
