// Reads the records of a log file written in the default layout.
#pragma once

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_env.h"

namespace nltest {

struct Record {
    std::string time;
    unsigned long processId = 0;
    unsigned long threadId = 0;
    std::string logger;
    std::string file;
    int line = 0;
    std::string level;
    std::string text;
};

inline std::vector<Record> ReadRecords(const std::string& path) {
    static const std::regex layout(
        R"(^(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} [+-]\d{4})  \[ *(\d+): *(\d+)\]  \[ *([^\]]*)\]\[ *(.*)\( *(\d+)\)\]  \[(\w+) *\]  (.*)$)");
    std::vector<Record> records;
    std::istringstream lines(ReadFile(path));
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (!std::regex_match(line, match, layout)) continue;
        Record record;
        record.time = match[1];
        record.processId = std::stoul(match[2]);
        record.threadId = std::stoul(match[3]);
        record.logger = match[4];
        record.file = match[5];
        record.line = std::stoi(match[6]);
        record.level = match[7];
        record.text = match[8];
        records.push_back(record);
    }
    return records;
}

// The records whose text is exactly text.
inline std::vector<Record> RecordsWithText(const std::vector<Record>& records, const std::string& text) {
    std::vector<Record> found;
    for (const Record& r : records)
        if (r.text == text) found.push_back(r);
    return found;
}

}  // namespace nltest
