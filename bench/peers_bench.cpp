// The peers a written record is measured against, each writing the same
// ~140-byte record into a file of the same directory with one write(2) per
// record: spdlog's rotating file sink flushed on every record (the fastest
// crash-safe logger at hand), log4cxx's own rolling file appender and
// pattern layout (narrow and wide), and the floor: one write(2) of a line
// formatted beforehand.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "bench_machine.h"

namespace {

constexpr size_t kRollSize = 10 * 1024 * 1024;
constexpr int kBackups = 2;

std::shared_ptr<spdlog::logger> SpdlogPeer() {
    static std::shared_ptr<spdlog::logger> logger = [] {
        auto made =
            spdlog::rotating_logger_mt("peer", BenchDirectory() + "/peer-spdlog.log", kRollSize, kBackups);
        made->set_pattern("%Y/%m/%d %H:%M:%S %z  [%-5P:%5t]  [%28n][%32s(%4#)]  [%-5l]  %v");
        made->set_level(spdlog::level::trace);
        made->flush_on(spdlog::level::trace);
        return made;
    }();
    return logger;
}

void BM_PeerSpdlogRotatingFlushed(benchmark::State& state) {
    std::shared_ptr<spdlog::logger> logger = SpdlogPeer();
    int i = 0;
    for (auto _ : state)
        logger->log(spdlog::source_loc{"bench.cpp", kBenchLine, ""}, spdlog::level::debug, "record {} of {}",
                    ++i, "bench");
}
BENCHMARK(BM_PeerSpdlogRotatingFlushed)->Threads(1)->Threads(2)->UseRealTime();

// log4cxx's own appender and layout with the library's default pattern, on a
// logger of its own that does not pass records on to the root logger.
log4cxx::LoggerPtr Log4cxxPeer() {
    static log4cxx::LoggerPtr logger = [] {
        log4cxx::helpers::Pool pool;
        auto layout = std::make_shared<log4cxx::PatternLayout>(
            LOG4CXX_STR("%d{yyyy/MM/dd HH:mm:ss Z}  [%-5t:%5t]  [%28c][%32F(%4L)]  [%-5p]  %m%n"));
        auto appender = std::make_shared<log4cxx::rolling::RollingFileAppender>();
        appender->setLayout(layout);
        appender->setFile(BenchDirectory() + "/peer-log4cxx.log");
        appender->setMaxFileSize(LOG4CXX_STR("10MB"));
        appender->setMaxBackupIndex(kBackups);
        appender->activateOptions(pool);
        log4cxx::LoggerPtr made = log4cxx::Logger::getLogger("peer.log4cxx");
        made->setAdditivity(false);
        made->addAppender(appender);
        made->setLevel(log4cxx::Level::getAll());
        return made;
    }();
    return logger;
}

void BM_PeerLog4cxxForcedLog(benchmark::State& state) {
    log4cxx::LoggerPtr logger = Log4cxxPeer();
    log4cxx::LevelPtr level = log4cxx::Level::getDebug();
    int i = 0;
    for (auto _ : state) {
        std::string message = "record " + std::to_string(++i) + " of bench";
        logger->forcedLog(level, message,
                          log4cxx::spi::LocationInfo("bench.cpp", "bench.cpp", "", kBenchLine));
    }
}
BENCHMARK(BM_PeerLog4cxxForcedLog)->Threads(1)->Threads(2)->UseRealTime();

void BM_PeerLog4cxxForcedLogWide(benchmark::State& state) {
    log4cxx::LoggerPtr logger = Log4cxxPeer();
    log4cxx::LevelPtr level = log4cxx::Level::getDebug();
    int i = 0;
    for (auto _ : state) {
        std::wstring message = L"record " + std::to_wstring(++i) + L" of bench";
        logger->forcedLog(level, message,
                          log4cxx::spi::LocationInfo("bench.cpp", "bench.cpp", "", kBenchLine));
    }
}
BENCHMARK(BM_PeerLog4cxxForcedLogWide)->Threads(1)->Threads(2)->UseRealTime();

// What no logger that writes each record before returning can beat.
int FloorFile() {
    static const int file =
        open((BenchDirectory() + "/peer-floor.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return file;
}

void BM_PeerFloorOneWrite(benchmark::State& state) {
    const std::string line =
        "2026/12/06 04:25:06 +0000  [12345:12345]  [             utildebug_bench][                       "
        "bench.cpp(  42)]  [DEBUG]  record 1 of bench\n";
    int file = FloorFile();
    for (auto _ : state) benchmark::DoNotOptimize(write(file, line.data(), line.size()));
    if (state.thread_index() == 0 && ftruncate(file, 0) != 0) state.SkipWithError("the floor's file stays");
}
BENCHMARK(BM_PeerFloorOneWrite)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
