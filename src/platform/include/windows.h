// The Windows services utilDebug and its tools rely on, provided on POSIX with
// the Windows behaviour: return values, truncation, terminators, error codes.
// On Windows this header is the system's <windows.h>; code that includes it
// compiles against either.
//
// Where Linux differs by nature (wchar_t is 32 bits, paths use '/'), the
// function comments say how the stand-in maps it.
#pragma once

#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>
#include <wchar.h>

#if defined(NLPLATFORM_BUILD)
#define NLAPI __attribute__((visibility("default")))
#else
#define NLAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---- Basic types (LLP64 sizes, as on 64-bit Windows) ----------------------
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORD64;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef wchar_t WCHAR;
typedef char CHAR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef BOOL* LPBOOL;
typedef LONG LSTATUS;
typedef DWORD REGSAM;

struct HINSTANCE__;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HKEY__;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef struct _SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define WINAPI
#define APIENTRY

// ---- Error codes ----------------------------------------------------------
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_FORMAT 11L
#define ERROR_INVALID_DATA 13L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NOACCESS 998L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_INVALID_FUNCTION 1L
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define ERROR_RESOURCE_NOT_FOUND 5007L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_CANT_ACCESS_FILE 1920L

NLAPI DWORD GetLastError(void);
NLAPI void SetLastError(DWORD error);

// ---- kernel32: synchronisation ---------------------------------------------
// A critical section is recursive: the owning thread may enter it again.
typedef struct _RTL_CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

NLAPI void InitializeCriticalSection(LPCRITICAL_SECTION cs);
NLAPI void DeleteCriticalSection(LPCRITICAL_SECTION cs);
NLAPI void EnterCriticalSection(LPCRITICAL_SECTION cs);
NLAPI void LeaveCriticalSection(LPCRITICAL_SECTION cs);

// Slim reader/writer locks: not recursive; a thread waiting for exclusive
// access holds off new shared owners, so a shared owner must not acquire the
// lock again.
typedef struct _RTL_SRWLOCK {
    pthread_rwlock_t lock;
} SRWLOCK, *PSRWLOCK;

NLAPI void InitializeSRWLock(PSRWLOCK lock);
NLAPI void AcquireSRWLockShared(PSRWLOCK lock);
NLAPI void ReleaseSRWLockShared(PSRWLOCK lock);
NLAPI void AcquireSRWLockExclusive(PSRWLOCK lock);
NLAPI void ReleaseSRWLockExclusive(PSRWLOCK lock);

// Every processor running a thread of the process passes a full memory
// barrier before this returns.
NLAPI void FlushProcessWriteBuffers(void);

// Not a Windows API: Windows has no fork(). A lock registered here is taken
// by fork() before the process is copied, in the order of registration, and
// is free in both processes afterwards, so that a child never finds it held
// by a thread that does not exist there. Register locks in the order in which
// code takes them; an SRW lock is taken exclusively.
NLAPI void NlKeepCriticalSectionAcrossFork(LPCRITICAL_SECTION cs);
NLAPI void NlKeepSRWLockAcrossFork(PSRWLOCK lock);
// A lock of the caller's own making, in the same order: fork() calls close
// where it would take a registered lock, and open in both processes where it
// would free it.
typedef void (*NL_FORK_STEP)(void);
NLAPI void NlKeepStateAcrossFork(NL_FORK_STEP close, NL_FORK_STEP open);

