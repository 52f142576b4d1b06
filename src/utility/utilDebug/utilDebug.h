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

UTILDEBUG_API void DebugLogEx(HINSTANCE module, int level, const char* file, int line, const char* format,
                              ...) __attribute__((format(printf, 5, 6)));
UTILDEBUG_API void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line,
                              const wchar_t* format, ...);
UTILDEBUG_API void DebugLogEx(HINSTANCE module, int level, const wchar_t* file, int line, const char* format,
                              ...) __attribute__((format(printf, 5, 6)));

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

// Convenience macros: the calling module, file and line are filled in.
#define DBG_LOG(level, ...) ::DBG::DebugLogEx(DBG_THIS_MODULE, (level), __FILE__, __LINE__, __VA_ARGS__)
#define DBG_LOGW(level, ...) \
    ::DBG::DebugLogEx(DBG_THIS_MODULE, (level), DBG_WIDEN(__FILE__), __LINE__, __VA_ARGS__)
#define DBG_WIDEN2(x) L##x
#define DBG_WIDEN(x) DBG_WIDEN2(x)
#define DBG_DEBUG(...) DBG_LOG(DBG_LEVEL_DEBUG, __VA_ARGS__)
#define DBG_WARN(...) DBG_LOG(DBG_LEVEL_WARNING, __VA_ARGS__)
#define DBG_ERROR(...) DBG_LOG(DBG_LEVEL_ERROR, __VA_ARGS__)
#define DBG_FATAL(...) DBG_LOG(DBG_LEVEL_FATAL, __VA_ARGS__)
#define DBG_ENTER(...) DBG_LOG(DBG_LEVEL_ENTRY, __VA_ARGS__)
#define DBG_LEAVE(...) DBG_LOG(DBG_LEVEL_EXIT, __VA_ARGS__)
