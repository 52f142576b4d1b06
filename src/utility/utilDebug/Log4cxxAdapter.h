// The back end: sets log4cxx up once per process, keeps one logger per calling
// module, writes records, and applies the settings to the live loggers.
#pragma once

#include <windows.h>

#include <log4cxx/level.h>
#include <log4cxx/logger.h>

#include <atomic>
#include <string>

#include "dbg_ns_debug.h"

// Whether this process writes records; true until the module list says otherwise.
extern std::atomic<bool> g_debugEnabled;
// Raises critical-information records to FATAL and lets them through.
extern std::atomic<bool> g_adapterCriticalInfo;

// ---- Set-up ----------------------------------------------------------------------
void AdapterHandOverSettings(int mode, int count, bool critical, const wchar_t* path);
void AdapterSetUp();
void ConfigureRootAppender();
log4cxx::LevelPtr ModeToLevel(int mode);

// ---- Record write path -------------------------------------------------------------
void AdapterWriteRecord(HINSTANCE module, const char* file, int line, int levelCode,
                        PendingMessage<char>& text);
void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        PendingMessage<wchar_t>& text);
void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        PendingMessage<char>& text);

// The logger of a module ("unknown" for a null handle or an unknown module);
// *stored tells whether the module is kept in the module logger table.
log4cxx::LoggerPtr GetModuleLogger(HINSTANCE module, bool* stored);
const log4cxx::LevelPtr& LevelCodeToLevel(int levelCode);
void SetLoggerEnabled(const log4cxx::LoggerPtr& logger, bool enabled);
void CheckLogFileRecreated();
std::string WideToNarrow(const wchar_t* text);

// ---- Run-time reconfiguration ----------------------------------------------------------
void AdapterSetDebugMode(int mode);
void AdapterSetDebugLogCount(int count);

// ---- Filtering ----------------------------------------------------------------------------
void ApplyModuleList(const wchar_t* moduleList);
// Reads the disabled feature and DLL lists from an open product key.
void ApplyDisabledLists(HKEY key);
