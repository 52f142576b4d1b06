// The table of live handles.
#include "kernel32/handle.h"

#include <mutex>
#include <unordered_map>

#include "common/fork_guard.h"

namespace nlplatform {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
};

HandleTable& Table() {
    // Never destroyed: threads still running at exit may close handles.
    static HandleTable* const table = [] {
        auto* created = new HandleTable;
        // A fork() while another thread changes the table must not leave the
        // child with the table's lock held.
        KeepMutexAcrossFork(created->mutex);
        return created;
    }();
    return *table;
}

}  // namespace

HANDLE AddHandle(std::unique_ptr<KernelObject> object) {
    HANDLE handle = static_cast<HANDLE>(object.get());
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.objects[handle] = std::move(object);
    return handle;
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
    if (!handle) return nullptr;
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.objects.find(handle);
    return found == table.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    if (!handle) return nullptr;
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.objects.find(handle);
    if (found == table.objects.end()) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

}  // namespace nlplatform
