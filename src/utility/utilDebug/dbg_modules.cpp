// An open-addressing hash table of entry pointers: a lookup reads the slots
// with acquire loads and stops at the first empty one; an addition fills a
// slot with a release store, and a table half full is copied into one twice
// its size, which is then published whole.
#include "dbg_modules.h"

#include <cstdint>

namespace {

constexpr size_t kFirstCapacity = 64;

size_t HashOf(HINSTANCE module) {
    uint64_t key = reinterpret_cast<uintptr_t>(module);
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdull;
    key ^= key >> 33;
    return static_cast<size_t>(key);
}

}  // namespace

struct CModuleLoggerTable::Slots {
    explicit Slots(size_t capacity) : mask(capacity - 1), entries(new std::atomic<ModuleLogger*>[capacity]) {
        for (size_t i = 0; i < capacity; ++i) entries[i].store(nullptr, std::memory_order_relaxed);
    }
    size_t mask;
    size_t used = 0;
    std::unique_ptr<std::atomic<ModuleLogger*>[]> entries;

    void Put(ModuleLogger* entry) {
        size_t i = HashOf(entry->module) & mask;
        while (entries[i].load(std::memory_order_relaxed)) i = (i + 1) & mask;
        entries[i].store(entry, std::memory_order_release);
        ++used;
    }
};

ModuleLogger::ModuleLogger(HINSTANCE module_, std::wstring name_, log4cxx::LoggerPtr logger_)
    : module(module_), name(std::move(name_)), logger(std::move(logger_)), loggerName(logger->getName()) {}

CModuleLoggerTable::CModuleLoggerTable() : slots_(new Slots(kFirstCapacity)) {}

CModuleLoggerTable::~CModuleLoggerTable() { delete slots_.load(std::memory_order_relaxed); }

ModuleLogger* CModuleLoggerTable::Find(HINSTANCE module) const {
    const Slots* slots = slots_.load(std::memory_order_acquire);
    for (size_t i = HashOf(module) & slots->mask;; i = (i + 1) & slots->mask) {
        ModuleLogger* entry = slots->entries[i].load(std::memory_order_acquire);
        if (!entry || entry->module == module) return entry;
    }
}

ModuleLogger* CModuleLoggerTable::Add(HINSTANCE module, const std::wstring& name, const log4cxx::LoggerPtr& logger) {
    if (ModuleLogger* found = Find(module)) return found;
    Slots* slots = slots_.load(std::memory_order_relaxed);
    if ((slots->used + 1) * 2 > slots->mask + 1) Grow();
    entries_.push_back(std::make_unique<ModuleLogger>(module, name, logger));
    slots_.load(std::memory_order_relaxed)->Put(entries_.back().get());
    return entries_.back().get();
}

void CModuleLoggerTable::Grow() {
    Slots* old = slots_.load(std::memory_order_relaxed);
    auto bigger = std::make_unique<Slots>((old->mask + 1) * 2);
    for (const auto& entry : entries_) bigger->Put(entry.get());
    slots_.store(bigger.release(), std::memory_order_release);
    retired_.emplace_back(old);
}

std::vector<ModuleLogger*> CModuleLoggerTable::Entries() const {
    std::vector<ModuleLogger*> all;
    for (const auto& entry : entries_) all.push_back(entry.get());
    return all;
}
