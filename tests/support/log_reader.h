// Reads the records of a log file written in the default layout.
#pragma once

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

// One line of "time  [pid:tid]  [logger][file(line)]  [level]  text", each
// part up to the first occurrence of the separator after it; names are trimmed.
inline bool ParseRecord(const std::string& line, Record* record) {
    const size_t npos = std::string::npos;
    size_t ids = line.find("  ["), logger = line.find("]  [", ids), file = line.find("][", logger),
           level = line.find(")]  [", file), text = level == npos ? npos : line.find("]  ", level + 5);
    size_t colon = line.find(':', ids), paren = line.rfind('(', level);
    if (text == npos || colon > logger || paren == npos || paren < file + 2) return false;
    auto trimmed = [&line](size_t from, size_t to) {
        std::string part = line.substr(from, to - from);
        part.erase(0, part.find_first_not_of(' '));
        return part.erase(part.find_last_not_of(' ') + 1);
    };
    record->time = line.substr(0, ids);
    record->processId = std::stoul(line.substr(ids + 3, colon - ids - 3));
    record->threadId = std::stoul(line.substr(colon + 1, logger - colon - 1));
    record->logger = trimmed(logger + 4, file);
    record->file = trimmed(file + 2, paren);
    record->line = std::stoi(line.substr(paren + 1, level - paren - 1));
    record->level = trimmed(level + 5, text);
    record->text = line.substr(text + 3);
    return ids >= 19;
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
