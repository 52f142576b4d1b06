// The library's two locks, built on first use and never destroyed.
// On the library's ladder: names, locks, conversion; it includes no unit above (scripts/ladder.sh).
#include "dbg_locks.h"

namespace dbg_internal {

// Built on first use, so that a record logged while other static objects are
// still being built finds its locks ready, and never destroyed, so that a
// thread still running at exit finds them too.
CSLock& SettingsLock() {
    static CSLock* const lock = new CSLock;
    return *lock;
}

CSLock& AdapterLock() {
    static CSLock* const lock = new CSLock;
    return *lock;
}

}  // namespace dbg_internal
