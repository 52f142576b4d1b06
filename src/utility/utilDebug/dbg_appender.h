// The file appender behind "rootAppender". It is a log4cxx rolling file
// appender, with the same options, the same rolling and the same files, but
// it writes each record with one write on a descriptor opened for appending,
// so that records of any length from several processes never interleave;
// it never opens the file through a link, creates files and folders with
// fixed modes, and falls back to a file of its own when the configured one
// cannot be written.
#pragma once

#include <windows.h>

#include <log4cxx/rolling/rollingfileappender.h>

#include <atomic>

#include "dbg_locks.h"

class CRecordFileAppender : public log4cxx::rolling::RollingFileAppender {
  public:
    CRecordFileAppender();
    ~CRecordFileAppender() override;

    // Opens the file (anew, when it is open): the configured one, else the
    // same name in the temporary directory, else a name of the process's own
    // there, with one record at the top saying why.
    void activateOptions(log4cxx::helpers::Pool& pool) override;
    // Threshold and filters as log4cxx applies them, then the record,
    // formatted by the layout, with one write; the file rolls first when the
    // triggering policy says so.
    void doAppend(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool& pool) override;
    void close() override;

    // The file the records go to; empty when none could be opened.
    log4cxx::LogString getActiveFile() const;

  private:
    void PreparePolicies(log4cxx::helpers::Pool& pool);
    void OpenFirstWritable(const log4cxx::LogString& path, bool append, log4cxx::helpers::Pool& pool);
    bool Open(const log4cxx::LogString& path, bool append, DWORD* error);
    void CloseFile();
    void Rollover(log4cxx::helpers::Pool& pool);
    void WriteNotice(const log4cxx::LogString& text, log4cxx::helpers::Pool& pool);
    void Write(const log4cxx::LogString& text);

    // Guards the file, its length and the policy that rolls it.
    mutable CSLock lock_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    size_t length_ = 0;
    log4cxx::LogString activeFile_;
    log4cxx::rolling::RollingPolicyPtr activePolicy_;
    std::atomic<bool> closed_{false};
};

// Builds log4cxx's process-wide objects that a record uses, so that they are
// destroyed only after everything built later, at exit.
void WarmUpLog4cxx();
