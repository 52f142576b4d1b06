// The journal destination: the DebugLogDestination setting, and one
// structured entry per record sent to systemd's journal through the platform
// layer.
//
// An entry carries MESSAGE (the message with its entry or exit prefix, no
// layout), PRIORITY, CODE_FILE, CODE_LINE, SYSLOG_IDENTIFIER (the process's
// base name), TID (the kernel thread id), QUILLPOST_LOGGER (the module's
// logger name) and QUILLPOST_LEVEL_CODE (the caller's level code, in decimal).
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_journal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "dbg_layout.h"

namespace dbg_internal {

namespace {

std::atomic<unsigned> g_destination{kDestinationFile};
// Whether the record that falls back to the file has said why since the
// journal was last reached.
std::atomic<bool> g_fallBackTold{false};
std::string g_identifier = "SYSLOG_IDENTIFIER=";

// The fields of a thread's entry that grow with the record.
struct JournalBuffers {
    std::string message;
    std::string file;
    std::string logger;
    bool gone = false;
    ~JournalBuffers() { gone = true; }
};
thread_local JournalBuffers t_journal;

constexpr size_t kRetainedMessageCapacity = 8192;

}  // namespace

void ApplyLogDestination(unsigned destination) {
    g_destination.store(destination, std::memory_order_relaxed);
}

unsigned CurrentLogDestination() { return g_destination.load(std::memory_order_relaxed); }

void SetJournalIdentifier(const wchar_t* processBaseName) {
    g_identifier = "SYSLOG_IDENTIFIER=";
    AppendNarrow(g_identifier, processBaseName, wcslen(processBaseName));
}

int JournalPriorityOf(int log4cxxLevel) {
    if (log4cxxLevel >= log4cxx::Level::FATAL_INT) return 2;
    if (log4cxxLevel >= log4cxx::Level::ERROR_INT) return 3;
    if (log4cxxLevel >= log4cxx::Level::WARN_INT) return 4;
    if (log4cxxLevel >= log4cxx::Level::INFO_INT) return 6;
    return 7;
}

namespace {

// Tells why the record goes to the file, once until the journal is reached
// again.
bool FallBack(std::string* reason, const char* why) {
    if (reason && !g_fallBackTold.exchange(true, std::memory_order_relaxed)) *reason = why;
    return false;
}

void TrimMessage(std::string& buffer) {
    if (buffer.capacity() > kRetainedMessageCapacity) std::string().swap(buffer);
}

}  // namespace

bool SendToJournal(const JournalRecord& record, std::string* reason) {
    // A record logged after the thread's destructors ran uses buffers of its own.
    JournalBuffers own;
    JournalBuffers& buffers = t_journal.gone ? own : t_journal;
    buffers.message.assign("MESSAGE=");
    buffers.message.append(record.prefix);
    if (record.wideText)
        AppendNarrow(buffers.message, record.wideText, record.length);
    else
        buffers.message.append(record.text, record.length);
    buffers.file.assign("CODE_FILE=").append(record.file);
    buffers.logger.assign("QUILLPOST_LOGGER");
    buffers.logger.push_back('=');
    if (record.logger) buffers.logger.append(*record.logger);

    char priority[16], line[32], tid[32], levelCode[48];
    int priorityLength = snprintf(priority, sizeof priority, "PRIORITY=%d", record.priority);
    int lineLength = snprintf(line, sizeof line, "CODE_LINE=%d", record.line);
    int tidLength = snprintf(tid, sizeof tid, "TID=%lu", static_cast<unsigned long>(GetCurrentThreadId()));
    int levelLength = snprintf(levelCode, sizeof levelCode, "QUILLPOST_LEVEL_CODE=%d", record.levelCode);

    // A record kept by the recorder says so in one more field.
    NL_JOURNAL_FIELD fields[9] = {
        {&buffers.message[0], buffers.message.size()}, {priority, static_cast<size_t>(priorityLength)},
        {&buffers.file[0], buffers.file.size()},       {line, static_cast<size_t>(lineLength)},
        {&g_identifier[0], g_identifier.size()},       {tid, static_cast<size_t>(tidLength)},
        {&buffers.logger[0], buffers.logger.size()},   {levelCode, static_cast<size_t>(levelLength)},
    };
    if (record.kept) fields[8] = {"QUILLPOST_KEPT=1", 16};
    int sent = NlJournalSend(fields, record.kept ? 9 : 8);
    TrimMessage(buffers.message);
    if (sent == -ENOENT || sent == -ECONNREFUSED)
        return FallBack(reason, "there is no journal socket at /run/systemd/journal/socket");
    if (sent < 0) {
        // Kept for the notice: the reason of this record's failure.
        static thread_local char why[160];
        if (sent == -EAGAIN)
            snprintf(why, sizeof why, "it did not take the record within %d ms", NL_JOURNAL_WAIT_MS);
        else
            snprintf(why, sizeof why, "the journal refused the record: %s", strerror(-sent));
        return FallBack(reason, why);
    }
    if (g_fallBackTold.load(std::memory_order_relaxed))
        g_fallBackTold.store(false, std::memory_order_relaxed);
    return true;
}

}  // namespace dbg_internal
