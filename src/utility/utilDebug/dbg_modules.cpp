// An open-addressing hash table of slots: a lookup reads them with acquire
// loads of their entry and stops at the first empty one; an addition fills a
// slot and publishes its entry with a release store, and a table half full
// is copied into one twice its size, which is then published whole.
#include "dbg_modules.h"

namespace {
constexpr size_t kFirstCapacity = 64;
}  // namespace

CModuleLoggerTable::Slots::Slots(size_t capacity) : mask(capacity - 1), entries(new ModuleSlot[capacity]) {}

ModuleSlot* CModuleLoggerTable::Slots::Put(const ModuleLogger* entry) {
    size_t i = HashOf(entry->module) & mask;
    while (entries[i].entry.load(std::memory_order_relaxed)) i = (i + 1) & mask;
    ModuleSlot& slot = entries[i];
    slot.module = entry->module;
    slot.logger = entry->logger.get();
    slot.entry.store(entry, std::memory_order_release);
    ++used;
    return &slot;
}

CModuleLoggerTable::CModuleLoggerTable() : slots_(new Slots(kFirstCapacity)) {}

CModuleLoggerTable::~CModuleLoggerTable() { delete slots_.load(std::memory_order_relaxed); }

ModuleSlot* CModuleLoggerTable::Add(HINSTANCE module, const std::wstring& name, const log4cxx::LoggerPtr& logger) {
    if (ModuleSlot* found = Find(module)) return found;
    Slots* slots = slots_.load(std::memory_order_relaxed);
    if ((slots->used + 1) * 2 > slots->mask + 1) Grow();
    entries_.push_back(std::make_unique<ModuleLogger>(ModuleLogger{module, name, logger}));
    return slots_.load(std::memory_order_relaxed)->Put(entries_.back().get());
}

void CModuleLoggerTable::Grow() {
    Slots* old = slots_.load(std::memory_order_relaxed);
    auto bigger = std::make_unique<Slots>((old->mask + 1) * 2);
    for (const auto& entry : entries_) bigger->Put(entry.get());
    slots_.store(bigger.release(), std::memory_order_release);
    retired_.emplace_back(old);
}

std::vector<const ModuleLogger*> CModuleLoggerTable::Entries() const {
    std::vector<const ModuleLogger*> all;
    for (const auto& entry : entries_) all.push_back(entry.get());
    return all;
}
