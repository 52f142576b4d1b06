// The machine every benchmark runs against: a private registry and log
// directory under $TMPDIR, or /dev/shm when TMPDIR is not set, so that the
// disk's latency does not drown the library's own cost.
#pragma once

#include <string>

// Sets the registry and the directory up and writes the first record.
void PrepareMachine();
// Removes what PrepareMachine made; false when it could not.
bool CleanUpMachine();
// The private directory, for the peers' own files.
const std::string& BenchDirectory();

// The record every written-record benchmark writes, as its peers format it:
// "record <n> of bench" from src/bench.cpp line 42.
constexpr int kBenchLine = 42;
