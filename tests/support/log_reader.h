// Reads the records of a log file written in the default layout.
#pragma once

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

// Cuts text at the first occurrence of separator: the part before it is
// returned, the rest stays in text. False when separator is missing.
inline bool TakeUntil(std::string& text, const std::string& separator, std::string* part) {
    size_t at = text.find(separator);
    if (at == std::string::npos) return false;
    *part = text.substr(0, at);
    text.erase(0, at + separator.size());
    return true;
}

inline std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// One line of "time  [pid:tid]  [logger][file(line)]  [level]  text".
inline bool ParseRecord(std::string line, Record* record) {
    std::string ids, location, lineNumber;
    if (!TakeUntil(line, "  [", &record->time) || !TakeUntil(line, "]  [", &ids) ||
        !TakeUntil(line, "][", &record->logger) || !TakeUntil(line, ")]  [", &location) ||
        !TakeUntil(line, "]  ", &record->level))
        return false;
    size_t colon = ids.find(':');
    size_t paren = location.rfind('(');
    if (colon == std::string::npos || paren == std::string::npos) return false;
    record->processId = std::stoul(ids.substr(0, colon));
    record->threadId = std::stoul(ids.substr(colon + 1));
    record->logger = Trimmed(record->logger);
    record->file = Trimmed(location.substr(0, paren));
    record->line = std::stoi(location.substr(paren + 1));
    record->level = Trimmed(record->level);
    record->text = line;
    return record->time.size() >= 19;
}

inline std::vector<Record> ReadRecords(const std::string& path) {
    std::vector<Record> records;
    std::istringstream lines(ReadFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        Record record;
        if (ParseRecord(line, &record)) records.push_back(record);
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
