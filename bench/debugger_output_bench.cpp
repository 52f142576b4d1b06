// What DebugStringToWindbg costs a caller: with nobody listening (the text
// is lost at once), and with a listener that drains the channel as
// qpdbgview does. Targets: under 2 us and under 5 us per message.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>
#include <utilDebug.h>

#include <string>

#include "debug_listener.h"

namespace {

std::string ChannelPath(const char* name) {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/utildebug-bench-" + std::to_string(getpid()) + name;
}

void BM_DebugStringNobodyListening(benchmark::State& state) {
    setenv("NL_DEBUG_CHANNEL", ChannelPath("-nobody.sock").c_str(), 1);
    int i = 0;
    for (auto _ : state) DebugStringToWindbg(L"worker %d: request %s done", ++i, L"GET /status");
    unsetenv("NL_DEBUG_CHANNEL");
}
BENCHMARK(BM_DebugStringNobodyListening);

void BM_DebugStringWithListener(benchmark::State& state) {
    std::string path = ChannelPath("-listener.sock");
    nltest::DebugListener listener(path);
    listener.StartDraining();
    int i = 0;
    for (auto _ : state) DebugStringToWindbg(L"worker %d: request %s done", ++i, L"GET /status");
    unsetenv("NL_DEBUG_CHANNEL");
    state.counters["delivered"] = benchmark::Counter(static_cast<double>(listener.received()) /
                                                     static_cast<double>(state.iterations()));
}
BENCHMARK(BM_DebugStringWithListener);

void BM_DebugStringOverloadWithListener(benchmark::State& state) {
    std::string path = ChannelPath("-listener2.sock");
    nltest::DebugListener listener(path);
    listener.StartDraining();
    std::wstring text = L"worker 7: request GET /status done";
    for (auto _ : state) DebugStringToWindbg(text);
    unsetenv("NL_DEBUG_CHANNEL");
}
BENCHMARK(BM_DebugStringOverloadWithListener);

}  // namespace
