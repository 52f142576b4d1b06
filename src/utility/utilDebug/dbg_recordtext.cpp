// The record's text and source file name as log4cxx takes them, built in
// buffers that each thread keeps between records.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_recordtext.h"

#include <windows.h>

#include <cwchar>

#include "dbg_layout.h"

namespace dbg_internal {

using log4cxx::LogString;

namespace {

// A buffer that grew for a long record is given back after it.
constexpr size_t kRetainedBufferCapacity = 8192;

struct ThreadBuffers {
    LogString recordText;
    // The last wide source file name and its narrow form: callers pass the
    // same name record after record.
    std::wstring wideFile;
    std::string narrowFile;
    // A record logged after the thread's destructors ran (from an atexit
    // handler) uses buffers of its own.
    bool gone = false;
    ~ThreadBuffers() { gone = true; }
};
thread_local ThreadBuffers t_buffers;

}  // namespace

void BuildRecordText(LogString& out, const char* prefix, const char* text, size_t length) {
    out.assign(prefix);
    out.append(text, length);
}

void BuildRecordText(LogString& out, const char* prefix, const wchar_t* text, size_t length) {
    out.assign(prefix);
    AppendNarrow(out, text, length);
}

const char* CutSourceFile(const char* file, std::string&) {
    if (!file) return "";
    const char* cut = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\') cut = p + 1;
    return cut;
}

const char* CutSourceFile(const wchar_t* file, std::string& scratch) {
    if (!file) return "";
    const wchar_t* cut = file;
    for (const wchar_t* p = file; *p; ++p)
        if (*p == L'/' || *p == L'\\') cut = p + 1;
    size_t length = wcslen(cut);
    ThreadBuffers& buffers = t_buffers;
    // A name too long to keep is converted for this record alone.
    if (buffers.gone || length > MAX_PATH) {
        AppendNarrow(scratch, cut, length);
        return scratch.c_str();
    }
    if (buffers.wideFile != cut) {
        buffers.wideFile.assign(cut, length);
        buffers.narrowFile.clear();
        AppendNarrow(buffers.narrowFile, cut, length);
    }
    return buffers.narrowFile.c_str();
}

CRecordTextBuffer::CRecordTextBuffer() : text_(t_buffers.gone ? &own_ : &t_buffers.recordText) {}

CRecordTextBuffer::~CRecordTextBuffer() {
    if (text_->capacity() > kRetainedBufferCapacity) LogString().swap(*text_);
}

}  // namespace dbg_internal
