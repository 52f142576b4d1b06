// The library's calls into its back end, and the process's fork() and exit.
//
// Every exported call that may reach the back end (or log4cxx) runs inside a
// CLibraryCall, taken before any other lock of the library. fork() waits
// until no call is inside, and takes the settings and adapter locks after
// it, so that a child finds every lock of the library, of log4cxx and of APR
// free, whatever the parent's threads were doing. Once the process exits past
// the library's own teardown, calls are turned away (their records dropped)
// instead of touching objects that exit destroys; until then, a record
// logged from an atexit handler or a static destructor is written.
// On the library's ladder: the back end; it includes no unit above (scripts/ladder.sh).
#pragma once

namespace dbg_internal {

class CLibraryCall {
  public:
    CLibraryCall();
    ~CLibraryCall();
    CLibraryCall(const CLibraryCall&) = delete;
    CLibraryCall& operator=(const CLibraryCall&) = delete;

    // False once the library has been torn down: the call must do nothing.
    bool Admitted() const { return admitted_; }

  private:
    bool admitted_ = false;
    // How the call passed the gate: by its thread's own flag, or by the
    // shared lock.
    enum class Entry : unsigned char { None, Flag, Lock } entry_ = Entry::None;
};

}  // namespace dbg_internal
