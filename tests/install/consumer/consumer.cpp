// A program built against an installed utilDebug, the way a user of the
// package builds one: it logs one record and says whether it logs at all.
#include <utilDebug.h>

#include <cstdio>

int main() {
    DBG_DEBUG("hello from the consumer, %d", 42);
    const bool enabled = DBG::IsDebugEnabled();
    std::printf("enabled=%d\n", enabled ? 1 : 0);
    return enabled ? 0 : 1;
}
