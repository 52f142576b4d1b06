// The recorder: the ring of kept records, and their write-out before an
// error, at a crash and on request (see dbg_recorder.h).
// On the library's ladder: the back end; it includes no unit above (scripts/ladder.sh).
#include "dbg_recorder.h"

#include <log4cxx/helpers/pool.h>
#include <log4cxx/spi/location/locationinfo.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "dbg_defaults.h"
#include "dbg_destination.h"
#include "dbg_journal.h"
#include "dbg_locks.h"

namespace dbg_internal {

std::atomic<bool> g_recorderOn{false};

namespace {

using log4cxx::LogString;

constexpr size_t kSlotBytes = 1024;
// Each kept line starts with this when written out.
constexpr char kKeptMark[] = "~ ";
constexpr size_t kKeptMarkLength = sizeof kKeptMark - 1;
// A text longer than its room is cut and ends with this.
constexpr char kCutMark[] = " [cut]";
constexpr size_t kCutMarkLength = sizeof kCutMark - 1;
// The file takes the written-out records in writes of about this size.
constexpr size_t kChunkBytes = 64 * 1024;
constexpr DWORD kRequestCheckIntervalMs = 1000;
// The crash write-out waits at most this long for another thread that holds the ring.
constexpr DWORD kCrashLockWaitMs = 500;

// One kept record: the line as the log file takes it and, for the journal,
// its source file and message, in one slot of 1 KiB.
struct KeptSlot {
    log4cxx::log4cxx_time_t time;
    const LogString* logger;
    int32_t levelCode;
    int32_t line;
    uint16_t priority;
    uint16_t lineLength;
    uint16_t fileLength;
    uint16_t messageLength;
    char text[kSlotBytes - 32];
};
static_assert(sizeof(KeptSlot) == kSlotBytes, "a kept record takes 1 KiB");
constexpr size_t kTextBytes = sizeof(KeptSlot::text);

// A spin lock that knows its holder, so that the crash write-out can tell
// the thread that crashed holding it from another that will let it go.
class CAPABILITY("mutex") CRingLock {
  public:
    void Enter() ACQUIRE() {
        const DWORD self = GetCurrentThreadId();
        for (unsigned spins = 0;; ++spins) {
            DWORD free = 0;
            if (holder_.compare_exchange_weak(free, self, std::memory_order_acquire)) return;
            if (spins > 64) Sleep(0);
        }
    }
    // For the signal handler: spins only, for a bounded time.
    bool TryEnterFor(DWORD milliseconds) TRY_ACQUIRE(true) {
        const DWORD self = GetCurrentThreadId(), start = GetTickCount();
        do {
            DWORD free = 0;
            if (holder_.compare_exchange_weak(free, self, std::memory_order_acquire)) return true;
        } while (GetTickCount() - start < milliseconds);
        return false;
    }
    void Leave() RELEASE() { holder_.store(0, std::memory_order_release); }
    bool HeldByCaller() const { return holder_.load(std::memory_order_relaxed) == GetCurrentThreadId(); }