// Interlocked operations are full barriers, as on Windows.
static inline LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
static inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedIncrement(LONG volatile* target) {
    return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedDecrement(LONG volatile* target) {
    return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}

// ---- kernel32: time, process and thread -------------------------------------
// Not a Windows API, and not part of the layer: tests drive GetTickCount
// through libnl_test_hooks.so, a test-only library that defines these two
// (tests/support/test_hooks.cpp). The layer refers to the source weakly: in a
// process without that library it is null, and the real clock runs. A null
// source restores the real clock.
typedef DWORD (*NL_TICK_SOURCE)(void);
__attribute__((visibility("default"))) void NlSetTickSourceForTesting(NL_TICK_SOURCE source);
__attribute__((weak, visibility("default"))) extern NL_TICK_SOURCE NlTickSourceForTesting;

// Milliseconds of the monotonic clock, cut to 32 bits (wraps after ~49.7 days).
// Reads the coarse clock: its few-millisecond resolution matches Windows's and
// it costs a fraction of the precise one. Inline, since every logged record
// reads it.
static inline DWORD GetTickCount(void) {
    NL_TICK_SOURCE source =
        &NlTickSourceForTesting ? __atomic_load_n(&NlTickSourceForTesting, __ATOMIC_RELAXED) : 0;
    if (source) return source();
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return (DWORD)((ULONGLONG)now.tv_sec * 1000u + (ULONGLONG)now.tv_nsec / 1000000u);
}
// The same clock in 64 bits: it does not wrap.
NLAPI ULONGLONG GetTickCount64(void);
NLAPI void GetLocalTime(LPSYSTEMTIME time);
NLAPI DWORD GetCurrentProcessId(void);
// The kernel thread id (gettid), unique system-wide while the thread lives.
NLAPI DWORD GetCurrentThreadId(void);
NLAPI void Sleep(DWORD milliseconds);
// Not a Windows API: POSIX thread cancellation, which Windows threads do not
// have. NlSetThreadCancellation enables or holds off the cancellation of the
// calling thread and returns whether it was enabled; a request made while it
// is held off waits for NlThreadCancellationPoint, where a thread that may
// be cancelled ends (glibc unwinds its stack: abi::__forced_unwind).
NLAPI BOOL NlSetThreadCancellation(BOOL enabled);
NLAPI void NlThreadCancellationPoint(void);

// Thread handles. GetCurrentThread gives the pseudo-handle that stands for
// the calling thread wherever it is used; closing it does nothing.
#define THREAD_QUERY_INFORMATION 0x0040u
#define THREAD_QUERY_LIMITED_INFORMATION 0x0800u
#define SYNCHRONIZE 0x00100000u
#define THREAD_ALL_ACCESS 0x001FFFFFu
NLAPI HANDLE GetCurrentThread(void);
// Opens a thread of this process by its kernel id; the id of a thread that
// is not this process's gives ERROR_INVALID_PARAMETER. The handle keeps the
// id after the thread ends, until CloseHandle.
NLAPI HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);
// The kernel thread id behind a thread handle. 0 with ERROR_INVALID_HANDLE
// for a handle that is null, closed, made up or not a thread's, and with
// ERROR_ACCESS_DENIED when it was opened without a query right.
NLAPI DWORD GetThreadId(HANDLE thread);

// The NetBIOS name: the host name up to its first '.', in upper case, cut to
// MAX_COMPUTERNAME_LENGTH characters. *size is the buffer's size in
// characters, terminator included; on success it becomes the name's length.
// A buffer too small gives FALSE, ERROR_BUFFER_OVERFLOW and in *size the
// size needed with the terminator; the buffer is left untouched.
#define MAX_COMPUTERNAME_LENGTH 15
NLAPI BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);

// ---- kernel32: unhandled exceptions ------------------------------------------
// A fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) is the process's
// unhandled exception. The filter runs once per process, on the thread that
// received the first such signal, inside the signal handler: it may call only
// async-signal-safe functions. Whatever it returns, the process then goes on
// as it would have without it: the handler installed before runs, or the
// signal's default action (a core dump where one is made, then death by that
// signal). The layer's handlers are installed at the first filter that is not
// null, never before; a null filter takes them away again, unless somebody
// replaced them meanwhile. ExceptionInformation[0] holds the signal number.
#define EXCEPTION_ACCESS_VIOLATION 0xC0000005u
#define EXCEPTION_IN_PAGE_ERROR 0xC0000006u
#define EXCEPTION_ILLEGAL_INSTRUCTION 0xC000001Du
#define EXCEPTION_INT_DIVIDE_BY_ZERO 0xC0000094u
#define STATUS_FATAL_APP_EXIT 0x40000015u
#define EXCEPTION_CONTINUE_SEARCH 0
#define EXCEPTION_MAXIMUM_PARAMETERS 15
typedef struct _EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    struct _EXCEPTION_RECORD* ExceptionRecord;
    LPVOID ExceptionAddress;
    DWORD NumberParameters;
    ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
} EXCEPTION_RECORD, *PEXCEPTION_RECORD;
typedef struct _EXCEPTION_POINTERS {
    PEXCEPTION_RECORD ExceptionRecord;
    LPVOID ContextRecord;  // the signal handler's ucontext_t
} EXCEPTION_POINTERS, *PEXCEPTION_POINTERS;
typedef LONG (*LPTOP_LEVEL_EXCEPTION_FILTER)(PEXCEPTION_POINTERS exceptionInfo);
NLAPI LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// ---- kernel32: modules -------------------------------------------------------
// A module handle is any address inside a loaded module; the null handle is the
// executable. Resolved with dladdr; the executable with /proc/self/exe.
NLAPI DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
NLAPI BOOL DisableThreadLibraryCalls(HMODULE module);
// Not a Windows API: calls callback(context) when the module is unloaded, or
// at exit if it stays. module must be the module's own handle, the address of
// its __dso_handle (DBG_THIS_MODULE in utilDebug.h), not just any address in
// it. Fails with ERROR_INVALID_PARAMETER for a null module or callback.
NLAPI BOOL NlCallOnModuleUnload(HMODULE module, void (*callback)(void* context), void* context);

