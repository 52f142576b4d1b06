#include "dbg_locks.h"

// Built on first use, so that a record logged while other static objects are
// still being built finds its locks ready.
CSLock& SettingsLock() {
    static CSLock lock;
    return lock;
}

CSLock& AdapterLock() {
    static CSLock lock;
    return lock;
}
