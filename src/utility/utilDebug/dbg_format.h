// Message formatting: a record's text is formatted lazily, into a buffer of
// the calling thread, only once the record is known to be written.
#pragma once

#include <cstdarg>
#include <cstddef>

// The longest message a record carries; longer output is cut there.
constexpr size_t kMaxMessageLength = 49151;

template <typename Char>
class PendingMessage {
  public:
    PendingMessage(const Char* format, va_list* args) : format_(format), args_(args) {}
    PendingMessage(const PendingMessage&) = delete;
    PendingMessage& operator=(const PendingMessage&) = delete;
    // The formatted text, at most kMaxMessageLength characters; valid until the
    // object is destroyed.
    const Char* Format(size_t* length);
    ~PendingMessage();

  private:
    const Char* format_;
    va_list* args_;
    void* lease_ = nullptr;
};

extern template class PendingMessage<char>;
extern template class PendingMessage<wchar_t>;