// Run-time loading over dlopen. A name holding '/' is a path; any other is
// looked up as dlopen looks up a bare name. The Windows components this
// layer replaces ("kernel32.dll", "advapi32.dll", "ktmw32.dll",
// "version.dll", "resutils.dll", any case, ".dll" optional) load the layer
// itself. The
// module handle is the base address of the loaded object, so that
// GetModuleFileNameW names it. A missing or unloadable file gives
// ERROR_MOD_NOT_FOUND.
typedef LONG_PTR (*FARPROC)(void);
NLAPI HMODULE LoadLibraryW(LPCWSTR fileName);
// Only the module's own exports are found, not those of the libraries it
// depends on: ERROR_PROC_NOT_FOUND otherwise, and for an ordinal (a "name"
// below 0x10000), since ELF has none. A module handle that LoadLibraryW did
// not give, or that was freed, gives ERROR_MOD_NOT_FOUND.
NLAPI FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Releases one reference taken by LoadLibraryW.
NLAPI BOOL FreeLibrary(HMODULE module);
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// ---- kernel32: environment -------------------------------------------------
// In a process that runs in secure-execution mode (setuid, setgid, or with
// raised capabilities) every variable reads as unset, so that the caller's
// environment steers nothing: no registry file, temporary directory or run
// id of the caller's choosing.
NLAPI DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
NLAPI DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);
// The temporary directory with a trailing separator: $TMPDIR when set (and
// not in secure-execution mode), else /tmp.
NLAPI DWORD GetTempPathW(DWORD size, LPWSTR buffer);

// ---- kernel32: files ---------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
// Every write goes to the end of the file, as one piece.
#define FILE_APPEND_DATA 0x0004u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

// Default security: a file that the call creates gets mode 0644 and a folder
// 0755, whatever the umask (readable by everyone, writable by the owner).
// OPEN_ALWAYS and CREATE_ALWAYS on an existing file succeed with the last
// error ERROR_ALREADY_EXISTS. Sharing modes have no POSIX counterpart and are
// accepted as given.
//
// Only a regular file opens, and the call never waits: a pipe, a device or a
// socket at the path fails with ERROR_CANT_ACCESS_FILE, a folder with
// ERROR_ACCESS_DENIED. CREATE_ALWAYS and TRUNCATE_EXISTING empty the file
// only once it passed every check.
//
// FILE_FLAG_OPEN_REPARSE_POINT opens the file itself and nothing it points
// to. Linux cannot open a symbolic link for data, so a link at the path fails
// with ERROR_CANT_ACCESS_FILE; so does, in a world-writable folder, a file
// owned by another user (which that user could read, or have planted).
NLAPI HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                         DWORD creation, DWORD flags, HANDLE templateFile);
// Writes the whole buffer with one write(2), so that a file opened with
// FILE_APPEND_DATA by several processes never interleaves their writes.
// overlapped must be null.
NLAPI BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                     LPVOID overlapped);
NLAPI BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
// Not a Windows API: the largest file the process may write (its
// RLIMIT_FSIZE), or ~0 when there is no limit. A write past it raises
// SIGXFSZ, which kills a process that does not handle it.
NLAPI ULONGLONG NlGetFileSizeLimit(void);
// Not a Windows API: the lock file beside a file that several processes
// write, on which they take the locks that order them (LockFileEx), so that
// a process that may only read the file can take none of them. Opens path
// for reading and writing, never through a link and never waiting, creating
// it when missing with read and write access for each class (owner, group,
// others) that may write the file behind the handle, and no access for the
// others. An existing lock file is used only when it is a regular file owned
// by the file's owner or by the caller that grants no access beyond that.
// INVALID_HANDLE_VALUE otherwise (ERROR_ACCESS_DENIED, ERROR_CANT_ACCESS_FILE).
NLAPI HANDLE NlOpenWritersLockFile(HANDLE file, LPCWSTR path);

// Not a Windows API: appends the buffer to an existing file with plain
// system calls only, so that a filter of SetUnhandledExceptionFilter may call
// it from inside the signal handler. A link at the path is not followed;
// a missing file is not created. FALSE when the file could not be written.
NLAPI BOOL NlAppendToFileFromSignal(LPCSTR path, LPCVOID buffer, DWORD size);
// Not a Windows API: takes a request that another process left for this one
// as a file: TRUE when a regular file (not a link) at the path was owned by
// this process's effective user and has been removed. Only that user and
// root can leave a file of that owner; a file of anyone else stays where it
// is and counts as no request.
NLAPI BOOL NlTakeRequestFile(LPCSTR path);

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        } s;
        LPVOID Pointer;
    } u;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

