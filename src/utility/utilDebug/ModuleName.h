// The former name of dbg_modulename.h, kept while qpdebug includes it.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include "dbg_modulename.h"