  private:
    std::atomic<DWORD> holder_{0};
};

struct Ring {
    KeptSlot* slots = nullptr;  // allocated at the first kept record
    size_t capacity = 0;
    size_t head = 0;
    size_t count = 0;
    unsigned long long dropped = 0;
    // The process the records belong to: a forked child finds its parent's.
    DWORD processId = 0;
};

// The lock, the count and the request clock on lines of their own: every
// kept record writes the first two.
alignas(64) CRingLock g_ringLock;
Ring g_ring GUARDED_BY(g_ringLock);
// The ring's count, read without the lock by the write path.
alignas(64) std::atomic<size_t> g_keptCount{0};
// The log file, as the crash write-out opens it.
char g_crashPath[4096] GUARDED_BY(g_ringLock) = {};
std::atomic<bool> g_crashFilterSet{false};
// The filter that was there before the recorder's: it runs after it.
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_previousFilter{nullptr};
alignas(64) std::atomic<DWORD> g_lastRequestCheck{0};

// A thread's buffers for the record it keeps.
struct KeepBuffers {
    LogString line;
    std::string message;
    bool gone = false;
    ~KeepBuffers() { gone = true; }
};
thread_local KeepBuffers t_keep;

// Copies text into at most room bytes; a longer text is cut at a character
// boundary and marked, its line break kept.
size_t CopyCut(char* to, size_t room, const char* text, size_t length) {
    if (length <= room) {
        memcpy(to, text, length);
        return length;
    }
    const bool lineEnd = length > 0 && text[length - 1] == '\n';
    size_t keep = room - kCutMarkLength - (lineEnd ? 1 : 0);
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
    memcpy(to, text, keep);
    memcpy(to + keep, kCutMark, kCutMarkLength);
    if (lineEnd) to[keep + kCutMarkLength] = '\n';
    return keep + kCutMarkLength + (lineEnd ? 1 : 0);
}

// The message with its prefix, narrow.
void MessageOf(const RecordFields& fields, std::string& out) {
    out.assign(fields.prefix);
    if (fields.wideText)
        AppendNarrow(out, fields.wideText, fields.length);
    else
        out.append(fields.text, fields.length);
}

// A layout that the appender cannot apply to fields formats a log4cxx event.
void FormatThroughLog4cxx(const RecordFields& fields, CRecordFileAppender& appender, std::string& message,
                          LogString& line) {
    log4cxx::LayoutPtr layout = appender.getLayout();
    if (!layout) return;
    MessageOf(fields, message);
    log4cxx::spi::LocationInfo location(fields.file, fields.file, "", fields.line);
    auto event =
        std::make_shared<log4cxx::spi::LoggingEvent>(*fields.logger, *fields.level, message, location);
    log4cxx::helpers::Pool pool;
    layout->format(line, event, pool);
}

void RememberCrashPath(CRecordFileAppender* appender) REQUIRES(g_ringLock) {
    std::wstring path = appender ? appender->ActiveFileW() : std::wstring();
    if (path.empty() || WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, g_crashPath,
                                            static_cast<int>(sizeof g_crashPath), nullptr, nullptr) <= 0)
        g_crashPath[0] = '\0';
}

void Empty(Ring& ring) REQUIRES(g_ringLock) {
    ring.head = ring.count = 0;
    ring.dropped = 0;
    g_keptCount.store(0, std::memory_order_relaxed);
}

// A forked child starts with an empty ring.
void ForgetParentsRecords(Ring& ring) REQUIRES(g_ringLock) {
    const DWORD self = GetCurrentProcessId();
    if (ring.processId == self) return;
    ring.processId = self;
    Empty(ring);
}

KeptSlot& SlotAt(Ring& ring, size_t index) REQUIRES(g_ringLock) {
    return ring.slots[(ring.head + index) % ring.capacity];
}

LONG WriteOutAtCrash(PEXCEPTION_POINTERS exception);

// ---- Writing out -----------------------------------------------------------------

// The block's first and last lines.
std::string Opening(size_t count, const char* why, unsigned long long dropped) {
    char text[256];
    snprintf(
        text, sizeof text,
        "%sutilDebug: the %zu record%s kept %s follow%s, oldest first (%llu dropped before them since the "
        "last write-out)\n",
        kKeptMark, count, count == 1 ? "" : "s", why, count == 1 ? "s" : "", dropped);
    return text;
}
constexpr char kClosing[] = "~ utilDebug: end of the kept records\n";

bool SendKeptToJournal(const KeptSlot& slot) {
    if (slot.fileLength + slot.messageLength == 0) return false;
    std::string file(slot.text + slot.lineLength, slot.fileLength);
    JournalRecord record;
    record.priority = slot.priority;
    record.levelCode = slot.levelCode;
    record.file = file.c_str();
    record.line = slot.line;
    record.logger = slot.logger;
    record.text = slot.text + slot.lineLength + slot.fileLength;
    record.length = slot.messageLength;
    record.kept = true;
    return SendToJournal(record, nullptr);
}

// ---- The crash write-out: async-signal-safe calls only ----------------------------------

struct CrashBuffer {
    char bytes[kChunkBytes];
    size_t used = 0;
};
CrashBuffer g_crashBuffer;

void CrashFlush(const char* path) {
    if (g_crashBuffer.used) NlAppendToFileFromSignal(path, g_crashBuffer.bytes, g_crashBuffer.used);
    g_crashBuffer.used = 0;
}

void CrashAppend(const char* path, const char* text, size_t length) {
    if (g_crashBuffer.used + length > sizeof g_crashBuffer.bytes) CrashFlush(path);
    length = std::min(length, sizeof g_crashBuffer.bytes);
    memcpy(g_crashBuffer.bytes + g_crashBuffer.used, text, length);
    g_crashBuffer.used += length;
}

void CrashAppend(const char* path, const char* text) { CrashAppend(path, text, strlen(text)); }

void CrashAppendNumber(const char* path, unsigned long long value) {
    char digits[24];
    size_t at = sizeof digits;
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    CrashAppend(path, digits + at, sizeof digits - at);
}

// Without the lock (the crashing thread held it, or another kept it past the
// wait) the ring is read as it stands.
LONG WriteOutAtCrash(PEXCEPTION_POINTERS exception) NO_THREAD_SAFETY_ANALYSIS {
    const bool locked = !g_ringLock.HeldByCaller() && g_ringLock.TryEnterFor(kCrashLockWaitMs);
    Ring& ring = g_ring;
    const char* path = g_crashPath;
    if (ring.slots && ring.count > 0 && ring.count <= ring.capacity &&
        ring.processId == GetCurrentProcessId() && path[0]) {
        CrashAppend(path, kKeptMark);
        CrashAppend(path, "utilDebug: the ");
        CrashAppendNumber(path, ring.count);
        CrashAppend(path, ring.count == 1 ? " record" : " records");
        CrashAppend(path, " kept before this crash (signal ");
        CrashAppendNumber(path, exception->ExceptionRecord->ExceptionInformation[0]);
        CrashAppend(path, ring.count == 1 ? ") follows, oldest first (" : ") follow, oldest first (");
        CrashAppendNumber(path, ring.dropped);
        CrashAppend(path, " dropped before them since the last write-out)\n");
        for (size_t i = 0; i < ring.count; ++i) {
            const KeptSlot& slot = SlotAt(ring, i);
            CrashAppend(path, kKeptMark);
            CrashAppend(path, slot.text, std::min<size_t>(slot.lineLength, kTextBytes));
        }
        CrashAppend(path, kClosing);
        CrashFlush(path);
        Empty(ring);
    }
    if (locked) g_ringLock.Leave();
    LPTOP_LEVEL_EXCEPTION_FILTER previous = g_previousFilter.load(std::memory_order_acquire);
    return previous ? previous(exception) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

// ---- Setting ---------------------------------------------------------------------

void ApplyRecorderSetting(int records) {
    // A value beyond an int's range (read as negative) is beyond the bound too.
    const size_t capacity =
        records == 0 ? 0 : std::min<size_t>(static_cast<unsigned>(records), kMaxRecorderRecords);
    {
        CGuard<CRingLock> guard(&g_ringLock);
        Ring& ring = g_ring;
        if (capacity != ring.capacity) {
            delete[] ring.slots;
            ring.slots = nullptr;
            ring.capacity = capacity;
            Empty(ring);
        }
        g_recorderOn.store(capacity > 0, std::memory_order_relaxed);
    }
    if (capacity == 0 && g_crashFilterSet.exchange(false))
        SetUnhandledExceptionFilter(g_previousFilter.exchange(nullptr));
}

// ---- Keeping ---------------------------------------------------------------------

void KeepRecord(const RecordFields& fields, int levelCode, unsigned destination,
                CRecordFileAppender* appender) {
    // A record that the write-out itself caused, on the thread that holds the ring.
    if (!appender || g_ringLock.HeldByCaller()) return;
    KeepBuffers own;
    KeepBuffers& buffers = t_keep.gone ? own : t_keep;
    LogString& line = buffers.line;
    line.clear();
    if (!appender->FormatFields(fields, line)) FormatThroughLog4cxx(fields, *appender, buffers.message, line);
    if (line.empty()) return;

    KeptSlot slot;
    slot.time = fields.time;
    slot.logger = fields.logger;
    slot.levelCode = levelCode;
    slot.line = fields.line;
    slot.priority = static_cast<uint16_t>(JournalPriorityOf((*fields.level)->toInt()));
    // Bound for the journal too, the line gets half the slot.
    const bool journal = (destination & kDestinationJournal) != 0;
    slot.lineLength = static_cast<uint16_t>(
        CopyCut(slot.text, journal ? kTextBytes / 2 : kTextBytes, line.data(), line.size()));
    size_t used = slot.lineLength;
    slot.fileLength = slot.messageLength = 0;
    if (journal) {
        MessageOf(fields, buffers.message);
        size_t fileLength = std::min<size_t>(strlen(fields.file), (kTextBytes - used) / 4);
        memcpy(slot.text + used, fields.file, fileLength);
        slot.fileLength = static_cast<uint16_t>(fileLength);
        used += fileLength;
        slot.messageLength = static_cast<uint16_t>(
            CopyCut(slot.text + used, kTextBytes - used, buffers.message.data(), buffers.message.size()));
        used += slot.messageLength;
    }
    if (line.capacity() > 2 * kSlotBytes) LogString().swap(line);

    CGuard<CRingLock> guard(&g_ringLock);
    Ring& ring = g_ring;
    ForgetParentsRecords(ring);
    if (ring.capacity == 0) return;
    if (!ring.slots) {
        // Left untouched until used: the pages of an unused slot are never mapped in.
        ring.slots = new (std::nothrow) KeptSlot[ring.capacity];
        if (!ring.slots) return;
        RememberCrashPath(appender);
        if (!g_crashFilterSet.exchange(true))
            g_previousFilter.store(SetUnhandledExceptionFilter(WriteOutAtCrash), std::memory_order_release);
    }
    if (ring.count < ring.capacity) {
        ++ring.count;
    } else {
        ring.head = (ring.head + 1) % ring.capacity;
        ++ring.dropped;
    }
    memcpy(&SlotAt(ring, ring.count - 1), &slot, offsetof(KeptSlot, text) + used);
    // Another thread's record, stamped later, may have come in first.
    for (size_t i = ring.count - 1; i > 0 && SlotAt(ring, i - 1).time > SlotAt(ring, i).time; --i)
        std::swap(SlotAt(ring, i - 1), SlotAt(ring, i));
    g_keptCount.store(ring.count, std::memory_order_relaxed);
}

bool RecorderHasRecords() { return g_keptCount.load(std::memory_order_relaxed) != 0; }

void WriteOutKeptRecords(const char* why, unsigned destination, CRecordFileAppender* appender) {
    if (g_ringLock.HeldByCaller()) return;
    CGuard<CRingLock> guard(&g_ringLock);
    Ring& ring = g_ring;
    ForgetParentsRecords(ring);
    if (ring.count == 0) return;
    RememberCrashPath(appender);
    const bool toFile = (destination & kDestinationFile) != 0 || !(destination & kDestinationJournal);
    const bool toJournal = (destination & kDestinationJournal) != 0;
    LogString chunk;
    bool opened = false;
    auto flush = [&] {
        if (appender && !chunk.empty()) appender->AppendFormatted(chunk);
        chunk.clear();
    };
    for (size_t i = 0; i < ring.count; ++i) {
        const KeptSlot& slot = SlotAt(ring, i);
        if (toJournal && SendKeptToJournal(slot) && !toFile) continue;
        if (!opened) chunk = Opening(ring.count, why, ring.dropped);
        opened = true;
        chunk.append(kKeptMark, kKeptMarkLength).append(slot.text, slot.lineLength);
        if (chunk.size() >= kChunkBytes) flush();
    }
    if (opened) chunk.append(kClosing);
    flush();
    Empty(ring);
}

bool KeptRecordsRequested() {
    const DWORD now = GetTickCount();
    DWORD last = g_lastRequestCheck.load(std::memory_order_relaxed);
    if (now - last < kRequestCheckIntervalMs ||
        !g_lastRequestCheck.compare_exchange_strong(last, now, std::memory_order_relaxed))
        return false;
    char path[64];
    snprintf(path, sizeof path, "%s%lu", kDumpRequestPrefix,
             static_cast<unsigned long>(GetCurrentProcessId()));
    return NlTakeRequestFile(path);
}

}  // namespace dbg_internal