#define LOCKFILE_FAIL_IMMEDIATELY 0x1u
#define LOCKFILE_EXCLUSIVE_LOCK 0x2u
#define ERROR_LOCK_VIOLATION 33L
// A lock on a range of the file (from overlapped's offset, bytes long), held
// by the handle: other handles, in this process or another, wait for it, or
// fail with ERROR_LOCK_VIOLATION under LOCKFILE_FAIL_IMMEDIATELY. Closing
// the handle releases its locks. An open file description's lock (F_OFD_SETLK)
// below; overlapped is required, its event ignored.
NLAPI BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                      LPOVERLAPPED overlapped);
NLAPI BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                        LPOVERLAPPED overlapped);

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
// The volume serial number and the file index name the file: two handles
// with the same pair are open on the same file (its device and inode).
NLAPI BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
NLAPI BOOL CloseHandle(HANDLE handle);
NLAPI BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES security);

// ---- kernel32: local memory --------------------------------------------------
// Memory one component allocates and another frees (cluster control output,
// ResUtil copies). Every block is fixed: the handle is its address, also when
// LMEM_MOVEABLE is asked for. LocalReAlloc moves a block only with
// LMEM_MOVEABLE; without it a block can shrink but not grow
// (ERROR_NOT_ENOUGH_MEMORY). LMEM_ZEROINIT zeroes new bytes in both calls.
typedef HANDLE HLOCAL;
#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
NLAPI HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
NLAPI HLOCAL LocalReAlloc(HLOCAL mem, SIZE_T bytes, UINT flags);
// NULL on success; the handle, with ERROR_INVALID_HANDLE, when it is no block.
NLAPI HLOCAL LocalFree(HLOCAL mem);

// ---- kernel32: profile (INI) files ---------------------------------------------
// Read anew at each call. Files are UTF-16LE after a byte-order mark FF FE,
// otherwise UTF-8 (with or without its mark); lines end in CR, LF or both.
// Section names match ignoring case; the first of sections that share a
// name is the one read. Lines are trimmed; ';' starts a comment line; a line
// without '=' comes back bare, "key = value" as "key=value". A file that
// cannot be read, or a name without a directory (Windows would look in its
// own folder, which Linux has not), has no sections; so does anything but a
// regular file (a pipe is never waited for: ERROR_CANT_ACCESS_FILE; a folder
// is ERROR_ACCESS_DENIED). Only the file's first MiB is read. As Windows does,
// the last file read is kept parsed and read again only once it changed, so
// that reading every section of a file one by one reads it once.
//
// Lists are NUL-separated and end in a second NUL; the result counts the
// characters written without that last NUL. When the list does not fit, its
// last string is cut so that two NULs still end it, and the result is
// size - 2 (for sizes below 3 it is 0).
NLAPI DWORD GetPrivateProfileSectionNamesW(LPWSTR buffer, DWORD size, LPCWSTR fileName);
NLAPI DWORD GetPrivateProfileSectionW(LPCWSTR sectionName, LPWSTR buffer, DWORD size, LPCWSTR fileName);

// ---- kernel32: debugger output ----------------------------------------------
// Linux has no system debug-output channel, so this layer provides one: each
// call sends its text as one UTF-8 datagram to the local datagram socket
// NL_DEBUG_CHANNEL_PATH, or the path in the environment variable
// NL_DEBUG_CHANNEL_VARIABLE, where a viewer such as qpdbgview reads it with
// the sender's process id. A call never blocks: with no viewer, or a viewer
// that has fallen behind, the text is lost, as on Windows with nobody
// listening. Texts longer than NL_DEBUG_CHANNEL_MAX_MESSAGE bytes of UTF-8
// are cut there, at a character boundary. The last error is left unchanged.
// A send that finds nobody listening makes the calls of the next second drop
// their texts without trying, so that the usual case costs no system call; a
// viewer that starts gets texts within that second.
#define NL_DEBUG_CHANNEL_PATH "/run/norlake/debug-output.sock"
#define NL_DEBUG_CHANNEL_VARIABLE "NL_DEBUG_CHANNEL"
#define NL_DEBUG_CHANNEL_MAX_MESSAGE 65536
// Not a Windows API: the channel's socket path as the calling process sees
// it, for the viewer. Returns its length, or 0 when it does not fit size
// bytes with its terminator or exceeds what a socket address holds.
NLAPI DWORD NlGetDebugChannelPath(LPSTR buffer, DWORD size);
NLAPI void OutputDebugStringW(LPCWSTR text);

// ---- kernel32: character conversion ------------------------------------------
// The ANSI code page of this port is UTF-8, whatever the process's locale.
#define CP_ACP 0
#define CP_UTF8 65001
#define WC_ERR_INVALID_CHARS 0x80
NLAPI int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR narrow,
                              int narrowSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);
