// utilDebug: the debug log of every Quillpost process and library.
//
//   #include <utilDebug.h>
//   DBG_LOG(DBG_LEVEL_DEBUG, "opened %s in %d ms", name, elapsed);
//
// Whether a process logs, at which threshold and into which file is decided by
// the machine's debug settings (see docs/settings.md); a caller sets nothing
// up. No function here throws or reports an error.
#pragma once

#include <stdint.h>
#include <wchar.h>
#ifdef __cplusplus
#include <string>
#include <type_traits>
#else
#include <stdbool.h>
#endif

#if defined(UTILDEBUG_BUILD)
#define UTILDEBUG_API __attribute__((visibility("default")))
#else
#define UTILDEBUG_API
#endif

struct HINSTANCE__;
typedef struct HINSTANCE__* HINSTANCE;

// The calling module's handle: an address inside the executable or shared
// object that expands the macro, so each module passes its own.
#ifdef __cplusplus
extern "C" void* __dso_handle __attribute__((visibility("hidden")));
#else
extern void* __dso_handle __attribute__((visibility("hidden")));
#endif
#define DBG_THIS_MODULE ((HINSTANCE)(void*)&__dso_handle)

// Level codes. Any other value is a debug record.
enum {
    DBG_LEVEL_DEBUG = 0x102,        // 258: a debug record
    DBG_LEVEL_ENTRY = 0x110,        // 272: debug, written behind "==> "
    DBG_LEVEL_EXIT = 0x111,         // 273: debug, written behind "<== "
    DBG_LEVEL_CRITICAL = 0x112,     // 274: error; fatal while LogCriticalInfo is on
    DBG_LEVEL_WARNING = 0x1001,     // 4097
    DBG_LEVEL_ERROR = 0x1002,       // 4098
    DBG_LEVEL_ERROR2 = 0x1003,      // 4099
    DBG_LEVEL_ERROR_EXIT = 0x1004,  // 4100: error, written behind "<== "
    DBG_LEVEL_FATAL = 0x10001       // 65537
};

#ifdef __cplusplus
namespace DBG {

// No printf format attribute: the compilers' printf check does not know the
// Windows size prefixes (%I64d, %I32u, %Id) these formats take. The DBG_LOG
// macros below check a literal format against its arguments instead.
UTILDEBUG_API void DebugLogEx(HINSTANCE module, int level, const char* file, int line, const char* format,
                              ...);
UTILDEBUG_API void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line,
                              const wchar_t* format, ...);
UTILDEBUG_API void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line, const char* format,
                              ...);

// Whether this process writes records: false once the module list leaves it out.
UTILDEBUG_API bool IsDebugEnabled();
// Whether LogCriticalInfo is on (greater than 0).
UTILDEBUG_API bool IsCriticalLogEnabled();

// The machine's settings. A setter writes the registry when it may and changes
// the running process in any case.
UTILDEBUG_API int GetDebugMode();
UTILDEBUG_API void SetDebugMode(int mode);
UTILDEBUG_API int GetDebugLogCount();
UTILDEBUG_API void SetDebugLogCount(int count);
// Reads the module list into buffer, whose size in bytes is size, as sizeof
// gives it for a wchar_t array: GetDebugModules(buf, sizeof buf). Zero the
// buffer first: nothing is written when the list is missing or does not fit
// with its terminator, and no terminator is added beyond the list's own.
UTILDEBUG_API void GetDebugModules(wchar_t* buffer, int size);
UTILDEBUG_API void SetDebugModules(const wchar_t* moduleList);

// Re-reads the feature mapping file (<data root>/config/dbglog_FeatureMapping.ini)
// and applies DebugLogDisabledFeatures and DebugLogDisabledDlls against it at
// once. Before the process's first record it does nothing.
UTILDEBUG_API void ReloadFeatureConfiguration();

// Writes the stress-run banner into this process's log: start time, the
// executable's version (see DBG_FILE_VERSION), machine, process and thread.
// Its sixteen records are debug records of the library's own logger, so they
// show at debug mode 3 only.
UTILDEBUG_API void StressLogTitle();

