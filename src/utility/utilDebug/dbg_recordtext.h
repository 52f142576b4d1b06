// What the back end hands log4cxx for a record: its text with the level's
// prefix, in log4cxx's own UTF-8, and its source file cut to its name; in a
// buffer of the calling thread's.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <log4cxx/logstring.h>

#include <cstddef>
#include <string>

namespace dbg_internal {

// The record's text in log4cxx's own representation, UTF-8, so that it
// reaches the file unchanged whatever the process's locale.
void BuildRecordText(log4cxx::LogString& out, const char* prefix, const char* text, size_t length);
void BuildRecordText(log4cxx::LogString& out, const char* prefix, const wchar_t* text, size_t length);

// The source file behind its last separator; a wide name is converted into
// narrow, which log4cxx's location takes (scratch holds it when the thread
// cannot keep it).
const char* CutSourceFile(const char* file, std::string& scratch);
const char* CutSourceFile(const wchar_t* file, std::string& scratch);

// The calling thread's buffer for a record's text, given back to a small
// size after use; a record logged after the thread's buffers are gone (from
// an atexit handler) uses its own.
class CRecordTextBuffer {
  public:
    CRecordTextBuffer();
    ~CRecordTextBuffer();
    CRecordTextBuffer(const CRecordTextBuffer&) = delete;
    CRecordTextBuffer& operator=(const CRecordTextBuffer&) = delete;
    log4cxx::LogString& text() { return *text_; }

  private:
    log4cxx::LogString own_;
    log4cxx::LogString* text_;
};

}  // namespace dbg_internal
