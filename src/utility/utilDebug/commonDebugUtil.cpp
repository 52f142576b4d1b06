// DebugContentToFile and DebugStringToWindbg.
#include "commonDebugUtil.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <fstream>

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

// Replaces the file at path with what write puts into the stream. A file
// that cannot be opened is left alone; the stream creates no folder.
template <typename Write>
void ReplaceFile(const std::string& path, Write write) {
    try {
        std::ofstream file(path, std::ios::out | std::ios::trunc);
        if (!file) return;
        write(file);
        file.close();
    } catch (...) {
        // Out of memory: the dump is lost, the caller is not disturbed.
    }
}

void WriteBytes(const std::string& path, const unsigned char* buffer, unsigned long length) {
    ReplaceFile(path, [&](std::ofstream& file) {
        if (buffer && length > 0) file.write(reinterpret_cast<const char*>(buffer), length);
    });
}

}  // namespace

void DebugContentToFile(const std::string& path, const std::string& content) {
    ReplaceFile(path, [&](std::ofstream& file) { file << content.c_str(); });
}

void DebugContentToFile(const std::string& path, unsigned char* buffer, unsigned long length) {
    WriteBytes(path, buffer, length);
}

void DebugContentToFile(const std::wstring& path, const std::wstring& content) {
    try {
        std::string text = Utf8(content);
        ReplaceFile(Utf8(path), [&](std::ofstream& file) { file << text; });
    } catch (...) {
    }
}

void DebugContentToFile(const std::wstring& path, unsigned char* buffer, unsigned long length) {
    try {
        WriteBytes(Utf8(path), buffer, length);
    } catch (...) {
    }
}

void DebugStringToWindbg(std::wstring& text) {
    try {
        std::wstring message(text);
        message += kDebuggerSuffix;
        OutputDebugStringW(message.c_str());
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