// The kernel id of the thread behind a thread handle (GetCurrentThread(),
// OpenThread()), or 0 for a handle that is null, closed or not a thread's.
UTILDEBUG_API unsigned long NL_GetThreadId(void* thread);

}  // namespace DBG

// Diagnostic dumps, outside the debug log and its settings.

// Replaces the file at path with content: a text up to its first NUL, or
// exactly length bytes of a buffer. Nothing is translated (no CR LF); a wide
// text is written as UTF-8, a wide path names the file by its UTF-8 bytes. A
// file that cannot be opened (a missing folder, no access) is left alone and
// no folder is created.
UTILDEBUG_API void DebugContentToFile(const std::string& path, const std::string& content);
UTILDEBUG_API void DebugContentToFile(const std::string& path, unsigned char* buffer, unsigned long length);
UTILDEBUG_API void DebugContentToFile(const std::wstring& path, const std::wstring& content);
UTILDEBUG_API void DebugContentToFile(const std::wstring& path, unsigned char* buffer, unsigned long length);

// Sends text to the debug-output channel that qpdbgview shows, followed by
// this unit's source file name, the number 19 and a line feed.
UTILDEBUG_API void DebugStringToWindbg(std::wstring& text);
// Sends a formatted message (wide printf conventions: %s takes a wide
// string) as it comes out, cut to 1,023 characters; no line feed is added.
UTILDEBUG_API void DebugStringToWindbg(const wchar_t* format, ...);
#endif

#ifdef __cplusplus
extern "C" {
#endif
// One pointer-sized argument for the format: it serves the first conversion
// that takes an argument, and any later one prints as if given a null or
// zero. Records go to the logger "unknown".
UTILDEBUG_API void DebugLogEx(int level, const wchar_t* file, int line, const wchar_t* format,
                              const void* arg);
UTILDEBUG_API bool IsDebugEnabled(void);
// One record of the caller's text, written as it stands ("%" included), to
// the logger "unknown". A null text writes nothing.
UTILDEBUG_API void StressLogEx(int level, const wchar_t* file, int line, const wchar_t* text);
#ifdef __cplusplus
}
#endif

// Declares the file version of the executable or library whose source
// expands it, as the version functions (GetFileVersionInfoW) read it from the
// file and the stress banner shows it:
//   DBG_FILE_VERSION(3, 10, 0, 61);
// once, at file scope, in one source file of the module. Each number is an
// integer constant from 0 to 65535. The version goes into an ELF note of the
// owner and type that the platform's version functions look for (windows.h).
struct DbgFileVersionNote {
    uint32_t ownerSize, versionSize, type;
    char owner[12];
    uint32_t versionMS, versionLS;
};
#ifdef __cplusplus
#define DBG_EXTERN_C extern "C"
#define DBG_STATIC_ASSERT static_assert
#else
#define DBG_EXTERN_C
#define DBG_STATIC_ASSERT _Static_assert
#endif
#define DBG_VERSION_PART_OK(n) ((n) >= 0 && (n) <= 0xFFFF)
#define DBG_FILE_VERSION(major, minor, build, revision)                                                    \
    DBG_STATIC_ASSERT(DBG_VERSION_PART_OK(major) && DBG_VERSION_PART_OK(minor) &&                          \
                          DBG_VERSION_PART_OK(build) && DBG_VERSION_PART_OK(revision),                     \
                      "DBG_FILE_VERSION: each number is from 0 to 65535");                                 \
    DBG_EXTERN_C __attribute__((section(".note.norlake.version"), used, aligned(4), visibility("hidden"))) \
    const struct DbgFileVersionNote DbgFileVersion = {11,                                                  \
                                                      8,                                                   \
                                                      1,                                                   \
                                                      "NorlakeVer",                                        \
                                                      ((uint32_t)(major) << 16) | (uint32_t)(minor),       \
                                                      ((uint32_t)(build) << 16) | (uint32_t)(revision)}

