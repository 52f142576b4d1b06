// The record file appender against log4cxx's own rolling file appender: the
// same records, the same options, the same files and backups, byte for byte,
// whether a record comes as a log4cxx event or straight from its fields
// through the compiled layout.
#include <log4cxx/helpers/loglog.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <log4cxx/spi/loggingevent.h>

#include "nltest.h"

#include "dbg_appender.h"

using namespace dbg_internal;

namespace {

using namespace nltest;

using log4cxx::LogString;

// A case of data/library/rolling.txt (its header says what the fields are).
class AppenderTest : public ::testing::TestWithParam<Row> {
  protected:
    void SetUp() override { log4cxx::helpers::LogLog::setQuietMode(true); }
    TestEnv env_;
};

const char kPattern[] = "%d{yyyy/MM/dd HH:mm:ss} [%-8c] [%12F(%4L)] [%-5p] %m%n";

template <typename Appender, typename Layout>
std::shared_ptr<Appender> Configure(const std::string& path, const Row& c) {
    auto appender = std::make_shared<Appender>();
    appender->setLayout(std::make_shared<Layout>());
    log4cxx::cast<log4cxx::PatternLayout>(appender->getLayout())->setConversionPattern(kPattern);
    appender->setFile(path);
    appender->setName(LOG4CXX_STR("rootAppender"));
    appender->setMaxFileSize(c[2]);
    appender->setMaxBackupIndex(std::stoi(c[1]));
    appender->setEncoding(LOG4CXX_STR("utf-8"));
    log4cxx::helpers::Pool pool;
    appender->activateOptions(pool);
    return appender;
}

// Texts of many lengths, some far longer than log4cxx's 1 KiB pieces, some
// with characters of two, three and four bytes.
LogString RecordText(int i) {
    LogString text = "record " + std::to_string(i) + " ";
    size_t length = static_cast<size_t>((i * 613) % 5000);
    const char* pieces[] = {"abcdefgh", "\xC3\xA9t\xC3\xA9 ", "\xE2\x82\xAC ", "\xF0\x9F\x98\x80 "};
    while (text.size() < length) text += pieces[i % 4];
    return text;
}

TEST_P(AppenderTest, WritesTheFilesAndBackupsThatLog4cxxWrites) {
    const Row& c = GetParam();
    std::string reference = env_.path("log4cxx/x.log");
    std::string ours = env_.path("ours/x.log");
    RunCommand("mkdir -p '" + env_.path("log4cxx") + "' '" + env_.path("ours") + "'");
    std::string existing(std::stoul(c[3]), 'o');
    for (size_t i = 80; i < existing.size(); i += 81) existing[i] = '\n';
    if (!existing.empty()) {
        WriteFile(reference, existing);
        WriteFile(ours, existing);
    }

    auto log4cxxAppender =
        Configure<log4cxx::rolling::RollingFileAppender, log4cxx::PatternLayout>(reference, c);
    auto recordAppender = Configure<CRecordFileAppender, CRecordLayout>(ours, c);
    ASSERT_TRUE(log4cxx::cast<CRecordLayout>(recordAppender->getLayout())->IsCompiled());
    log4cxx::helpers::Pool pool;
    const LogString loggers[] = {"worker", "libindexer.so"};
    const log4cxx::LevelPtr levels[] = {log4cxx::Level::getDebug(), log4cxx::Level::getError(),
                                        log4cxx::Level::getWarn()};
    for (int i = 0; i < 1500; ++i) {
        if (i == std::stoi(c[4])) {
            for (auto appender :
                 {std::static_pointer_cast<log4cxx::rolling::RollingFileAppender>(log4cxxAppender),
                  std::static_pointer_cast<log4cxx::rolling::RollingFileAppender>(recordAppender)}) {
                appender->setMaxBackupIndex(std::stoi(c[5]));
                appender->activateOptions(pool);
            }
        }
        auto event =
            std::make_shared<log4cxx::spi::LoggingEvent>(loggers[i % 2], levels[i % 3], RecordText(i),
                                                         log4cxx::spi::LocationInfo("src/x.cpp", "x", "", i));
        log4cxxAppender->doAppend(event, pool);
        if (i % 3 == 0)
            recordAppender->doAppend(event, pool);
        else
            ASSERT_TRUE(recordAppender->AppendFields(RecordFieldsOf(event)));
    }
    log4cxxAppender->close();
    recordAppender->close();

    ASSERT_TRUE(FileExists(reference + ".1")) << "the case must roll";
    for (int index = 0; index <= 16; ++index) {
        std::string suffix = index == 0 ? "" : "." + std::to_string(index);
        ASSERT_EQ(FileExists(ours + suffix), FileExists(reference + suffix)) << suffix;
        EXPECT_TRUE(ReadFile(ours + suffix) == ReadFile(reference + suffix)) << "x.log" << suffix;
    }
}

INSTANTIATE_TEST_SUITE_P(Options, AppenderTest, ::testing::ValuesIn(ReadRows("library/rolling.txt")),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param[0]; });

}  // namespace
