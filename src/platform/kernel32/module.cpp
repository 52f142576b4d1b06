// GetModuleFileNameW: a module handle is any address inside a loaded module;
// the null handle stands for the executable.
#include <windows.h>

#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "common/unicode.h"

namespace {

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    return std::string(path, static_cast<size_t>(length));
}

// The full path of the object that contains address, or empty.
std::string ModulePath(const void* address) {
    Dl_info info;
    struct link_map* map = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map)
        return std::string();
    // The main program's link map has an empty name.
    if (!map->l_name || map->l_name[0] == '\0') return ExecutablePath();
    // The path the loader used, as Windows reports it; symbolic links such as
    // a library's versioned name are kept.
    if (map->l_name[0] == '/') return map->l_name;
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved)) return resolved;
    return map->l_name;
}

// Copies like Windows Vista and later: a path that does not fit is cut to
// size - 1 characters and terminated, the result is size and the last error
// ERROR_INSUFFICIENT_BUFFER.
DWORD CopyModulePath(const std::wstring& path, LPWSTR out, DWORD size) {
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        wmemcpy(out, path.c_str(), path.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    wmemcpy(out, path.c_str(), size - 1);
    out[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

}  // namespace

extern "C" int __cxa_atexit(void (*function)(void*), void* argument, void* dso);

extern "C" {

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path = module ? ModulePath(module) : ExecutablePath();
    if (path.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return CopyModulePath(nlplatform::Utf8ToWide(path), fileName, size);
}

// Linux has no per-thread notifications to switch off.
BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

// The C++ runtime runs a module's handlers registered with its __dso_handle
// when the module is unloaded, and the remaining ones at exit.
BOOL NlCallOnModuleUnload(HMODULE module, void (*callback)(void* context), void* context) {
    if (!module || !callback || __cxa_atexit(callback, context, module) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