#if defined(__cplusplus) && __cplusplus >= 201703L
// The compile-time check of the DBG_LOG macros (C++17 and later): a literal format, narrow or
// wide, read with the library's conventions (Windows size prefixes I, I32,
// I64 and w; %s of the format's own width, %S of the other, h and l/w
// choosing narrow and wide), against the types of its arguments.
namespace DBG {
namespace format_check {

// What an argument is, as a conversion sees it: an integer's size in bytes,
// or one of these.
enum : int { kFloat = 16, kNarrowText = 32, kWideText = 33, kPointer = 48, kNull = 64, kOther = 0 };

template <typename T>
constexpr int KindOf() {
    using U = std::decay_t<T>;
    if constexpr (std::is_enum_v<U>) {
        return static_cast<int>(sizeof(std::underlying_type_t<U>));
    } else if constexpr (std::is_integral_v<U>) {
        return static_cast<int>(sizeof(U) < sizeof(int) ? sizeof(int) : sizeof(U));
    } else if constexpr (std::is_floating_point_v<U>) {
        return kFloat;
    } else if constexpr (std::is_null_pointer_v<U>) {
        return kNull;
    } else if constexpr (std::is_pointer_v<U>) {
        using P = std::remove_cv_t<std::remove_pointer_t<U>>;
        if constexpr (std::is_same_v<P, char> || std::is_same_v<P, signed char> ||
                      std::is_same_v<P, unsigned char>)
            return kNarrowText;
        else if constexpr (std::is_same_v<P, wchar_t>)
            return kWideText;
        else
            return kPointer;
    } else {
        return kOther;
    }
}

template <typename... A>
struct Kinds {
    static constexpr int count = sizeof...(A);
    static constexpr int values[sizeof...(A) + 1] = {KindOf<A>()..., -1};
};

// Only its type is used (in decltype): the kinds of the arguments after the
// format.
template <typename F, typename... A>
Kinds<A...> KindsOf(const F&, const A&...);

constexpr bool IsDigit(int c) { return c >= '0' && c <= '9'; }

enum Size : int { kNone, kHH, kH, kL, kLL, kBigL, kI32, kI64, kIPointer, kW };

// Whether the format's conversions take exactly the arguments of K, in
// order and of fitting types.
template <typename C, typename K>
constexpr bool Matches(const C* format, K) {
    constexpr bool wideFormat = std::is_same_v<C, wchar_t>;
    int next = 0;
    auto take = [&next]() { return next < K::count ? K::values[next++] : (++next, -1); };
    auto isInteger = [](int kind) { return kind >= 1 && kind <= 8; };
    for (int i = 0; format[i] != 0; ++i) {
        if (format[i] != '%') continue;
        ++i;
        if (format[i] == '%') continue;
        while (format[i] == '-' || format[i] == '+' || format[i] == ' ' || format[i] == '#' ||
               format[i] == '0')
            ++i;
        if (format[i] == '*') {
            if (!isInteger(take())) return false;
            ++i;
        }
        while (IsDigit(format[i])) ++i;
        if (format[i] == '.') {
            ++i;
            if (format[i] == '*') {
                if (!isInteger(take())) return false;
                ++i;
            }
            while (IsDigit(format[i])) ++i;
        }
        Size size = kNone;
        switch (format[i]) {
            case 'h':
                size = format[i + 1] == 'h' ? (++i, kHH) : kH;
                ++i;
                break;
            case 'l':
                size = format[i + 1] == 'l' ? (++i, kLL) : kL;
                ++i;
                break;
            case 'L':
                size = kBigL;
                ++i;
                break;
            case 'w':
                size = kW;
                ++i;
                break;
            case 'j':
                size = kLL;
                ++i;
                break;
            case 'z':
            case 't':
                size = kIPointer;
                ++i;
                break;
            case 'I':
                ++i;
                if (format[i] == '6' && format[i + 1] == '4')
                    size = kI64, i += 2;
                else if (format[i] == '3' && format[i + 1] == '2')
                    size = kI32, i += 2;
                else
                    size = kIPointer;
                break;
            default:
                break;
        }
        const int kind = format[i] == 0 ? -1 : (format[i] == '%' ? 0 : take());
        switch (format[i]) {
            case 'd':
            case 'i':
            case 'u':
            case 'o':
            case 'x':
            case 'X': {
                if (!isInteger(kind)) return false;
                const int bytes = size == kL ? static_cast<int>(sizeof(long))
                                  : size == kLL || size == kI64 || size == kBigL ? 8
                                  : size == kIPointer ? static_cast<int>(sizeof(void*))
                                                      : 4;
                if (kind != bytes) return false;
                break;
            }
            case 'c':
            case 'C':
                if (!isInteger(kind) || kind > 4) return false;
                break;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (kind != kFloat) return false;
                break;
            case 's':
            case 'S': {
                // Narrow for h, wide for l and w; otherwise %s is the format's
                // own width and %S the other.
                const bool wide = size == kH                 ? false
                                  : size == kL || size == kW ? true
                                                             : (format[i] == 's') == wideFormat;
                if (kind != (wide ? kWideText : kNarrowText) && kind != kNull) return false;
                break;
            }
            case 'p':
            case 'n':
                if (kind != kPointer && kind != kNarrowText && kind != kWideText && kind != kNull)
                    return false;
                break;
            default:  // an unknown conversion, or a format ending inside one
                return false;
        }
    }
    return next == K::count;
}

template <bool formatMatchesArguments>
constexpr int Check() {
    static_assert(
        formatMatchesArguments,
        "DBG_LOG: the format does not match its arguments (count, or a conversion given the wrong type)");
    return 0;
}

}  // namespace format_check
}  // namespace DBG

