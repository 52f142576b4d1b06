// What the fuzz targets share: a private folder for the files an input
// becomes, a fresh registry database per input, and a check that stops the
// run on a broken promise (libFuzzer keeps the input that did it).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace nlfuzz {

// A path in this process's own scratch folder (in /dev/shm when there is one).
std::string ScratchPath(const std::string& name);

// Writes the bytes to the path, replacing what was there.
void WriteBytes(const std::string& path, const uint8_t* data, size_t size);

// Points the registry at a database of its own that does not exist yet, and
// returns its path.
std::string FreshRegistry();

[[noreturn]] void Fail(const char* what, const char* file, int line);

}  // namespace nlfuzz

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::nlfuzz::Fail(#condition, __FILE__, __LINE__))
