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

namespace dbg_internal {

// ---- Set-up ----------------------------------------------------------------------
// The settings the interface read at its initialisation; path may be empty.
void AdapterHandOverSettings(int mode, int count, bool critical, const wchar_t* path);

// Whether log4cxx has been configured; the first record does it.
bool AdapterIsSetUp();

// ---- Record write path -------------------------------------------------------------
// Only for a process that logs: the entry point checks g_debugEnabled first.
void AdapterWriteRecord(HINSTANCE module, const char* file, int line, int levelCode,
                        PendingMessage<char>& text);
void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        PendingMessage<wchar_t>& text);
void AdapterWriteRecord(HINSTANCE module, const wchar_t* file, int line, int levelCode,
                        PendingMessage<char>& text);

// ---- Run-time reconfiguration ----------------------------------------------------------
void AdapterSetDebugMode(int mode);
void AdapterSetDebugLogCount(int count);

}  // namespace dbg_internal
