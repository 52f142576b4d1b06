// The route decision and the listener that tells it the loggers' appenders
// changed.
// On the library's ladder: the back end's parts; it includes no unit above (scripts/ladder.sh).
#include "dbg_route.h"

#include <log4cxx/logger.h>
#include <log4cxx/spi/hierarchyeventlistener.h>
#include <log4cxx/spi/loggerrepository.h>

#include <atomic>

// log4cxx's object macros name "helpers" unqualified.
namespace helpers = log4cxx::helpers;

namespace {

// Changes whenever an appender is added to or removed from a logger, so that
// each module's route is decided anew.
std::atomic<unsigned> g_routeGeneration{1};

// Tells the write path that the loggers' appenders changed. log4cxx's class
// macros open namespace log4cxx, so the listener stands outside the library's
// namespace, in this file alone.
class CRouteListener : public virtual log4cxx::spi::HierarchyEventListener {
  public:
    DECLARE_ABSTRACT_LOG4CXX_OBJECT(CRouteListener)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(log4cxx::spi::HierarchyEventListener)
    END_LOG4CXX_CAST_MAP()

    void addAppenderEvent(const log4cxx::Logger*, const log4cxx::Appender*) override { NewRoutes(); }
    void removeAppenderEvent(const log4cxx::Logger*, const log4cxx::Appender*) override { NewRoutes(); }

  private:
    static void NewRoutes() { g_routeGeneration.fetch_add(1, std::memory_order_acq_rel); }
};

}  // namespace

IMPLEMENT_LOG4CXX_OBJECT(CRouteListener)

namespace dbg_internal {

using log4cxx::Logger;
using log4cxx::LoggerPtr;

namespace {

// Whether a logger's records reach the record appender and nothing else:
// no logger between it and the root holds an appender or stops records, and
// the root holds only the record appender.
bool RoutesOnlyTo(const LoggerPtr& logger, const log4cxx::Appender* appender) {
    LoggerPtr root = Logger::getRootLogger();
    for (LoggerPtr at = logger; at; at = at->getParent()) {
        log4cxx::AppenderList appenders = at->getAllAppenders();
        if (at == root) return appenders.size() == 1 && appenders.front().get() == appender;
        if (!appenders.empty() || !at->getAdditivity()) return false;
    }
    return false;
}

// How many held the record appender when a route was last decided. log4cxx
// 1.0 reports no appender removed from a logger: fewer holders is how the
// write path learns that the root may have let it go.
std::atomic<long> g_appenderHolders{0};

void DecideRoute(ModuleSlot& slot, unsigned generation, const std::shared_ptr<CRecordFileAppender>& appender)
    EXCLUDES(AdapterLock()) {
    CGuard<CSLock> guard(&AdapterLock());
    g_appenderHolders.store(appender.use_count(), std::memory_order_relaxed);
    const ModuleLogger* entry = slot.entry.load(std::memory_order_acquire);
    slot.direct.store(appender && RoutesOnlyTo(entry->logger, appender.get()), std::memory_order_relaxed);
    slot.routeGeneration.store(generation, std::memory_order_release);
}

}  // namespace

// The module logger's own additivity is read on every record: log4cxx tells
// nobody when it changes.
bool RoutesDirectly(ModuleSlot& slot, const std::shared_ptr<CRecordFileAppender>& appender) {
    unsigned generation = g_routeGeneration.load(std::memory_order_acquire);
    if (appender.use_count() < g_appenderHolders.load(std::memory_order_relaxed))
        generation = g_routeGeneration.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (slot.routeGeneration.load(std::memory_order_acquire) != generation)
        DecideRoute(slot, generation, appender);
    return slot.direct.load(std::memory_order_relaxed) && slot.Logger()->getAdditivity();
}

// An appender added to or removed from any logger (by log4cxx's own
// configuration, say) may change where a module's records go.
void ListenForNewRoutes() {
    static const bool listening = [] {
        auto listener = std::make_shared<CRouteListener>();
        Logger::getRootLogger()->getLoggerRepository()->addHierarchyEventListener(listener);
        return true;
    }();
    (void)listening;
    g_routeGeneration.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace dbg_internal
