// Run-time loading: LoadLibraryW, GetProcAddress, FreeLibrary over dlopen.
#include <windows.h>

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>

#include <map>
#include <mutex>
#include <string>

#include "common/fork_guard.h"
#include "common/unicode.h"

namespace {

// The Windows components whose functions this layer provides.
const wchar_t* const kReplacedComponents[] = {L"kernel32", L"advapi32", L"ktmw32", L"version", L"resutils"};

struct LoadedLibrary {
    void* library;  // the dlopen handle
    unsigned references;
};

// The libraries LoadLibraryW gave out, by module handle.
struct LibraryTable {
    std::mutex mutex;
    std::map<HMODULE, LoadedLibrary> loaded;
};

LibraryTable& Libraries() {
    // Never destroyed: a library may be freed from another library's
    // destructor at exit.
    static LibraryTable* const table = [] {
        auto* created = new LibraryTable;
        nlplatform::KeepMutexAcrossFork(created->mutex);
        return created;
    }();
    return *table;
}

bool IsReplacedComponent(const std::wstring& name) {
    for (const wchar_t* component : kReplacedComponents) {
        std::wstring withExtension = std::wstring(component) + L".dll";
        if (_wcsicmp(name.c_str(), component) == 0 || _wcsicmp(name.c_str(), withExtension.c_str()) == 0)
            return true;
    }
    return false;
}

// The file this layer was loaded from.
std::string ThisLibraryPath() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&LoadLibraryW), &info) || !info.dli_fname) return std::string();
    return info.dli_fname;
}

// The base address of a loaded object: where its first segment is mapped.
HMODULE BaseAddress(void* library) {
    struct link_map* map = nullptr;
    Dl_info info;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !dladdr(map->l_ld, &info)) return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

void* FindLibrary(HMODULE module) {
    LibraryTable& table = Libraries();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.loaded.find(module);
    return found == table.loaded.end() ? nullptr : found->second.library;
}

// Whether address lies in the object whose base address is module.
bool BelongsTo(void* address, HMODULE module) {
    Dl_info info;
    return dladdr(address, &info) && info.dli_fbase == static_cast<void*>(module);
}

}  // namespace

extern "C" {

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(!fileName ? ERROR_INVALID_PARAMETER : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::wstring name(fileName);
    std::string path = IsReplacedComponent(name) ? ThisLibraryPath() : nlplatform::WideToUtf8(name);
    // Loaded outside the table's lock: the library's constructors may load
    // libraries themselves.
    void* library = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    HMODULE module = library ? BaseAddress(library) : nullptr;
    if (!module) {
        if (library) dlclose(library);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    LibraryTable& table = Libraries();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto inserted = table.loaded.emplace(module, LoadedLibrary{library, 0});
    ++inserted.first->second.references;
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    void* library = FindLibrary(module);
    if (!library) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (reinterpret_cast<ULONG_PTR>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* address = dlsym(library, procName);
    if (!address || !BelongsTo(address, module)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
    void* library = nullptr;
    {
        LibraryTable& table = Libraries();
        std::lock_guard<std::mutex> lock(table.mutex);
        auto found = table.loaded.find(module);
        if (found == table.loaded.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        library = found->second.library;
        if (--found->second.references == 0) table.loaded.erase(found);
    }
    // Every LoadLibraryW took one dlopen reference; this gives one back.
    dlclose(library);
    return TRUE;
}

}  // extern "C"
