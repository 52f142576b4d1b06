// The record layout and its compiled form. The compiled form reads the
// pattern as log4cxx's pattern parser does (literal text, "%%", then per
// conversion: "-", a minimum width, "." and a maximum width, a name, options
// in braces), knows the conversions the default pattern uses, and pads and
// cuts each field with log4cxx's own formatting rule. The date goes through
// log4cxx's own date converter, once per second and thread.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_layout.h"

#include <windows.h>

#include <log4cxx/helpers/date.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/pattern/datepatternconverter.h>
#include <log4cxx/pattern/formattinginfo.h>
#include <log4cxx/pattern/loggingeventpatternconverter.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <log4cxx/spi/loggingevent.h>

#include <atomic>
#include <charconv>
#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "dbg_locks.h"

namespace dbg_internal {

using log4cxx::LogString;
using log4cxx::helpers::Pool;
using log4cxx::pattern::DatePatternConverter;
using log4cxx::pattern::FormattingInfo;
using log4cxx::spi::LoggingEventPtr;

static_assert(LOG4CXX_LOGCHAR_IS_UTF8, "records are written as log4cxx's own UTF-8 text");

namespace {

// Up to this many characters, wide text is converted into room for the
// longest encoding; beyond it, the text is measured first.
constexpr size_t kDirectConversionLength = 2048;

// ---- Per-thread texts ------------------------------------------------------------------

// An id as text, rendered again only when the id changes (a forked child's
// thread has new ids).
struct IdText {
    DWORD id = 0;
    unsigned char length = 0;
    char text[11] = {};
};

void AppendId(IdText& cached, DWORD id, LogString& out) {
    if (cached.id != id || cached.length == 0) {
        auto result = std::to_chars(cached.text, cached.text + sizeof cached.text, id);
        cached.length = static_cast<unsigned char>(result.ptr - cached.text);
        cached.id = id;
    }
    out.append(cached.text, cached.length);
}

// The date as the last record of this thread wrote it, for one date
// conversion of one layout.
struct DateText {
    // The layout's serial tells a layout from one built later at the same
    // address; the item tells two date conversions of one layout apart.
    uint64_t serial = 0;
    const void* item = nullptr;
    log4cxx::log4cxx_time_t key = -1;
    unsigned char length = 0;
    char text[96] = {};
};

// Trivially destructible, so that a record logged after the thread's
// destructors ran (from an atexit handler) still finds it whole.
struct ThreadTexts {
    IdText process;
    IdText thread;
    DateText date;
};
static_assert(std::is_trivially_destructible<ThreadTexts>::value,
              "per-thread texts outlive the thread's destructors");
thread_local ThreadTexts t_texts;

// ---- The library's conversions for log4cxx's converters ---------------------------------

class CFieldConverter : public log4cxx::pattern::LoggingEventPatternConverter {
  public:
    using Field = void (*)(const LoggingEventPtr&, LogString&);
    CFieldConverter(const LogString& name, Field field)
        : LoggingEventPatternConverter(name, name), field_(field) {}
    using LoggingEventPatternConverter::format;
    void format(const LoggingEventPtr& event, LogString& out, Pool&) const override { field_(event, out); }

