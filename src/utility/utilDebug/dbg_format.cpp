// Message formatting with the runtime's legacy counted formatters, into a
// per-thread buffer that grows up to the message limit.
#include "dbg_format.h"

#include <windows.h>

#include <algorithm>
#include <string>

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

template <typename Char>
struct MessageBuffer {
    std::basic_string<Char> text;
    bool inUse = false;
};

// One buffer per thread and width; a nested record on the same thread gets
// a buffer of its own.
template <typename Char>
MessageBuffer<Char>& ThreadMessageBuffer() {
    thread_local MessageBuffer<Char> buffer;
    return buffer;
}

// Formats into a buffer that grows up to the message limit; output longer
// than the limit is cut there.
template <typename Char>
size_t FormatMessageText(std::basic_string<Char>& out, const Char* format, va_list args) {
    if (!format) {
        out.assign(1, Char(0));
        return 0;
    }
    if (out.size() < kInitialMessageCapacity) out.resize(kInitialMessageCapacity);
    for (;;) {
        size_t limit = std::min(out.size() - 1, kMaxMessageLength);
        va_list attempt;
        va_copy(attempt, args);
        int written = CountedFormat(&out[0], limit, format, attempt);
        va_end(attempt);
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
const Char* PendingMessage<Char>::Format(size_t* length) {
    MessageBuffer<Char>* buffer = &ThreadMessageBuffer<Char>();
    if (buffer->inUse) buffer = new MessageBuffer<Char>;
    buffer->inUse = true;
    lease_ = buffer;
    *length = FormatMessageText(buffer->text, format_, *args_);
    return buffer->text.c_str();
}

template <typename Char>
PendingMessage<Char>::~PendingMessage() {
    auto* buffer = static_cast<MessageBuffer<Char>*>(lease_);
    if (!buffer) return;
    if (buffer != &ThreadMessageBuffer<Char>()) {
        delete buffer;
        return;
    }
    buffer->inUse = false;
    if (buffer->text.capacity() > kRetainedMessageCapacity) std::basic_string<Char>().swap(buffer->text);
}

template class PendingMessage<char>;
template class PendingMessage<wchar_t>;
