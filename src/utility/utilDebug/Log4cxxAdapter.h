// The back end: sets log4cxx up once per process, keeps one logger per calling
// module, writes records, and applies the settings to the live loggers.
// On the library's ladder: the back end; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <atomic>

#include "FeatureConfig.h"
#include "dbg_filter.h"
#include "dbg_format.h"
#include "dbg_levels.h"
#include "dbg_locks.h"

namespace dbg_internal {

// Every call below takes the adapter lock (the record path to set the back
// end up or to add a module's logger), and is never made with it held.

// ---- Set-up ----------------------------------------------------------------------
// The settings the interface read at its initialisation; path may be empty.
void AdapterHandOverSettings(int mode, int count, bool critical, const wchar_t* path) EXCLUDES(AdapterLock());

// Whether log4cxx has been configured; the first record does it.
bool AdapterIsSetUp();

// ---- Record write path -------------------------------------------------------------
// Only for a process that logs: the entry point checks g_debugEnabled first.
void AdapterWriteRecord(HINSTANCE module, const char* file, int line, int levelCode,
                        CPendingMessage<char>& text) EXCLUDES(AdapterLock());
void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        CPendingMessage<wchar_t>& text) EXCLUDES(AdapterLock());
void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        CPendingMessage<char>& text) EXCLUDES(AdapterLock());

// ---- Run-time reconfiguration ----------------------------------------------------------
void AdapterSetDebugMode(int mode) EXCLUDES(AdapterLock());
void AdapterSetDebugLogCount(int count) EXCLUDES(AdapterLock());

}  // namespace dbg_internal
