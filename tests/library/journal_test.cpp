// Records sent to the system journal (DebugLogDestination), read back from a
// journald of the test's own, started by scripts/with-journald.sh in a mount
// namespace of its own: the fields and priorities of each entry, both
// destinations at once, a switch from the file to the journal and back by the
// refresh, a silenced module, and the file taking the records when no journal
// listens. Without root (or where namespaces are refused) the cases skip.

#include "nltest.h"

namespace {

using namespace nltest;

using Entry = std::map<std::string, std::string>;

// The string fields of one line of `journalctl -o json`.
Entry ParseEntry(const std::string& line) {
    static const std::regex field("\"([A-Z0-9_]+)\":\"((?:[^\"\\\\]|\\\\.)*)\"");
    Entry entry;
    for (auto it = std::sregex_iterator(line.begin(), line.end(), field); it != std::sregex_iterator(); ++it)
        entry[(*it)[1]] = (*it)[2];
    return entry;
}

class JournalTest : public testing::Test {
  protected:
    void SetUp() override {
        probe_ = InstallProbe(env_, "bin/jprobe");
        ASSERT_TRUE(SetRegistryString(L"DebugModule", L"jprobe:1"));
        ASSERT_TRUE(UseReadableLayout());
        ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 3));
    }

    // Runs the probe with commands beside a journald of its own (or none);
    // false, with the reason in skip_, when the machine allows no namespace.
    bool RunProbe(const std::string& commands, bool journald = true, std::string* printed = nullptr) {
        WriteFile(env_.path("commands.txt"), commands);
        std::string own;
        std::string& output = printed ? *printed : own;
        int status =
            RunCommand("'" SCRIPTS_DIR "/with-journald.sh' " + std::string(journald ? "" : "--no-journald ") +
                           "'" + env_.path("j") + "' timeout 60 sh -c 'exec \"$0\" < \"$1\"' '" + probe_ +
                           "' '" + env_.path("commands.txt") + "' 2>&1",
                       &output);
        if (status == 77) {
            skip_ = output;
            return false;
        }
        EXPECT_EQ(status, 0) << output;
        return true;
    }

    // The probe's entries, oldest first.
    std::vector<Entry> Entries() {
        std::string output;
        RunCommand("journalctl --no-pager -o json -D '" + env_.path("j/journal") +
                       "' SYSLOG_IDENTIFIER=jprobe 2>/dev/null",
                   &output);
        std::vector<Entry> entries;
        std::istringstream lines(output);
        std::string line;
        while (std::getline(lines, line))
            if (!line.empty()) entries.push_back(ParseEntry(line));
        return entries;
    }

    std::vector<Record> FileRecords() { return ReadRecords(env_.path("tmp/jprobe.log")); }

    TestEnv env_;
    std::string probe_;
    std::string skip_;
};

// One entry per record of data/library/journal_levels.txt with the caller's
// fields. "file;journal" writes both, and the stress banner, the library's
// own records, follows the destination.
TEST_F(JournalTest, EachRecordIsOneEntryWithItsFieldsAndPriorityAndTheBannerToo) {
    const std::vector<Row> rows = ReadRows("library/journal_levels.txt");
    ASSERT_TRUE(SetRegistryString(L"DebugLogDestination", L"File; Journal"));
    ASSERT_TRUE(SetRegistryDword(L"LogCriticalInfo", 1));
    std::string commands;
    for (const Row& row : rows) commands += "level " + row[0] + " " + row[1] + "\n";
    if (!RunProbe(commands + "banner\n")) GTEST_SKIP() << skip_;

    std::vector<Entry> entries = Entries();
    ASSERT_GT(entries.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i][0]);
        Entry& e = entries[i];
        EXPECT_EQ(e["MESSAGE"], rows[i][2]);
        EXPECT_EQ(e["PRIORITY"], rows[i][3]);
        EXPECT_EQ(e["QUILLPOST_LEVEL_CODE"], rows[i][0]);
        EXPECT_EQ(e["QUILLPOST_LOGGER"], "jprobe");
        EXPECT_EQ(e["CODE_FILE"], "log_probe.cpp");
        EXPECT_FALSE(e["CODE_LINE"].empty());
        EXPECT_EQ(e["TID"], e["_PID"]);  // the probe logs on its main thread
    }
    EXPECT_EQ(entries[rows.size()]["QUILLPOST_LOGGER"], "libutildebug.so");
    EXPECT_EQ(entries.size(), FileRecords().size());
}

