// The test hooks of the platform layer, in a library of their own that only
// tests link: the shipped libraries refer to them weakly and export none.
#include <windows.h>

extern "C" {

// Tests may replace the clock; a relaxed load keeps the real path cheap.
NL_TICK_SOURCE NlTickSourceForTesting = nullptr;

void NlSetTickSourceForTesting(NL_TICK_SOURCE source) {
    __atomic_store_n(&NlTickSourceForTesting, source, __ATOMIC_RELAXED);
}

}  // extern "C"
