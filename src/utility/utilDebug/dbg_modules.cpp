// An open-addressing hash table of slots: a lookup reads them with acquire
// loads of their entry and stops at the first empty one; an addition fills a
// slot and publishes its entry with a release store, and a table half full
// is copied into one twice its size, which is then published whole.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#include "dbg_modules.h"

namespace dbg_internal {

namespace {
constexpr size_t kFirstCapacity = 64;
}  // namespace

CModuleLoggerTable::Slots::Slots(size_t capacity) : mask(capacity - 1), entries(new ModuleSlot[capacity]) {}

ModuleSlot* CModuleLoggerTable::Slots::Put(const ModuleLogger* entry) {
    size_t i = HashOf(entry->module) & mask;
    while (entries[i].entry.load(std::memory_order_relaxed)) i = (i + 1) & mask;
    ModuleSlot& slot = entries[i];
    slot.module = entry->module;
    slot.logger.store(entry->logger.get(), std::memory_order_relaxed);
    slot.unloaded.store(entry->unloaded.load(std::memory_order_seq_cst), std::memory_order_relaxed);
    slot.entry.store(entry, std::memory_order_release);
    ++used;
    return &slot;
}

CModuleLoggerTable::CModuleLoggerTable() : slots_(new Slots(kFirstCapacity)) {}

CModuleLoggerTable::~CModuleLoggerTable() { delete slots_.load(std::memory_order_relaxed); }

ModuleSlot* CModuleLoggerTable::Add(HINSTANCE module, const std::wstring& name,
                                    const log4cxx::LoggerPtr& logger) {
    if (ModuleSlot* found = Find(module)) return found;
    Slots* slots = slots_.load(std::memory_order_relaxed);
    if ((slots->used + 1) * 2 > slots->mask + 1) Rebuild((slots->mask + 1) * 2);
    entries_.push_back(std::unique_ptr<ModuleLogger>(new ModuleLogger{module, name, logger}));
    return slots_.load(std::memory_order_relaxed)->Put(entries_.back().get());
}

// The entry's flag first, then the slot's in the table the marker finds: a
// table being rebuilt meanwhile copies the entry's flag, or (published
// before the marker looked) gets the slot's flag from the marker.
void CModuleLoggerTable::MarkUnloaded(HINSTANCE module) {
    for (;;) {
        Slots* slots = slots_.load(std::memory_order_seq_cst);
        ModuleSlot* slot = Find(module);
        if (!slot) return;
        const_cast<ModuleLogger*>(slot->entry.load(std::memory_order_acquire))
            ->unloaded.store(true, std::memory_order_seq_cst);
        slot->unloaded.store(true, std::memory_order_seq_cst);
        if (slots_.load(std::memory_order_seq_cst) == slots) return;
    }
}

ModuleSlot* CModuleLoggerTable::Replace(HINSTANCE module, const std::wstring& name,
                                        const log4cxx::LoggerPtr& logger) {
    ModuleSlot* slot = Find(module);
    if (!slot) return Add(module, name, logger);
    std::unique_ptr<ModuleLogger> entry(new ModuleLogger{module, name, logger});
    const ModuleLogger* replacing = entry.get();
    for (auto& held : entries_)
        if (held->module == module) held.swap(entry);
    if (entry.get() == replacing) entries_.push_back(std::move(entry));
    // The logger first, then the entry, then the flag a lookup reads: a
    // record that finds the slot loaded again writes through the new logger,
    // and decides its route anew.
    slot->logger.store(logger.get(), std::memory_order_relaxed);
    slot->direct.store(false, std::memory_order_relaxed);
    slot->routeGeneration.store(0, std::memory_order_relaxed);
    slot->entry.store(replacing, std::memory_order_release);
    slot->unloaded.store(false, std::memory_order_release);
    return slot;
}

// A new table of the given capacity with every entry, published whole; the
// old one stays readable by lookups that started in it.
void CModuleLoggerTable::Rebuild(size_t capacity) {
    Slots* old = slots_.load(std::memory_order_relaxed);
    auto rebuilt = std::make_unique<Slots>(capacity);
    for (const auto& entry : entries_) rebuilt->Put(entry.get());
    Slots* published = rebuilt.release();
    slots_.store(published, std::memory_order_seq_cst);
    retired_.emplace_back(old);
    // A module marked unloaded while the table was copied.
    for (const auto& entry : entries_)
        if (entry->unloaded.load(std::memory_order_seq_cst))
            if (ModuleSlot* slot = Find(entry->module)) slot->unloaded.store(true, std::memory_order_seq_cst);
}

std::vector<const ModuleLogger*> CModuleLoggerTable::Entries() const {
    std::vector<const ModuleLogger*> all;
    for (const auto& entry : entries_) all.push_back(entry.get());
    return all;
}

CModuleLoggerTable* const g_moduleLoggerTable = new CModuleLoggerTable;

}  // namespace dbg_internal
