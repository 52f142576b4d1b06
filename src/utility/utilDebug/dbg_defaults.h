// The debug settings' names as stored, what each is when it cannot be read,
// and what the debug mode lets through: the rules the library applies and the
// qpdebug tool reports.
// On the library's ladder: names, locks, conversion; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <cstddef>

namespace dbg_internal {

// Values under the product key (their default names: the product registry
// file may rename the first five for a program).
constexpr wchar_t kValueHomeDir[] = L"HomeDir";
constexpr wchar_t kValueDebugLevel[] = L"DebugLevel";
constexpr wchar_t kValueDebugLogCount[] = L"DebugLogCount";
constexpr wchar_t kValueDebugModule[] = L"DebugModule";
constexpr wchar_t kValueLogCriticalInfo[] = L"LogCriticalInfo";
constexpr wchar_t kValueDebugLogFormat[] = L"DebugLogFormat";
constexpr wchar_t kValueDisabledFeatures[] = L"DebugLogDisabledFeatures";
constexpr wchar_t kValueDisabledDlls[] = L"DebugLogDisabledDlls";
// Set to anything but 0: the library and log4cxx say what troubles them on
// standard error.
constexpr wchar_t kValueDebugLogDiagnostics[] = L"DebugLogDiagnostics";
// Where records go: the file, the system journal, or both.
constexpr wchar_t kValueDebugLogDestination[] = L"DebugLogDestination";
// The data root of the feature mapping file, and whether to look for it on
// the cluster first.
constexpr wchar_t kValueIsCluster[] = L"IsCluster";
constexpr wchar_t kValueDataRootPath[] = L"DataRootPath";
// The disabled lists count their first 2,047 characters: a longer value is cut.
constexpr size_t kDisabledListLimit = 2047;

// DebugLogRecorder: how many of its most recent records that the threshold
// rejected a process keeps in memory, to write them out before an error, at
// a crash or on request. Not set or 0: none. A larger value than
// kMaxRecorderRecords keeps that many; each record takes at most 1 KiB.
constexpr wchar_t kValueDebugLogRecorder[] = L"DebugLogRecorder";
constexpr int kMaxRecorderRecords = 100000;
constexpr int kDefaultRecorderRecords = 0;
// qpdebug dump asks process PID for its kept records with a file of this
// name and PID, which the process's own user (or root, for it) leaves.
constexpr char kDumpRequestPrefix[] = "/tmp/utildebug-dump-";

// The debug mode a process logs at when DebugLevel cannot be read
// (DBG::GetDebugMode itself reports 0 then).
constexpr int kDefaultDebugMode = 3;
constexpr int kGetDebugModeDefault = 0;
// Rolled backups kept when DebugLogCount cannot be read; log4cxx's rolling
// window keeps 1 to 13.
constexpr int kDefaultLogCount = 1;
constexpr int kMinBackupCount = 1;
constexpr int kMaxBackupCount = 13;
constexpr int kDefaultLogCriticalInfo = 0;

// HomeDir is read with 260 registry bytes: at most 129 characters.
constexpr unsigned kHomeDirReadBytes = 260;

// The record layout when DebugLogFormat is not set.
constexpr wchar_t kDefaultLogFormat[] =
    L"%d{yyyy/MM/dd HH:mm:ss Z}  [%-5s:%5t]  [%28c][%32F(%4L)]  [%-5p]  %m%n";

// The root logger's threshold for a debug mode: 0 FATAL, 1 ERROR, 2 INFO,
// 3 ALL, any other value OFF.
enum class Threshold { kFatal, kError, kInfo, kAll, kOff };
constexpr Threshold ThresholdOfMode(int mode) {
    return mode == 0   ? Threshold::kFatal
           : mode == 1 ? Threshold::kError
           : mode == 2 ? Threshold::kInfo
           : mode == 3 ? Threshold::kAll
                       : Threshold::kOff;
}

}  // namespace dbg_internal
