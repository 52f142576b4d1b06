#include "fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace nlfuzz {
namespace {

std::string MakeScratchFolder() {
    struct stat st;
    std::string base =
        stat("/dev/shm", &st) == 0 ? "/dev/shm" : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    std::string folder = base + "/nl-fuzz-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    return folder;
}

const std::string& ScratchFolder() {
    static const std::string* const folder = new std::string(MakeScratchFolder());  // outlives g_cleanup
    return *folder;
}

// The folder goes when the process ends normally; a crash leaves it for a look.
struct ScratchCleanup {
    ~ScratchCleanup() {
        std::error_code error;
        std::filesystem::remove_all(ScratchFolder(), error);
    }
} g_cleanup;

}  // namespace

std::string ScratchPath(const std::string& name) { return ScratchFolder() + "/" + name; }

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size)))
        Fail("scratch file cannot be written", __FILE__, __LINE__);
}

std::string FreshRegistry() {
    std::string path = ScratchPath("registry.db");
    for (const char* suffix : {"", "-journal"}) unlink((path + suffix).c_str());
    setenv("NL_REGISTRY_FILE", path.c_str(), 1);
    return path;
}

void Fail(const char* what, const char* file, int line) {
    fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    abort();
}

}  // namespace nlfuzz