  private:
    Field field_;
};

// Records are formatted on the thread that logs them, so the ids are the
// logging thread's; they read as they do on Windows.
void AppendProcessId(const LoggingEventPtr&, LogString& out) {
    AppendId(t_texts.process, GetCurrentProcessId(), out);
}
void AppendThreadId(const LoggingEventPtr&, LogString& out) {
    AppendId(t_texts.thread, GetCurrentThreadId(), out);
}
// The source file as given: UTF-8, like log4cxx's own strings, so that a
// non-ASCII name is written unchanged whatever the process's locale.
void AppendSourceFile(const LoggingEventPtr& event, LogString& out) {
    out += event->getLocationInformation().getFileName();
}

log4cxx::pattern::PatternConstructor ConverterOf(const LogString& name, CFieldConverter::Field field) {
    return [name, field](const std::vector<LogString>&) -> log4cxx::pattern::PatternConverterPtr {
        return std::make_shared<CFieldConverter>(name, field);
    };
}

// ---- The compiled pattern ------------------------------------------------------------------

enum class Field { Literal, Date, Process, Thread, Logger, File, Line, Level, Message, Newline };

Field FieldNamed(const LogString& name, bool* known) {
    struct Name {
        const char* text;
        Field field;
    };
    static const Name names[] = {
        {"c", Field::Logger},      {"logger", Field::Logger}, {"d", Field::Date},
        {"date", Field::Date},     {"s", Field::Process},     {"t", Field::Thread},
        {"thread", Field::Thread}, {"F", Field::File},        {"file", Field::File},
        {"L", Field::Line},        {"line", Field::Line},     {"p", Field::Level},
        {"level", Field::Level},   {"m", Field::Message},     {"message", Field::Message},
        {"n", Field::Newline},
    };
    for (const Name& entry : names) {
        if (name == entry.text) {
            *known = true;
            return entry.field;
        }
    }
    *known = false;
    return Field::Literal;
}

struct Item {
    Field field = Field::Literal;
    LogString literal;
    // Null for a field without width limits.
    std::shared_ptr<FormattingInfo> limits;
    std::shared_ptr<DatePatternConverter> date;
    // A date without fractions of a second is the same text all second long.
    bool datePerSecond = false;
};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsNamePart(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether a date option's text shows the same all second long: a pattern of
// its own without milliseconds. log4cxx's named formats all show them.
bool ShowsWholeSeconds(const std::vector<LogString>& options) {
    if (options.empty() || options[0].empty()) return false;
    const LogString& pattern = options[0];
    if (pattern == "ISO8601" || pattern == "ABSOLUTE" || pattern == "DATE") return false;
    return pattern.find('S') == LogString::npos;
}

uint64_t NextLayoutSerial() {
    static std::atomic<uint64_t> serial{0};
    return ++serial;
}

}  // namespace

struct CRecordLayout::Compiled {
    std::vector<Item> items;
    uint64_t serial = NextLayoutSerial();
    // log4cxx's date converter keeps a cache of its own.
    mutable CSLock dateLock;
};

namespace {

// The widths of one conversion, as log4cxx's pattern parser reads them after
// the "%": "-", a minimum, "." and a maximum. A number is read only up to
// just beyond its limit, so that no digits overflow.
struct Widths {
    bool leftAlign = false;
    int minimum = 0;
    int maximum = 0x7fffffff;
    const char* fault = nullptr;
};

int ReadWidth(const LogString& pattern, size_t* at, int limit) {
    int value = 0;
    for (; *at < pattern.size() && IsDigit(pattern[*at]); ++*at)
        if (value <= limit) value = value * 10 + (pattern[*at] - '0');
    return value;
}

Widths ReadWidths(const LogString& pattern, size_t* at) {
    Widths widths;
    size_t& i = *at;
    while (i < pattern.size() && pattern[i] == '-') {
        widths.leftAlign = true;
        ++i;
    }
    widths.minimum = ReadWidth(pattern, &i, kMaxPaddingWidth);
    if (widths.minimum > kMaxPaddingWidth) widths.fault = "a field is padded beyond 1000 characters";
    if (i < pattern.size() && pattern[i] == '.') {
        ++i;
        if (i >= pattern.size() || !IsDigit(pattern[i])) {
            widths.fault = "a \".\" has no width after it";
            return widths;
        }
        widths.maximum = ReadWidth(pattern, &i, kMaxCutWidth);
        if (widths.maximum > kMaxCutWidth) widths.fault = "a field is cut beyond 100000 characters";
    }
    return widths;
}

// One conversion after its "%": returns false for what the compiled form
// leaves to log4cxx.
bool CompileConversion(const LogString& pattern, size_t* at, std::vector<Item>* items) {
    size_t i = *at;
    Widths widths = ReadWidths(pattern, &i);
    bool leftAlign = widths.leftAlign;
    int minimum = widths.minimum;
    int maximum = widths.maximum;
    if (widths.fault || i >= pattern.size() || !IsLetter(pattern[i])) return false;
    size_t nameStart = i;
    while (i < pattern.size() && IsNamePart(pattern[i])) ++i;
    bool known = false;
    Item item;
    item.field = FieldNamed(pattern.substr(nameStart, i - nameStart), &known);
    if (!known) return false;
    std::vector<LogString> options;
    while (i < pattern.size() && pattern[i] == '{') {
        size_t end = pattern.find('}', i);
        if (end == LogString::npos) break;
        options.push_back(pattern.substr(i + 1, end - i - 1));
        i = end + 1;
    }
    if (item.field == Field::Date) {
        item.date = log4cxx::cast<DatePatternConverter>(DatePatternConverter::newInstance(options));
        if (!item.date) return false;
        item.datePerSecond = ShowsWholeSeconds(options);
    } else if (!options.empty()) {
        return false;
    }
    if (leftAlign || minimum != 0 || maximum != 0x7fffffff)
        item.limits = std::make_shared<FormattingInfo>(leftAlign, minimum, maximum);
    items->push_back(std::move(item));
    *at = i;
    return true;
}

void AddLiteral(LogString* literal, std::vector<Item>* items) {
    if (literal->empty()) return;
    Item item;
    item.literal = *literal;
    items->push_back(std::move(item));
    literal->clear();
}

bool CompilePattern(const LogString& pattern, std::vector<Item>* items) {
    LogString literal;
    for (size_t i = 0; i < pattern.size();) {
        char c = pattern[i++];
        if (c != '%' || i >= pattern.size()) {
            literal += c;
            continue;
        }
        if (pattern[i] == '%') {
            literal += '%';
            ++i;
            continue;
        }
        AddLiteral(&literal, items);
        if (!CompileConversion(pattern, &i, items)) return false;
    }
    AddLiteral(&literal, items);
    return true;
}

void AppendDate(const CRecordLayout::Compiled& compiled, const Item& item, log4cxx::log4cxx_time_t time,
                LogString& out) EXCLUDES(compiled.dateLock) {
    DateText& cached = t_texts.date;
    log4cxx::log4cxx_time_t key = item.datePerSecond ? time / 1000000 : time;
    if (cached.serial == compiled.serial && cached.item == &item && cached.key == key) {
        out.append(cached.text, cached.length);
        return;
    }
    size_t start = out.size();
    {
        Pool pool;
        CGuard<CSLock> guard(&compiled.dateLock);
        item.date->format(std::make_shared<log4cxx::helpers::Date>(time), out, pool);
    }
    // A date too long to keep is formatted again next time.
    size_t length = out.size() - start;
    bool kept = length <= sizeof cached.text;
    cached.serial = kept ? compiled.serial : 0;
    cached.item = &item;
    cached.key = key;
    cached.length = static_cast<unsigned char>(kept ? length : 0);
    out.copy(cached.text, cached.length, start);
}

void AppendLine(int line, LogString& out) {
    char text[12];
    auto result = std::to_chars(text, text + sizeof text, line);
    out.append(text, static_cast<size_t>(result.ptr - text));
}

void AppendMessage(const RecordFields& fields, LogString& out) {
    out += fields.prefix;
    if (fields.wideText)
        AppendNarrow(out, fields.wideText, fields.length);
    else
        out.append(fields.text, fields.length);
}

void FormatCompiled(const CRecordLayout::Compiled& compiled, const RecordFields& fields, LogString& out) {
    ThreadTexts& texts = t_texts;
    for (const Item& item : compiled.items) {
        size_t start = out.size();
        switch (item.field) {
            case Field::Literal:
                out += item.literal;
                break;
            case Field::Date:
                AppendDate(compiled, item, fields.time, out);
                break;
            case Field::Process:
                AppendId(texts.process, GetCurrentProcessId(), out);
                break;
            case Field::Thread:
                AppendId(texts.thread, GetCurrentThreadId(), out);
                break;
            case Field::Logger:
                out += *fields.logger;
                break;
            case Field::File:
                out += fields.file;
                break;
            case Field::Line:
                AppendLine(fields.line, out);
                break;
            case Field::Level:
                out += (*fields.level)->toString();
                break;
            case Field::Message:
                AppendMessage(fields, out);
                break;
            case Field::Newline:
                out += LOG4CXX_EOL;
                break;
        }
        if (item.limits) item.limits->format(static_cast<int>(start), out);
    }
}

}  // namespace

const char* LayoutPatternFault(const LogString& pattern) {
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i++] != '%' || i >= pattern.size()) continue;
        if (pattern[i] == '%') {
            ++i;
            continue;
        }
        if (const char* fault = ReadWidths(pattern, &i).fault) return fault;
    }
    return nullptr;
}

