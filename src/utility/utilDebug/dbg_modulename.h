// The name a calling module logs under.
// On the library's ladder: rules; it includes no unit above (scripts/ladder.sh).
#pragma once

#include <string>

namespace dbg_internal {

// A shared object's version suffix is no part of its logger name:
// "libfoo.so.1" and "libfoo.so.1.2.3" both become "libfoo.so", however the
// object was loaded, so that logger names and the names in the disabled lists
// stay the same across versions. Other names are left as they are.
void DropSharedObjectVersion(std::wstring& fileName);

}  // namespace dbg_internal
