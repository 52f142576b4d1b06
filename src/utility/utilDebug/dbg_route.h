// Which way a module's records go: straight to the record appender, when it
// is the one place they reach, or through log4cxx; decided anew whenever an
// appender is added to or removed from a logger.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <memory>

#include "dbg_appender.h"
#include "dbg_locks.h"
#include "dbg_modules.h"

namespace dbg_internal {

// Whether the slot's records may go straight to the appender. Decides the
// route again, under the adapter lock, when the loggers' appenders changed.
bool RoutesDirectly(ModuleSlot& slot, const std::shared_ptr<CRecordFileAppender>& appender)
    EXCLUDES(AdapterLock());
// Every route is decided anew; the first call also starts listening for
// appenders added to or removed from any logger.
void ListenForNewRoutes();

}  // namespace dbg_internal