NLAPI int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowCount, LPWSTR wide,
                              int wideSize);

// ---- version: file version information ----------------------------------------
// An ELF file declares its version in a note of owner NL_VERSION_NOTE_OWNER
// and type NL_VERSION_NOTE_TYPE whose description holds dwFileVersionMS and
// dwFileVersionLS (32 bits each, in the file's byte order); utilDebug.h's
// DBG_FILE_VERSION writes it. The owner's name takes 12 bytes with its
// terminator, so the note reads the same in a segment aligned to 4 or to 8.
// The functions read the note from the file at the given path, as Windows
// reads the resource of the file, and present it as a version block holding
// a VS_FIXEDFILEINFO whose product version equals the file version. A file
// that is not ELF gives ERROR_BAD_FORMAT, an ELF file without the note
// ERROR_RESOURCE_DATA_NOT_FOUND, a missing file ERROR_FILE_NOT_FOUND, an
// empty name ERROR_BAD_PATHNAME.
#define NL_VERSION_NOTE_OWNER "NorlakeVer"
#define NL_VERSION_NOTE_TYPE 1
#define VS_FFI_SIGNATURE 0xFEEF04BDu
#define VS_FFI_STRUCVERSION 0x00010000u

typedef struct tagVS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

#define HIWORD(value) ((WORD)(((DWORD_PTR)(value) >> 16) & 0xFFFF))
#define LOWORD(value) ((WORD)((DWORD_PTR)(value)&0xFFFF))

// The size in bytes of the file's version block; *handle is set to 0.
NLAPI DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle);
// Copies the version block; a buffer smaller than the block gets its start.
NLAPI BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD size, LPVOID data);
// Only the root block "\\" (a null or empty sub-block too) exists: a pointer
// to the VS_FIXEDFILEINFO inside the block and its size in bytes. Any other
// name gives FALSE, *length 0 and ERROR_RESOURCE_TYPE_NOT_FOUND.
NLAPI BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length);

// ---- advapi32: the registry ----------------------------------------------------
// Kept in a SQLite database named by $NL_REGISTRY_FILE, read at every open
// (default /var/lib/norlake/registry.db), shared by all processes. A missing,
// unreadable or corrupt file reads as an empty registry and is never created
// by a read; the first write creates it (file 0644). The default file's
// folders are made when missing (0755); a file named by $NL_REGISTRY_FILE in
// a folder that does not exist is never created: its writes fail with
// ERROR_PATH_NOT_FOUND. Only HKEY_LOCAL_MACHINE exists: any other root, like any handle that
// is not open, gives ERROR_INVALID_HANDLE. KEY_WOW64_64KEY and KEY_WOW64_32KEY
// are accepted and ignored: there is one view.
//
// Key and value names are case-insensitive (Latin, Greek and Cyrillic letters
// fold, whatever the locale) and keep the case they were created with; paths
// split on '\' only. Name sizes count wchar_t elements. The tree is at most
// 512 levels deep: creating a key deeper below HKEY_LOCAL_MACHINE fails with
// ERROR_INVALID_PARAMETER and creates none of the path.
//
// Data sizes count the registry's bytes as on Windows: string data
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is stored as UTF-16, so a string
// buffer given a size of N bytes must hold N/2 wchar_t elements, and receives
// at most N/2 - 1 characters and a terminator (a character outside the BMP
// counts 4 bytes). Other types are plain bytes.
//
// Opening for KEY_SET_VALUE or KEY_CREATE_SUB_KEY, and creating, fail with
// ERROR_ACCESS_DENIED when the process may not write the database; a change
// through a handle opened without the matching right fails the same way.
// ERROR_BADDB: a change to a file that is not a registry, or any call that
// finds the keys of a damaged file forming a cycle. ERROR_CANTWRITE or
// ERROR_CANTREAD: the database stayed locked by another process for seconds
// (see NlBeginRegistryWaitBudget), or the disk failed. ERROR_KEY_DELETED:
// the handle's key was deleted.
//
// A writer killed in the middle of a change leaves the registry as it was
// before the change, for every reader: one that may not write the database
// (and so cannot roll the change back) reads a private rolled-back copy.
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_FULL_RESOURCE_DESCRIPTOR 9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD 11
#define REG_QWORD_LITTLE_ENDIAN 11

// Volatile keys are not supported: REG_OPTION_VOLATILE keys persist too.
#define REG_OPTION_NON_VOLATILE 0
#define REG_OPTION_VOLATILE 1
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define ERROR_TRANSACTION_NOT_ACTIVE 6701L

