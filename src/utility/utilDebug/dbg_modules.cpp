// An open-addressing hash table of entry pointers: a lookup reads the slots
// with acquire loads and stops at the first empty one; an addition fills a
// slot with a release store, and a table half full is copied into one twice
// its size, which is then published whole.
#include "dbg_modules.h"

namespace {
constexpr size_t kFirstCapacity = 64;
}  // namespace

CModuleLoggerTable::Slots::Slots(size_t capacity)
    : mask(capacity - 1), entries(new std::atomic<ModuleLogger*>[capacity]) {
    for (size_t i = 0; i < capacity; ++i) entries[i].store(nullptr, std::memory_order_relaxed);
}

void CModuleLoggerTable::Slots::Put(ModuleLogger* entry) {
    size_t i = HashOf(entry->module) & mask;
    while (entries[i].load(std::memory_order_relaxed)) i = (i + 1) & mask;
    entries[i].store(entry, std::memory_order_release);
    ++used;
}

ModuleLogger::ModuleLogger(HINSTANCE module_, std::wstring name_, log4cxx::LoggerPtr logger_)
    : module(module_), name(std::move(name_)), logger(std::move(logger_)), loggerName(logger->getName()) {}

CModuleLoggerTable::CModuleLoggerTable() : slots_(new Slots(kFirstCapacity)) {}

CModuleLoggerTable::~CModuleLoggerTable() { delete slots_.load(std::memory_order_relaxed); }

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
