// DebugContentToFile and DebugStringToWindbg.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "commonDebugUtil.h"

#include <windows.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "dbg_diagnostics.h"

namespace dbg_internal {
namespace {

// Debugger viewers of the product expect every string-overload message to
// end with this fixed location.
constexpr wchar_t kDebuggerSuffix[] =
    L"commonDebugUtil.cpp"
    L"19"
    L"\n";

// The UTF-8 form of a wide text up to its first NUL.
std::string Utf8(const std::wstring& text) {
    int length = static_cast<int>(wcsnlen(text.c_str(), 0x7FFFFFFF));
    if (length == 0) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, &converted[0], size, nullptr, nullptr);
    return converted;
}

// A narrow path in the ANSI code page (UTF-8), up to its first NUL.
std::wstring WidePath(const std::string& path) {
    int size = static_cast<int>(strlen(path.c_str()));
    int length = size == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, path.c_str(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, path.c_str(), size, &wide[0], length);
    return wide;
}

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
        ReplaceFile(WidePath(path), content.c_str(), strlen(content.c_str()));
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
        // Out of memory: the dump is lost, the caller is not disturbed.
    }
}

void DebugContentToFile(const std::string& path, unsigned char* buffer, unsigned long length) {
    try {
        ReplaceFile(WidePath(path), reinterpret_cast<const char*>(buffer), buffer ? length : 0);
    } catch (const abi::__forced_unwind&) {
        throw;  // a cancelled thread ends; its locks are released on the way out
    } catch (...) {
    }
}

void DebugContentToFile(const std::wstring& path, const std::wstring& content) {
    try {
        std::string text = Utf8(content);
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
