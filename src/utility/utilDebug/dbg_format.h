// Message formatting: a record's text is formatted lazily, into a buffer of
// the calling thread, only once the record is known to be written.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace dbg_internal {

// The longest message a record carries; longer output is cut there.
constexpr size_t kMaxMessageLength = 49151;

template <typename Char>
class CPendingMessage {
  public:
    CPendingMessage(const Char* format, va_list* args) : format_(format), args_(args) {}
    // Arguments given as pointer-sized slots; a conversion past the last
    // slot reads zero (a null string, 0), never the caller's stack.
    CPendingMessage(const Char* format, const uintptr_t* slots, size_t slotCount)
        : format_(format), slots_(slots), slotCount_(slotCount) {}
    CPendingMessage(const CPendingMessage&) = delete;
    CPendingMessage& operator=(const CPendingMessage&) = delete;
    // The formatted text, at most kMaxMessageLength characters; valid until the
    // object is destroyed.
    const Char* Format(size_t* length);
    // A record that was never formatted has nothing to give back.
    ~CPendingMessage() {
        if (lease_) Release();
    }

  private:
    void Release();

    const Char* format_;
    va_list* args_ = nullptr;
    const uintptr_t* slots_ = nullptr;
    size_t slotCount_ = 0;
    void* lease_ = nullptr;
};

extern template class CPendingMessage<char>;
extern template class CPendingMessage<wchar_t>;

}  // namespace dbg_internal
