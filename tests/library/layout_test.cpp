// The record layout's kept dates: what a record of the compiled form cannot
// show through a process, whose clock runs on (the compiled form's output is
// the logging cases' concern).
#include "nltest.h"
#include <log4cxx/helpers/pool.h>

#include "dbg_layout.h"

using namespace dbg_internal;

namespace {

using log4cxx::LogString;

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
