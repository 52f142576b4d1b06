// The module logger table: the logger of each calling module, found on the
// path of every record without a lock, however many modules log. Entries are
// added under the adapter lock. A module is its file, not its address: when a
// module is unloaded its entry is marked, and the next record from that
// address checks which file is there now, so that a module later loaded at
// the same address gets an entry of its own, in the same slot: the entry it
// replaces is freed then. Memory grows with the addresses modules were ever
// loaded at, never with how often they were loaded (a module's logger
// itself lives as long as log4cxx does).
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <windows.h>

#include <log4cxx/logger.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbg_locks.h"

namespace dbg_internal {

struct ModuleLogger {
    HINSTANCE module;
    // The module's file name in lower case, as the disabled lists name it.
    std::wstring name;
    log4cxx::LoggerPtr logger;
    // Set when the module was unloaded.
    std::atomic<bool> unloaded{false};
};

// What a record needs of its module, in one slot of the table, so that a
// lookup touches one cache line however many modules log.
struct ModuleSlot {
    std::atomic<const ModuleLogger*> entry{nullptr};
    // Set before the entry is first published, then never changed.
    HINSTANCE module = nullptr;
    // Changes only when another module takes the address; every logger it
    // ever pointed to lives on in log4cxx's hierarchy.
    std::atomic<log4cxx::Logger*> logger{nullptr};
    log4cxx::Logger* Logger() const { return logger.load(std::memory_order_relaxed); }
    // Whether the logger's records reach only the root appender, so that
    // they may be written straight to it; decided anew whenever the route
    // generation changes (and for each slot of a table that grew).
    std::atomic<unsigned> routeGeneration{0};
    std::atomic<bool> direct{false};
    // The entry's unloaded flag, here where a lookup reads it.
    std::atomic<bool> unloaded{false};
};

class CModuleLoggerTable {
  public:
    CModuleLoggerTable();
    ~CModuleLoggerTable();
    CModuleLoggerTable(const CModuleLoggerTable&) = delete;
    CModuleLoggerTable& operator=(const CModuleLoggerTable&) = delete;

    // The module's slot, or null; any thread, without a lock.
    ModuleSlot* Find(HINSTANCE module) const {
        const Slots* slots = slots_.load(std::memory_order_acquire);
        for (size_t i = HashOf(module) & slots->mask;; i = (i + 1) & slots->mask) {
            ModuleSlot& slot = slots->entries[i];
            if (!slot.entry.load(std::memory_order_acquire)) return nullptr;
            if (slot.module == module) return &slot;
        }
    }
    // The module's slot, its entry added unless there is one.
    ModuleSlot* Add(HINSTANCE module, const std::wstring& name, const log4cxx::LoggerPtr& logger)
        REQUIRES(AdapterLock());
    // Marks the module's entry unloaded; any thread, without a lock (it runs
    // while the module is unloaded, under the loader's own lock).
    void MarkUnloaded(HINSTANCE module);
    // A new entry for a module that took the address of an unloaded one, in
    // that one's slot; the entry it replaces is freed (entries are read only
    // under the adapter lock, and by the unload of their own module, which
    // is over before another module can take the address).
    ModuleSlot* Replace(HINSTANCE module, const std::wstring& name, const log4cxx::LoggerPtr& logger)
        REQUIRES(AdapterLock());
    // Every entry, in no particular order.
    std::vector<const ModuleLogger*> Entries() const REQUIRES(AdapterLock());

  private:
    struct Slots {
        explicit Slots(size_t capacity);
        ModuleSlot* Put(const ModuleLogger* entry);
        size_t mask;
        size_t used = 0;
        std::unique_ptr<ModuleSlot[]> entries;
    };
    static size_t HashOf(HINSTANCE module) {
        uint64_t key = reinterpret_cast<uintptr_t>(module);
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdull;
        key ^= key >> 33;
        return static_cast<size_t>(key);
    }
    void Rebuild(size_t capacity) REQUIRES(AdapterLock());

    std::atomic<Slots*> slots_;
    // Tables that were outgrown stay readable by lookups that started in
    // them: each is half the size of the next, so together they are smaller
    // than the table in use.
    std::vector<std::unique_ptr<Slots>> retired_ GUARDED_BY(AdapterLock());
    std::vector<std::unique_ptr<ModuleLogger>> entries_ GUARDED_BY(AdapterLock());
};

// The process's one table; never destroyed, since a record may be written
// while the process exits.
extern CModuleLoggerTable* const g_moduleLoggerTable;
inline CModuleLoggerTable& ModuleTable() { return *g_moduleLoggerTable; }

}  // namespace dbg_internal
