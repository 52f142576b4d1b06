// The level code table: which log4cxx level a record's level code writes at,
// the text before it, and the threshold each debug mode sets.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <log4cxx/level.h>

#include <atomic>

#include "dbg_defaults.h"
#include "utilDebug.h"

namespace dbg_internal {

// Raises critical-information records to FATAL.
inline std::atomic<bool> g_adapterCriticalInfo{false};

struct Levels {
    log4cxx::LevelPtr debug = log4cxx::Level::getDebug();
    log4cxx::LevelPtr info = log4cxx::Level::getInfo();
    log4cxx::LevelPtr warn = log4cxx::Level::getWarn();
    log4cxx::LevelPtr error = log4cxx::Level::getError();
    log4cxx::LevelPtr fatal = log4cxx::Level::getFatal();
    log4cxx::LevelPtr all = log4cxx::Level::getAll();
    log4cxx::LevelPtr off = log4cxx::Level::getOff();
};
inline const Levels& GetLevels() {
    static const Levels levels;
    return levels;
}

inline const log4cxx::LevelPtr& LevelCodeToLevel(int levelCode) {
    const Levels& levels = GetLevels();
    switch (levelCode) {
        case DBG_LEVEL_CRITICAL:
            return g_adapterCriticalInfo.load(std::memory_order_relaxed) ? levels.fatal : levels.error;
        case DBG_LEVEL_WARNING:
            return levels.warn;
        case DBG_LEVEL_ERROR:
        case DBG_LEVEL_ERROR2:
        case DBG_LEVEL_ERROR_EXIT:
            return levels.error;
        case DBG_LEVEL_FATAL:
            return levels.fatal;
        default:
            return levels.debug;
    }
}

inline const char* PrefixOf(int levelCode) {
    switch (levelCode) {
        case DBG_LEVEL_ENTRY:
            return "==> ";
        case DBG_LEVEL_EXIT:
        case DBG_LEVEL_ERROR_EXIT:
            return "<== ";
        default:
            return "";
    }
}

inline log4cxx::LevelPtr ModeToLevel(int mode) {
    const Levels& levels = GetLevels();
    switch (ThresholdOfMode(mode)) {
        case Threshold::kFatal:
            return levels.fatal;
        case Threshold::kError:
            return levels.error;
        case Threshold::kInfo:
            return levels.info;
        case Threshold::kAll:
            return levels.all;
        default:
            return levels.off;
    }
}

}  // namespace dbg_internal