#define DBG_FORMAT_OF(...) DBG_FORMAT_OF_(__VA_ARGS__, 0)
#define DBG_FORMAT_OF_(format, ...) format
// The format must be a literal; DBG::DebugLogEx takes any.
#define DBG_CHECK_FORMAT(...)                                    \
    static_cast<void>(                                           \
        ::DBG::format_check::Check<::DBG::format_check::Matches( \
            DBG_FORMAT_OF(__VA_ARGS__), decltype(::DBG::format_check::KindsOf(__VA_ARGS__)){})>())
#else
// Below C++17 the macros log without the compile-time check.
#define DBG_CHECK_FORMAT(...) static_cast<void>(0)
#endif

// Convenience macros: the calling module, file and line are filled in, and a
// literal format is checked against its arguments at compile time.
#define DBG_LOG(level, ...)         \
    (DBG_CHECK_FORMAT(__VA_ARGS__), \
     ::DBG::DebugLogEx(DBG_THIS_MODULE, (level), __FILE__, __LINE__, __VA_ARGS__))
#define DBG_LOGW(level, ...)        \
    (DBG_CHECK_FORMAT(__VA_ARGS__), \
     ::DBG::DebugLogEx(DBG_THIS_MODULE, (level), DBG_WIDEN(__FILE__), __LINE__, __VA_ARGS__))
#define DBG_WIDEN2(x) L##x
#define DBG_WIDEN(x) DBG_WIDEN2(x)
#define DBG_DEBUG(...) DBG_LOG(DBG_LEVEL_DEBUG, __VA_ARGS__)
#define DBG_WARN(...) DBG_LOG(DBG_LEVEL_WARNING, __VA_ARGS__)
#define DBG_ERROR(...) DBG_LOG(DBG_LEVEL_ERROR, __VA_ARGS__)
#define DBG_FATAL(...) DBG_LOG(DBG_LEVEL_FATAL, __VA_ARGS__)
#define DBG_ENTER(...) DBG_LOG(DBG_LEVEL_ENTRY, __VA_ARGS__)
#define DBG_LEAVE(...) DBG_LOG(DBG_LEVEL_EXIT, __VA_ARGS__)