RecordFields RecordFieldsOf(const LoggingEventPtr& event) {
    RecordFields fields;
    fields.logger = &event->getLoggerName();
    fields.level = &event->getLevel();
    fields.file = event->getLocationInformation().getFileName();
    fields.line = event->getLocationInformation().getLineNumber();
    fields.time = event->getTimeStamp();
    fields.text = event->getRenderedMessage().data();
    fields.length = event->getRenderedMessage().size();
    return fields;
}

void AppendNarrow(LogString& out, const wchar_t* text, size_t length) {
    if (length == 0) return;
    size_t start = out.size();
    size_t room = length * 4;
    if (length > kDirectConversionLength) {
        int needed =
            WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        room = static_cast<size_t>(needed > 0 ? needed : 0);
    }
    out.resize(start + room);
    int written = room == 0 ? 0
                            : WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &out[start],
                                                  static_cast<int>(room), nullptr, nullptr);
    out.resize(start + static_cast<size_t>(written > 0 ? written : 0));
}

CRecordLayout::CRecordLayout() = default;
CRecordLayout::~CRecordLayout() = default;

log4cxx::pattern::PatternMap CRecordLayout::getFormatSpecifiers() {
    log4cxx::pattern::PatternMap specifiers = PatternLayout::getFormatSpecifiers();
    specifiers[LOG4CXX_STR("s")] = ConverterOf(LOG4CXX_STR("process"), AppendProcessId);
    specifiers[LOG4CXX_STR("t")] = specifiers[LOG4CXX_STR("thread")] =
        ConverterOf(LOG4CXX_STR("thread"), AppendThreadId);
    specifiers[LOG4CXX_STR("F")] = specifiers[LOG4CXX_STR("file")] =
        ConverterOf(LOG4CXX_STR("file"), AppendSourceFile);
    return specifiers;
}

