// The record layout: log4cxx's pattern layout with the library's own
// conversions (%s the process id, %t the kernel thread id, %F the source file
// as given), and a compiled form of the pattern that writes a record straight
// from its fields, without a log4cxx event. The compiled form writes byte for
// byte what the pattern layout writes: a pattern it does not know, or one on
// which the two disagree when the layout is activated, is left to log4cxx.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <log4cxx/level.h>
#include <log4cxx/patternlayout.h>

#include <cstddef>
#include <memory>

#include "dbg_locks.h"

namespace dbg_internal {

// One record as the compiled layout reads it. The message is the prefix
// followed by either UTF-8 text or wide text.
struct RecordFields {
    const log4cxx::LogString* logger = nullptr;
    const log4cxx::LevelPtr* level = nullptr;
    const char* file = "";
    int line = 0;
    log4cxx::log4cxx_time_t time = 0;
    const char* prefix = "";
    const char* text = "";
    const wchar_t* wideText = nullptr;
    size_t length = 0;
};

class CRecordLayout : public log4cxx::PatternLayout {
  public:
    CRecordLayout();
    ~CRecordLayout() override;

    // Builds log4cxx's converters and, when it can, the compiled form.
    void activateOptions(log4cxx::helpers::Pool& pool) override;
    // Whether FormatFields may be used.
    bool IsCompiled() const { return compiled_ != nullptr; }
    // Appends the record's text; only while IsCompiled().
    void FormatFields(const RecordFields& fields, log4cxx::LogString& out) const;
    // An event's text: through the compiled form when there is one, else
    // through log4cxx's converters, one record at a time.
    void format(log4cxx::LogString& output, const log4cxx::spi::LoggingEventPtr& event,
                log4cxx::helpers::Pool& pool) const override EXCLUDES(formatLock_);

    // The pattern read into fields, literal texts and width limits.
    struct Compiled;

  protected:
    log4cxx::pattern::PatternMap getFormatSpecifiers() override;

  private:
    bool Agrees(const Compiled& compiled, log4cxx::helpers::Pool& pool) const;
    std::unique_ptr<Compiled> compiled_;
    mutable CSLock formatLock_;
};

// Widths a pattern may give a field: a minimum (padding) of at most
// kMaxPaddingWidth characters, a maximum (cut) of at most kMaxCutWidth.
constexpr int kMaxPaddingWidth = 1000;
constexpr int kMaxCutWidth = 100000;
// Why log4cxx must not be given the pattern (a width beyond those limits, or
// a "." without its number), or null when it may.
const char* LayoutPatternFault(const log4cxx::LogString& pattern);

// The fields of a log4cxx event, as the compiled form reads them.
RecordFields RecordFieldsOf(const log4cxx::spi::LoggingEventPtr& event);

// Appends wide text in the ANSI code page, UTF-8. A long text is measured
// first, so that no buffer grows beyond what the text needs.
void AppendNarrow(log4cxx::LogString& out, const wchar_t* text, size_t length);

}  // namespace dbg_internal
