// Internals of the logging interface: the lock classes, the settings store,
// the log file location and the message formatting that the entry points use.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>

// A lock holding one critical section: recursive, like every Windows critical
// section, so a thread that holds it may take it again.
class CSLock {
  public:
    CSLock() { InitializeCriticalSection(&section_); }
    virtual ~CSLock() { DeleteCriticalSection(&section_); }
    CSLock(const CSLock&) = delete;
    CSLock& operator=(const CSLock&) = delete;

    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

// Holds a lock for its scope; Release lets it go early.
template <typename Lock>
class Guard {
  public:
    explicit Guard(Lock* lock) : lock_(lock), state_(0) { lock_->Enter(); }
    virtual ~Guard() {
        if (state_ == 0) lock_->Leave();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    void Release() {
        if (state_ == 0) {
            lock_->Leave();
            state_ = -1;
        }
    }

  private:
    Lock* lock_;
    int state_;  // 0 while held, -1 once released
};

// The settings lock: taken before the adapter lock, never after it.
CSLock& SettingsLock();

// ---- Settings store ----------------------------------------------------------
// Registry access below HKEY_LOCAL_MACHINE, in the 64-bit view first and the
// default view second. A null key path or value name fails.
bool ReadRegistryDword(int* value, const wchar_t* keyPath, const wchar_t* valueName);
// size is the data size in registry bytes: two per character.
bool ReadRegistryString(wchar_t* buffer, DWORD size, const wchar_t* keyPath, const wchar_t* valueName);
bool WriteRegistryDword(int value, const wchar_t* keyPath, const wchar_t* valueName);
bool WriteRegistryString(const wchar_t* text, DWORD length, const wchar_t* keyPath, const wchar_t* valueName);

// Opens keyPath below HKEY_LOCAL_MACHINE for reading, 64-bit view first.
HKEY OpenProductKeyForReading(const wchar_t* keyPath);

int GetLogCriticalInfo();
void ApplyCriticalInfo(int value);
void InitDebugInterface();

// The registry path of the product key that the adapter's own reads use.
extern const wchar_t kDefaultProductKeyPath[];

// ---- Log file location ---------------------------------------------------------
// The installers always log, into the temporary directory.
bool IsInstallerProcess(const wchar_t* processBaseName);
// The executable's file name without directory and extension.
void GetProcessBaseName(wchar_t* buffer, size_t size);
// Appends the "Debug" folder to a home directory, with a separator when needed.
bool AppendDebugFolder(wchar_t* directory, size_t size);
bool BuildLogFilePath(wchar_t* buffer, int size);

// ---- Message formatting -------------------------------------------------------
// The longest message a record carries; longer output is cut there.
constexpr size_t kMaxMessageLength = 49151;

// A record's message, formatted only once the record is known to be written.
template <typename Char>
class PendingMessage {
  public:
    PendingMessage(const Char* format, va_list* args) : format_(format), args_(args) {}
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
