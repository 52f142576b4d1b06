// Loading a feature mapping file of 3,000 features, as DBG::ReloadFeatureConfiguration
// does: one reading and one parse of the file, every section, and the
// disabled lists applied against the new table. Each iteration gives the
// file another time stamp, so that it is read anew.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utilDebug.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "bench_machine.h"

namespace {

constexpr int kFeatures = 3000;

void SetString(const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlake\\Quillpost\\CurrentVersion", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   NlRegStringDataSize(value.c_str()));
    RegCloseKey(key);
}

// [f1] to [f3000], each with a module of its own and one all share.
std::string WriteMappingFile() {
    std::string folder = BenchDirectory() + "/config";
    mkdir(folder.c_str(), 0755);
    std::string path = folder + "/dbglog_FeatureMapping.ini";
    std::ofstream file(path);
    for (int i = 1; i <= kFeatures; ++i) file << "[f" << i << "]\nmod" << i << ".so\nshared.so\n";
    return path;
}

void BM_LoadFeatureMapping(benchmark::State& state) {
    std::string path = WriteMappingFile();
    SetString(L"DebugLogDisabledFeatures", state.range(0) ? L"f1;f2;f3000" : L"");
    time_t stamp = 1000000000;
    for (auto _ : state) {
        state.PauseTiming();
        struct timespec times[2] = {{++stamp, 0}, {stamp, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        state.ResumeTiming();
        DBG::ReloadFeatureConfiguration();
    }
    SetString(L"DebugLogDisabledFeatures", L"");
    DBG::ReloadFeatureConfiguration();
    state.SetLabel(state.range(0) ? "3,000 features, 3 disabled" : "3,000 features");
}
BENCHMARK(BM_LoadFeatureMapping)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