void CRecordLayout::activateOptions(Pool& pool) {
    compiled_.reset();
    PatternLayout::activateOptions(pool);
    try {
        auto compiled = std::make_unique<Compiled>();
        if (CompilePattern(getConversionPattern(), &compiled->items) && Agrees(*compiled, pool))
            compiled_ = std::move(compiled);
    } catch (const std::exception&) {
        // log4cxx's converters write the records.
    }
}

// The compiled form is only trusted once it wrote a sample record as log4cxx
// does.
bool CRecordLayout::Agrees(const Compiled& compiled, Pool& pool) const {
    auto event = std::make_shared<log4cxx::spi::LoggingEvent>(
        LOG4CXX_STR("utildebug.layout"), log4cxx::Level::getWarn(), LOG4CXX_STR("==> sample record, 100%"),
        log4cxx::spi::LocationInfo("dbg_layout.cpp", "dbg_layout.cpp", "", 1234));
    LogString expected;
    PatternLayout::format(expected, event, pool);
    LogString actual;
    FormatCompiled(compiled, RecordFieldsOf(event), actual);
    return actual == expected;
}

void CRecordLayout::FormatFields(const RecordFields& fields, LogString& out) const {
    FormatCompiled(*compiled_, fields, out);
}

void CRecordLayout::format(LogString& output, const LoggingEventPtr& event, Pool& pool) const {
    if (compiled_) {
        FormatFields(RecordFieldsOf(event), output);
        return;
    }
    // log4cxx's date converter keeps a cache of its own: one record at a time.
    CGuard<CSLock> guard(&formatLock_);
    PatternLayout::format(output, event, pool);
}

}  // namespace dbg_internal
