// A key named the way reg.exe names it: a root, then subkeys separated by
// backslashes. Only HKEY_LOCAL_MACHINE exists in this registry.
#pragma once

#include <string>

namespace qpreg {

// How deep the registry's tree may be: a key at most this many levels below
// HKEY_LOCAL_MACHINE. The registry refuses to create a deeper one.
constexpr size_t kMaxKeyDepth = 512;

class KeyPath {
  public:
    // The root itself.
    KeyPath() = default;

    // Accepts HKEY_LOCAL_MACHINE and, when shortRootAllowed, HKLM, in any
    // case, optionally followed by \subkey\...; one trailing backslash after
    // a subkey is dropped. Empty or overlong key names (the root followed by
    // a backslash alone too), and names holding a NUL, make the path invalid.
    static bool Parse(const std::wstring& text, bool shortRootAllowed, KeyPath* path);

    // The path below HKEY_LOCAL_MACHINE, empty for the root.
    const std::wstring& subKey() const { return subKey_; }
    bool isRoot() const { return subKey_.empty(); }
    // How many levels below HKEY_LOCAL_MACHINE the key lies, 0 for the root.
    size_t depth() const;
    // The path as reg.exe prints it, with the full root name.
    std::wstring fullName() const;
    KeyPath child(const std::wstring& name) const;

  private:
    std::wstring subKey_;
};

}  // namespace qpreg
