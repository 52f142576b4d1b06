// What a thread's heap keeps once it has logged one message of the longest
// length, beyond what it kept after a short one: a thread that logged a long
// message once must not carry it for the rest of its life. Shared by the
// tests and the benchmark.
#pragma once

#include <malloc.h>
#include <utilDebug.h>

#include <string>
#include <thread>

namespace nltest {

// The long message comes from longFile when one is given: a long source
// name must not stay behind either.
template <typename Char>
size_t BytesKeptAfterLongMessage(const Char* file, const Char* format, const Char* longFile = nullptr) {
    size_t kept = 0;
    std::thread logger([&] {
        std::basic_string<Char> text(49151, Char('x'));
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, file, 42, format, text.substr(0, 10).c_str());
        size_t before = mallinfo2().uordblks;
        DBG::DebugLogEx(DBG_THIS_MODULE, 258, longFile ? longFile : file, 42, format, text.c_str());
        size_t after = mallinfo2().uordblks;
        kept = after > before ? after - before : 0;
    });
    logger.join();
    return kept;
}

}  // namespace nltest
