// The module logger table: the logger of each calling module, found on the
// path of every record without a lock, however many modules log. Entries are
// added under the adapter lock and never removed: a module's logger lives as
// long as log4cxx does.
#pragma once

#include <windows.h>

#include <log4cxx/logger.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ModuleLogger {
    HINSTANCE module;
    // The module's file name in lower case, as the disabled lists name it.
    std::wstring name;
    log4cxx::LoggerPtr logger;
};

// What a record needs of its module, in one slot of the table, so that a
// lookup touches one cache line however many modules log.
struct ModuleSlot {
    std::atomic<const ModuleLogger*> entry{nullptr};
    // Set before the entry is published, then never changed.
    HINSTANCE module = nullptr;
    log4cxx::Logger* logger = nullptr;
    // Whether the logger's records reach only the root appender, so that
    // they may be written straight to it; decided anew whenever the route
    // generation changes (and for each slot of a table that grew).
    std::atomic<unsigned> routeGeneration{0};
    std::atomic<bool> direct{false};
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
    // The module's slot, its entry added unless there is one; under the
    // adapter lock.
    ModuleSlot* Add(HINSTANCE module, const std::wstring& name, const log4cxx::LoggerPtr& logger);
    // Every entry, in no particular order; under the adapter lock.
    std::vector<const ModuleLogger*> Entries() const;

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
    void Grow();

    std::atomic<Slots*> slots_;
    // Tables that were outgrown stay readable by lookups that started in them.
    std::vector<std::unique_ptr<Slots>> retired_;
    std::vector<std::unique_ptr<ModuleLogger>> entries_;
};
