// The record layout's compiled form against log4cxx's own pattern layout:
// for every pattern the compiled form takes, the same records give the same
// bytes; a pattern it does not take is written by log4cxx, unchanged.
#include "nltest.h"
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <log4cxx/spi/loggingevent.h>

#include "dbg_layout.h"

using namespace dbg_internal;

namespace {

using log4cxx::LogString;

// A row of data/library/layouts.txt: "compiled" or "log4cxx", and the pattern.
class LayoutTest : public ::testing::TestWithParam<nltest::Row> {
  protected:
    void SetUp() override { log4cxx::helpers::LogLog::setQuietMode(true); }
};

log4cxx::spi::LoggingEventPtr Event(const LogString& logger, const log4cxx::LevelPtr& level,
                                    const LogString& text, const char* file, int line) {
    return std::make_shared<log4cxx::spi::LoggingEvent>(logger, level, text,
                                                        log4cxx::spi::LocationInfo(file, file, "", line));
}

std::vector<log4cxx::spi::LoggingEventPtr> SampleEvents() {
    return {
        Event("utildebug_test", log4cxx::Level::getDebug(), "hello 42", "main.cpp", 17),
        Event("a.very.long.logger.name.that.passes.every.width.limit.so", log4cxx::Level::getError(),
              "<== left", "a_source_file_with_a_name_longer_than_thirty_two.cpp", 123456),
        Event("x", log4cxx::Level::getFatal(), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 %d %s {}", "", -1),
        Event("unknown", log4cxx::Level::getWarn(), "", "b.c", 0),
        Event("libindexer.so", log4cxx::Level::getInfo(), LogString(3000, 'm'), "c.cpp", 7),
    };
}

TEST_P(LayoutTest, CompiledFormWritesWhatThePatternLayoutWrites) {
    CRecordLayout layout;
    layout.setConversionPattern(GetParam().at(1));
    log4cxx::helpers::Pool pool;
    layout.activateOptions(pool);
    EXPECT_EQ(layout.IsCompiled(), GetParam()[0] == "compiled");
    for (const auto& event : SampleEvents()) {
        LogString expected;
        layout.log4cxx::PatternLayout::format(expected, event, pool);
        LogString actual;
        layout.format(actual, event, pool);
        EXPECT_EQ(actual, expected) << event->getLoggerName();
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, LayoutTest,
                         ::testing::ValuesIn(nltest::ReadRows("library/layouts.txt", true)),
                         [](const ::testing::TestParamInfo<nltest::Row>& info) {
                             return "Pattern" + std::to_string(info.index);
                         });

// A record handed over as fields, with a wide message and the prefix apart,
// reads as the same record formatted from a log4cxx event.
TEST(RecordLayoutTest, FieldsWithAWideMessageMatchTheEvent) {
    CRecordLayout layout;
    layout.setConversionPattern("%d{yyyy/MM/dd HH:mm:ss}  [%-5s:%5t]  [%28c][%32F(%4L)]  [%-5p]  %m%n");
    log4cxx::helpers::Pool pool;
    layout.activateOptions(pool);
    ASSERT_TRUE(layout.IsCompiled());
    const std::wstring wide = L"caf\u00e9 \u20ac \U0001F600 and more";
    auto event = Event("mod", log4cxx::Level::getDebug(),
                       "==> caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 and more", "w.cpp", 9);
    LogString expected;
    layout.log4cxx::PatternLayout::format(expected, event, pool);

    RecordFields fields;
    fields.logger = &event->getLoggerName();
    fields.level = &event->getLevel();
    fields.file = "w.cpp";
    fields.line = 9;
    fields.time = event->getTimeStamp();
    fields.prefix = "==> ";
    fields.wideText = wide.c_str();
    fields.length = wide.size();
    LogString actual;
    layout.FormatFields(fields, actual);
    EXPECT_EQ(actual, expected);
}

// Dates are kept per second: records a second apart, and records of two
// layouts with different date patterns, each get their own date; a date with
// milliseconds is not kept.
TEST(RecordLayoutTest, KeptDatesFollowTheClockAndTheLayout) {
    CRecordLayout seconds;
    seconds.setConversionPattern("%d{HH:mm:ss}");
    CRecordLayout days;
    days.setConversionPattern("%d{yyyy-MM-dd}{GMT}");
    log4cxx::helpers::Pool pool;
    CRecordLayout named;
    named.setConversionPattern("%d{DATE}");
    seconds.activateOptions(pool);
    days.activateOptions(pool);
    named.activateOptions(pool);
    ASSERT_TRUE(seconds.IsCompiled() && days.IsCompiled() && named.IsCompiled());
    LogString logger = "m";
    log4cxx::LevelPtr level = log4cxx::Level::getDebug();
    auto format = [&](const CRecordLayout& layout, log4cxx::log4cxx_time_t time) {
        RecordFields fields;
        fields.logger = &logger;
        fields.level = &level;
        fields.time = time;
        LogString out;
        layout.FormatFields(fields, out);
        return out;
    };
    // 2001-09-09 01:46:40 GMT, and one second and one day later.
    const log4cxx::log4cxx_time_t t = 1000000000LL * 1000000;
    EXPECT_EQ(format(days, t), "2001-09-09");
    LogString first = format(seconds, t);
    EXPECT_NE(format(seconds, t + 1000000), first);
    EXPECT_EQ(format(seconds, t + 999999), first);
    EXPECT_EQ(format(days, t + 86400LL * 1000000), "2001-09-10");
    EXPECT_EQ(format(seconds, t), first);
    // A named format shows milliseconds: it is never kept for a second.
    EXPECT_NE(format(named, t + 1000), format(named, t));
}

}  // namespace