// Not a Windows API: from now until the matching NlEndRegistryWaitBudget, the
// registry calls of the calling thread wait at most milliseconds in total for
// another process's change to finish; a call that would wait longer fails
// with ERROR_CANTREAD or ERROR_CANTWRITE. Without a budget each call waits up
// to five seconds. Budgets nest: an inner one neither extends nor restarts
// the outer one.
NLAPI void NlBeginRegistryWaitBudget(DWORD milliseconds);
NLAPI void NlEndRegistryWaitBudget(void);

// Not a Windows API: from now until the matching NlEndRegistrySnapshot, the
// registry reads of the calling thread see the registry as it was at the
// first of them, and take the database's lock once instead of once per call
// (Windows reads take no such lock). Meanwhile other processes' changes, and
// this process's other registry reads, wait: keep it to a few reads, and do
// not fork() inside it. A change, or a call in a transaction, by the thread
// ends the shared view first; reads after it start another. Snapshots nest:
// an inner one ends with the outer one.
NLAPI void NlBeginRegistrySnapshot(void);
NLAPI void NlEndRegistrySnapshot(void);

// A null or empty subKey on HKEY_LOCAL_MACHINE returns HKEY_LOCAL_MACHINE
// itself; on another key, a new handle to that key.
NLAPI LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
NLAPI LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                              REGSAM desired, const LPSECURITY_ATTRIBUTES security, PHKEY result,
                              LPDWORD disposition);
// Too small a buffer gives ERROR_MORE_DATA with the size needed in *dataSize
// and leaves the buffer untouched; a null data asks for the size only (0
// for a value that does not exist). A
// string stored without a terminator gets one when the buffer has room for
// it, which *dataSize does not count (as NT does).
NLAPI LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                               LPDWORD dataSize);

// For string types, dataSize counts the UTF-16 bytes to store: the
// conversion reads at most dataSize / 2 elements of the wchar_t text and stops
// when it has that many bytes, its terminator included when counted.
NLAPI LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                             DWORD dataSize);
// Not Windows APIs: the string sizes the two calls above take, which Windows
// code computes with sizeof because its WCHAR is a UTF-16 unit.
// The dataSize of RegSetValueExW for a REG_SZ or REG_EXPAND_SZ text with its
// terminator ((wcslen(text) + 1) * sizeof(WCHAR) on Windows); 0 for null.
NLAPI DWORD NlRegStringDataSize(LPCWSTR text);
// The *dataSize of RegQueryValueExW for a wchar_t buffer of that many
// elements (sizeof buffer on Windows): two bytes each, so the buffer is never
// overrun, and text beyond the BMP needs an element per UTF-16 unit, as there.
NLAPI DWORD NlRegStringBufferSize(SIZE_T elements);
NLAPI LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName);
// Deletes a key without subkeys; one with subkeys gives ERROR_ACCESS_DENIED.
// An empty subKey deletes key itself.
NLAPI LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Deletes the subkey and its whole subtree (with a null subKey: the values
// and subkeys of key itself).
NLAPI LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey);
// Subkeys come in the order of their upper-cased names, as on Windows;
// keys have no class (an empty one is returned).
NLAPI LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                            LPWSTR className, LPDWORD classSize, PFILETIME lastWriteTime);
// Values come in the order they were first set.
NLAPI LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameSize, LPDWORD reserved,
                            LPDWORD type, LPBYTE data, LPDWORD dataSize);
NLAPI LSTATUS RegCloseKey(HKEY key);

// ---- ktmw32 and the transacted registry ------------------------------------------
// A transaction makes every change through the keys created or opened in it
// (and the keys opened below those) reach the registry together on commit,
// or not at all. Other processes see none of it before the commit. From its
// first change until it ends it holds the registry's write lock: other
// writers wait, for a few seconds at most. The unit of work, options,
// isolation, timeout and description are accepted and ignored. CloseHandle
// ends it, rolling back unless committed. A transaction serves the process
// that created it, not a child after fork().
NLAPI HANDLE CreateTransaction(LPSECURITY_ATTRIBUTES security, void* unitOfWork, DWORD createOptions,
                               DWORD isolationLevel, DWORD isolationFlags, DWORD timeout, LPWSTR description);
// FALSE with GetLastError() ERROR_TRANSACTION_NOT_ACTIVE once it has ended,
// or with the registry's error when the commit failed (all is rolled back).
NLAPI BOOL CommitTransaction(HANDLE transaction);
NLAPI BOOL RollbackTransaction(HANDLE transaction);
NLAPI LSTATUS RegCreateKeyTransactedW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className,
                                      DWORD options, REGSAM desired, const LPSECURITY_ATTRIBUTES security,
                                      PHKEY result, LPDWORD disposition, HANDLE transaction, void* extended);
