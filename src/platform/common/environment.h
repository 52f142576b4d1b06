// The one place where the layer reads the process environment.
#pragma once

namespace nlplatform {

// The value of an environment variable, or null when it is unset. In a
// process in secure-execution mode (setuid, setgid, raised capabilities)
// every variable reads as unset: whoever started the process must not steer
// what it reads or writes.
const char* ReadEnvironment(const char* name);

}  // namespace nlplatform
