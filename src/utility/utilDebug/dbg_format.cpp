// Message formatting with the runtime's legacy counted formatters, into a
// per-thread buffer that grows up to the message limit.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#include "dbg_format.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace dbg_internal {

namespace {

constexpr size_t kInitialMessageCapacity = 512;
// A buffer grown for a long message is given back after use.
constexpr size_t kRetainedMessageCapacity = 8192;

int CountedFormat(char* buffer, size_t count, const char* format, va_list args) {
    return _vsnprintf(buffer, count, format, args);
}
int CountedFormat(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    return _vsnwprintf(buffer, count, format, args);
}
int CountedFormat(char* buffer, size_t count, const char* format, const uintptr_t* slots, size_t slotCount) {
    return NlFormatSlots(buffer, count, format, slots, slotCount);
}
int CountedFormat(wchar_t* buffer, size_t count, const wchar_t* format, const uintptr_t* slots,
                  size_t slotCount) {
    return NlFormatSlotsW(buffer, count, format, slots, slotCount);
}

template <typename Char>
struct MessageBuffer {
    std::basic_string<Char> text;
    bool inUse = false;
    // A record logged after the thread's own buffer is gone (from a static
    // destructor at exit) gets a buffer of its own.
    ~MessageBuffer() { inUse = true; }
};

// One buffer per thread and width; a nested record on the same thread gets
// a buffer of its own.
template <typename Char>
MessageBuffer<Char>& ThreadMessageBuffer() {
    thread_local MessageBuffer<Char> buffer;
    return buffer;
}

// Formats into a buffer that grows up to the message limit; output longer
// than the limit is cut there. format(buffer, count) makes one attempt.
template <typename Char, typename Attempt>
size_t FormatMessageText(std::basic_string<Char>& out, Attempt format) {
    if (out.size() < kInitialMessageCapacity) out.resize(kInitialMessageCapacity);
    for (;;) {
        size_t limit = std::min(out.size() - 1, kMaxMessageLength);
        int written = format(&out[0], limit);
        if (written >= 0) {
            out[static_cast<size_t>(written)] = Char(0);
            return static_cast<size_t>(written);
        }
        if (limit == kMaxMessageLength) {
            out[limit] = Char(0);
            return limit;
        }
        out.resize(std::min(out.size() * 4, kMaxMessageLength + 1));
    }
}

}  // namespace

template <typename Char>
const Char* CPendingMessage<Char>::Format(size_t* length) {
    MessageBuffer<Char>* buffer = &ThreadMessageBuffer<Char>();
    if (buffer->inUse) buffer = new MessageBuffer<Char>;
    buffer->inUse = true;
    lease_ = buffer;
    if (!format_) {
        buffer->text.assign(1, Char(0));
        *length = 0;
    } else if (args_) {
        *length = FormatMessageText(buffer->text, [this](Char* out, size_t count) {
            va_list attempt;
            va_copy(attempt, *args_);
            int written = CountedFormat(out, count, format_, attempt);
            va_end(attempt);
            return written;
        });
    } else {
        *length = FormatMessageText(buffer->text, [this](Char* out, size_t count) {
            return CountedFormat(out, count, format_, slots_, slotCount_);
        });
    }
    return buffer->text.c_str();
}

template <typename Char>
void CPendingMessage<Char>::Release() {
    auto* buffer = static_cast<MessageBuffer<Char>*>(lease_);
    if (buffer != &ThreadMessageBuffer<Char>()) {
        delete buffer;
        return;
    }
    buffer->inUse = false;
    if (buffer->text.capacity() > kRetainedMessageCapacity) std::basic_string<Char>().swap(buffer->text);
}

template class CPendingMessage<char>;
template class CPendingMessage<wchar_t>;

}  // namespace dbg_internal