NLAPI LSTATUS RegOpenKeyTransactedW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result,
                                    HANDLE transaction, void* extended);
NLAPI LSTATUS RegDeleteKeyTransactedW(HKEY key, LPCWSTR subKey, REGSAM desired, DWORD reserved,
                                      HANDLE transaction, void* extended);

// ---- clusapi and resutils: the failover cluster, here Pacemaker's ------------------
// The cluster is read through Pacemaker's client library (libcib), from the
// live cluster or from the file named by CIB_file, which Pacemaker's own
// tools honour too. The library is loaded on the first OpenCluster, never
// before; without it or without a readable CIB OpenCluster returns NULL
// (ERROR_MOD_NOT_FOUND, RPC_S_SERVER_UNAVAILABLE). OpenCluster takes a
// snapshot: the handles below work on what it read.
//
// Resources are Pacemaker's primitive resources (also those in groups,
// clones and bundles), in document order, named by their id (matched
// exactly). A resource's type is its agent type (the primitive's "type"
// attribute); its private properties are its instance attributes, all
// strings. Sizes of control buffers count bytes; text is WCHAR.
struct HCLUSTER__;
typedef struct HCLUSTER__* HCLUSTER;
struct HCLUSENUM__;
typedef struct HCLUSENUM__* HCLUSENUM;
struct HRESOURCE__;
typedef struct HRESOURCE__* HRESOURCE;
struct HNODE__;
typedef struct HNODE__* HNODE;
typedef void* PVOID;

#define CLUSTER_ENUM_NODE 0x1
#define CLUSTER_ENUM_RESTYPE 0x2
#define CLUSTER_ENUM_RESOURCE 0x4
#define CLUSTER_ENUM_GROUP 0x8
#define CLUSTER_ENUM_NETWORK 0x10
#define CLUSTER_ENUM_NETINTERFACE 0x20

#define CLUSCTL_RESOURCE_GET_RESOURCE_TYPE 0x0100002D
#define CLUSCTL_RESOURCE_GET_PRIVATE_PROPERTIES 0x01000081

// Property list syntax: (type << 16) | format.
#define CLUSPROP_FORMAT_BINARY 1
#define CLUSPROP_FORMAT_DWORD 2
#define CLUSPROP_FORMAT_SZ 3
#define CLUSPROP_FORMAT_EXPAND_SZ 4
#define CLUSPROP_FORMAT_MULTI_SZ 5
#define CLUSPROP_FORMAT_EXPANDED_SZ 8
#define CLUSPROP_SYNTAX_ENDMARK 0u
#define CLUSPROP_SYNTAX_NAME 0x00040003u
#define CLUSPROP_SYNTAX_LIST_VALUE_BINARY 0x00010001u
#define CLUSPROP_SYNTAX_LIST_VALUE_DWORD 0x00010002u
#define CLUSPROP_SYNTAX_LIST_VALUE_SZ 0x00010003u
#define CLUSPROP_SYNTAX_LIST_VALUE_EXPAND_SZ 0x00010004u
#define CLUSPROP_SYNTAX_LIST_VALUE_MULTI_SZ 0x00010005u
#define CLUSPROP_SYNTAX_LIST_VALUE_EXPANDED_SZ 0x00010008u

// A null or empty name opens the local cluster; another name fails.
NLAPI HCLUSTER OpenCluster(LPCWSTR clusterName);
NLAPI BOOL CloseCluster(HCLUSTER cluster);
// Only CLUSTER_ENUM_RESOURCE lists anything.
NLAPI HCLUSENUM ClusterOpenEnum(HCLUSTER cluster, DWORD type);
// *nameLength holds the buffer's capacity in characters, terminator
// included; it receives the name's length without it. ERROR_MORE_DATA when
// the name does not fit (nothing is copied; ask the same index again),
// ERROR_NO_MORE_ITEMS after the last one.
NLAPI DWORD ClusterEnum(HCLUSENUM enumeration, DWORD index, LPDWORD type, LPWSTR name, LPDWORD nameLength);
NLAPI DWORD ClusterCloseEnum(HCLUSENUM enumeration);
// NULL with ERROR_RESOURCE_NOT_FOUND for an unknown name.
NLAPI HRESOURCE OpenClusterResource(HCLUSTER cluster, LPCWSTR resourceName);
NLAPI BOOL CloseClusterResource(HRESOURCE resource);
// The two control codes above; others give ERROR_INVALID_FUNCTION. Output
// that does not fit gives ERROR_MORE_DATA and its size in *bytesReturned.
NLAPI DWORD ClusterResourceControl(HRESOURCE resource, HNODE node, DWORD controlCode, LPVOID inBuffer,
                                   DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                                   LPDWORD bytesReturned);