// The records kept by the recorder reach the journal before the error, each
// an entry that says it was kept.
TEST_F(JournalTest, KeptRecordsAreEntriesThatSaySo) {
    ASSERT_TRUE(SetRegistryString(L"DebugLogDestination", L"journal"));
    ASSERT_TRUE(SetRegistryDword(L"DebugLevel", 1));
    ASSERT_TRUE(SetRegistryDword(L"DebugLogRecorder", 5));
    if (!RunProbe("log kept\nlevel 4098 the error\n")) GTEST_SKIP() << skip_;
    std::vector<Entry> entries = Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["MESSAGE"], "kept");
    EXPECT_EQ(entries[0]["PRIORITY"], "7");
    EXPECT_EQ(entries[0]["QUILLPOST_KEPT"], "1");
    EXPECT_EQ(entries[1]["MESSAGE"], "the error");
    EXPECT_EQ(entries[1].count("QUILLPOST_KEPT"), 0u);
    EXPECT_TRUE(FileRecords().empty());
}

// The refresh moves a running process from the file to the journal and back.
TEST_F(JournalTest, RefreshSwitchesFileToJournalAndBack) {
    ASSERT_TRUE(SetRegistryString(L"DebugLogDestination", L"file"));
    // The probe asks for each change by creating a file, and waits for it.
    std::thread changer([&] {
        for (std::string to : {"journal", "file"}) {
            if (!WaitUntil([&] { return FileExists(env_.path("want-" + to)); }, "the probe's request"))
                return;
            SetRegistryString(L"DebugLogDestination", Widen(to));
            WriteFile(env_.path("to-" + to), "");
        }
    });
    bool ran = RunProbe("clock 10000000\nlog first in the file\ntouch " + env_.path("want-journal") +
                        "\nwait " + env_.path("to-journal") + "\nadvance 61000\nlog in the journal\ntouch " +
                        env_.path("want-file") + "\nwait " + env_.path("to-file") +
                        "\nadvance 61000\nlog back in the file\n");
    WriteFile(env_.path("want-journal"), "");
    WriteFile(env_.path("want-file"), "");
    changer.join();
    if (!ran) GTEST_SKIP() << skip_;
    std::vector<Entry> entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["MESSAGE"], "in the journal");
    std::vector<Record> records = FileRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "first in the file");
    EXPECT_EQ(records[1].text, "back in the file");
}

// A journal that takes no more (journald stopped, its queue full) holds no
// record up: what it does not take within a few milliseconds goes to the
// file, after one warning that says why. Once it takes records again they
// go there again; when its socket goes, the next record is in the file at
// once. Every record is in one place or the other.
TEST_F(JournalTest, AStalledOrVanishedJournalHoldsNothingUpAndLosesNothing) {
    ASSERT_TRUE(SetRegistryString(L"DebugLogDestination", L"journal"));
    std::string output;
    if (!RunProbe("journal bind\nlong 2000 50\njournal drain\nlog back in the journal\njournal drain\n"
                  "journal gone\nlog in the file\n",
                  false, &output))
        GTEST_SKIP() << skip_;
    size_t first = output.find("entries="), second = output.find("entries=", first + 1);
    ASSERT_NE(second, std::string::npos) << output;
    int taken = std::stoi(output.substr(first + 8));
    ASSERT_GT(taken, 0);
    ASSERT_LT(taken, 2000);
    EXPECT_EQ(output.substr(second, 10), "entries=1\n");
    std::vector<Record> records = FileRecords();
    ASSERT_EQ(records.size(), static_cast<size_t>(2000 - taken + 3)) << output;
    EXPECT_EQ(records[0].level, "WARN");
    EXPECT_NE(records[0].text.find("(it did not take the record within 5 ms)"), std::string::npos)
        << records[0].text;
    for (int i = taken; i < 2000; ++i)
        EXPECT_NE(records[static_cast<size_t>(1 + i - taken)].text.find(":" + std::to_string(i) + ":"),
                  std::string::npos);
    EXPECT_NE(records[records.size() - 2].text.find("(there is no journal socket"), std::string::npos);
    EXPECT_EQ(records.back().text, "in the file");
}

}  // namespace
