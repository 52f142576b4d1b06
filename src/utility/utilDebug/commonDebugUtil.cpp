// DebugContentToFile and DebugStringToWindbg.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "commonDebugUtil.h"

#include <windows.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "dbg_convert.h"
#include "dbg_diagnostics.h"

namespace dbg_internal {
namespace {

// Debugger viewers of the product expect every string-overload message to
// end with this fixed location.
constexpr wchar_t kDebuggerSuffix[] =
    L"commonDebugUtil.cpp"
    L"19"
    L"\n";

// Replaces the file at path with the bytes, by the log file's rules: never
// through a link, never a pipe, device or other non-regular file, never
// another user's file in a world-writable folder; a new file gets mode 0644.
// A file that cannot be opened is left alone; no folder is created.
void ReplaceFile(const std::wstring& path, const char* bytes, size_t length) {
    if (path.empty()) return;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (!IsMissingFileError(error)) SayFileRefused("the dump file", path, "is not written", error);
        return;
    }
    for (size_t done = 0; done < length;) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    CloseHandle(file);
}

}  // namespace
}  // namespace dbg_internal

using namespace dbg_internal;

void DebugContentToFile(const std::string& path, const std::string& content) {
    try {
        ReplaceFile(FromUtf8(path.c_str()), content.c_str(), strlen(content.c_str()));
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // Out of memory: the dump is lost, the caller is not disturbed.
    }
}

void DebugContentToFile(const std::string& path, unsigned char* buffer, unsigned long length) {
    try {
        ReplaceFile(FromUtf8(path.c_str()), reinterpret_cast<const char*>(buffer), buffer ? length : 0);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

void DebugContentToFile(const std::wstring& path, const std::wstring& content) {
    try {
        std::string text = ToUtf8(content.c_str());
        ReplaceFile(path.c_str(), text.data(), text.size());
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

void DebugContentToFile(const std::wstring& path, unsigned char* buffer, unsigned long length) {
    try {
        ReplaceFile(path.c_str(), reinterpret_cast<const char*>(buffer), buffer ? length : 0);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

void DebugStringToWindbg(std::wstring& text) {
    try {
        std::wstring message(text);
        message += kDebuggerSuffix;
        OutputDebugStringW(message.c_str());
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

void DebugStringToWindbg(const wchar_t* format, ...) {
    if (!format) return;
    wchar_t message[kMaxDebuggerMessageLength + 1];
    va_list args;
    va_start(args, format);
    _vsnwprintf(message, kMaxDebuggerMessageLength, format, args);
    va_end(args);
    message[kMaxDebuggerMessageLength] = L'\0';
    OutputDebugStringW(message);
}