// The string property named propertyName (ignoring case) from a property
// list, copied into local memory for the caller to LocalFree.
// ERROR_FILE_NOT_FOUND when absent, ERROR_INVALID_DATA for a malformed list
// or a property that is not a string.
NLAPI DWORD ResUtilFindSzProperty(const PVOID propertyList, DWORD propertyListSize, LPCWSTR propertyName,
                                  LPWSTR* foundString);

// ---- crt -------------------------------------------------------------------------
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256
#define _NLSCMPERROR 2147483647

// Splits at the last '/' or '\' and the last '.' of the file part. A component
// longer than its _MAX_* buffer is cut and terminated.
NLAPI void _wsplitpath(const wchar_t* path, wchar_t* drive, wchar_t* dir, wchar_t* fname, wchar_t* ext);
// Case folding of the "C" locale: ASCII letters only, whatever the process's
// locale. Both sides are lower-cased before comparing. A null argument gives
// _NLSCMPERROR and EINVAL.
NLAPI int _wcsicmp(const wchar_t* a, const wchar_t* b);
NLAPI int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t count);
NLAPI wchar_t* _wcslwr(wchar_t* text);

// Legacy counted formatting with the Microsoft conventions, in both widths:
// in wide formats %s and %c take wide arguments and %S and %C narrow ones;
// %hs %ls %hc %lc %ws %wc are explicit; the size prefixes I64, I32 and I
// (pointer-sized) work besides hh h l ll j z t L. %l with an integer takes this
// platform's long (64 bits), as the caller's compiler passes it: print the
// 32-bit LONG and DWORD with %d/%u or %I32d/%I32u. %p prints 16 upper-case hex
// digits, a null string "(null)", and the '0' flag pads strings too.
// %n is never executed: its pointer argument is skipped, nothing is written.
// An unknown conversion is copied with the rest of the format as it stands,
// and no further argument is read.
// At most count characters are written; a terminator only when the output is
// shorter than count; -1 when the output did not fit. A null buffer with a
// count of 0 returns the length needed. Text crosses widths as UTF-8,
// independent of the process's locale; width and precision count characters
// of the text (wide characters for wide text in narrow output, as Windows
// does in a UTF-8 locale). A negative NaN prints "-nan(ind)". The work done
// is bounded by the output: a precision or width of any size costs no more
// than the characters stored.
NLAPI int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
NLAPI int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args);
NLAPI int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...);
// Not a Windows API: _vsnprintf and _vsnwprintf with the arguments taken from
// an array of pointer-sized slots, the way a 64-bit Windows caller passes
// them (a double as its bits). Past the last slot every argument reads as
// zero (a null string, 0, 0.0), so a format never reads what was not given.
NLAPI int NlFormatSlots(char* buffer, size_t count, const char* format, const ULONG_PTR* slots,
                        size_t slotCount);
NLAPI int NlFormatSlotsW(wchar_t* buffer, size_t count, const wchar_t* format, const ULONG_PTR* slots,
                         size_t slotCount);

// Not a Windows API: systemd's journal, where a Windows program would report
// to the event log. A field is one "NAME=value" of an entry, not terminated.
typedef struct NL_JOURNAL_FIELD {
    const void* data;
    SIZE_T length;
} NL_JOURNAL_FIELD;
// Sends one entry of count fields (at most 64). Returns 0, or a negative errno
// value when the journal did not take it: -ENOENT or -ECONNREFUSED when
// nothing listens at its socket, -EAGAIN when it did not take the entry
// within NL_JOURNAL_WAIT_MS (after such a refusal, entries are not waited
// for again until the journal takes one). Never waits longer than that.
#define NL_JOURNAL_WAIT_MS 5
NLAPI int NlJournalSend(const NL_JOURNAL_FIELD* fields, int count);

// Opens a file named by a wide path (its UTF-8 bytes). Text mode, the default,
// drops the carriage return of each CRLF on reading; lines are written with LF
// alone, as Linux files have them. The mode may carry ", ccs=UTF-8": the
// stream then reads and writes UTF-8 whatever the locale; on reading, a
// byte-order mark selects the encoding (a UTF-16LE one too) and is skipped,
// and on writing to an empty file one is written. ", ccs=UTF-16LE" and
// ", ccs=UNICODE" are for reading only (EINVAL otherwise). A text-mode
// stream for reading sees at most the file's first MiB. Only a regular file
// opens, without waiting: a pipe, a device or a socket gives ENXIO, a folder
// EACCES; the last error says why, as CreateFileW would.
NLAPI FILE* _wfopen(const wchar_t* fileName, const wchar_t* mode);
// Flushes every open stream. Returns 0: glibc does not tell how many are open.
NLAPI int _flushall(void);

#ifdef __cplusplus
}  // extern "C"
#endif
