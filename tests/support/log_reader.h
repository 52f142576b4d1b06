// Reads the records of a log file written in the readable layout.
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

// The layout the cases have records written in: each field ends at a '|'.
// What the default layout looks like is for the layout's own cases to say;
// a reader that decoded it would only restate it.
constexpr wchar_t kReadableLayout[] = L"%d{yyyy/MM/dd HH:mm:ss}|%s|%t|%c|%F|%L|%p|%m%n";
inline bool UseReadableLayout() { return SetRegistryString(L"DebugLogFormat", kReadableLayout); }

// One line of that layout.
inline bool ParseRecord(const std::string& line, Record* record) {
    std::vector<std::string> field;
    size_t from = 0;
    for (size_t bar; field.size() < 7 && (bar = line.find('|', from)) != std::string::npos; from = bar + 1)
        field.push_back(line.substr(from, bar - from));
    // A number, negative for a line log4cxx does not know.
    auto number = [&field](size_t i) {
        size_t digits = field[i].rfind('-', 0) == 0 ? 1 : 0;
        return field[i].size() > digits &&
               field[i].find_first_not_of("0123456789", digits) == std::string::npos;
    };
    if (field.size() < 7 || !number(1) || !number(2) || !number(5)) return false;
    *record = {field[0], std::stoul(field[1]), std::stoul(field[2]), field[3], field[4], std::stoi(field[5]),
               field[6], line.substr(from)};
    return true;
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

// The records of a log file and of its backups up to path.N, oldest first.
inline std::vector<Record> ReadRecordsWithBackups(const std::string& path, int backups) {
    std::vector<Record> all;
    for (int n = backups; n >= 0; --n) {
        std::vector<Record> part = ReadRecords(n ? path + "." + std::to_string(n) : path);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The records whose text is exactly text.
inline std::vector<Record> RecordsWithText(const std::vector<Record>& records, const std::string& text) {
    std::vector<Record> found;
    for (const Record& r : records)
        if (r.text == text) found.push_back(r);
    return found;
}

}  // namespace nltest
