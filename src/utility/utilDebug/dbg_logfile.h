// The log file as the appender holds it: opened safely (never through a
// link, missing folders made with fixed modes, for appending), written with
// one write per record, sized, and checked against its name.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <log4cxx/logstring.h>

#include <cstddef>
#include <string>

namespace dbg_internal {

// The process's temporary folder, with its trailing separator, as log4cxx
// holds paths; empty when there is none.
log4cxx::LogString TemporaryFolder();

// One open file and its name. Its owner (the appender) guards it: changes
// under the owner's lock held alone, writes and looks under it held shared.
class CLogFile {
  public:
    CLogFile() = default;
    ~CLogFile() { Close(); }
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Opens the file at path (created when missing, emptied unless append),
    // with its missing folders; the file open before, if any, is left to the
    // caller (Detach). A failed open changes nothing and sets *error.
    bool Open(const log4cxx::LogString& path, bool append, DWORD* error);
    void Close();
    // The open file, no longer held (its name stays); Restore puts it back.
    HANDLE Detach();
    void Restore(HANDLE file) { file_ = file; }

    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return file_; }
    const log4cxx::LogString& Path() const { return path_; }
    // The path as the platform layer takes it (converted once, at the open).
    const std::wstring& PathW() const { return pathW_; }
    // The file's size on disk, which every process writing it adds to.
    size_t Size() const;
    // The bytes written of the text.
    size_t Write(const log4cxx::LogString& text) const;
    // Whether the name still leads to the open file: another process that
    // rolled it gave the name to a new file.
    bool IsStillAtItsName() const;

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    log4cxx::LogString path_;
    std::wstring pathW_;
};

}  // namespace dbg_internal
