#include "key_path.h"

#include <windows.h>

namespace qpreg {
namespace {

constexpr const wchar_t* kRootName = L"HKEY_LOCAL_MACHINE";
constexpr const wchar_t* kShortRootName = L"HKLM";
// The registry's limit on one key name.
constexpr size_t kMaxKeyNameLength = 255;

bool IsValidSubKey(const std::wstring& subKey) {
    size_t start = 0;
    for (;;) {
        size_t end = subKey.find(L'\\', start);
        size_t length = (end == std::wstring::npos ? subKey.size() : end) - start;
        if (length == 0 || length > kMaxKeyNameLength) return false;
        if (subKey.find(L'\0', start) < start + length) return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

}  // namespace

bool KeyPath::Parse(const std::wstring& text, bool shortRootAllowed, KeyPath* path) {
    size_t separator = text.find(L'\\');
    std::wstring root = text.substr(0, separator);
    bool knownRoot = _wcsicmp(root.c_str(), kRootName) == 0 ||
                     (shortRootAllowed && _wcsicmp(root.c_str(), kShortRootName) == 0);
    if (!knownRoot) return false;

    if (separator == std::wstring::npos) {
        path->subKey_.clear();
        return true;
    }
    // "HKLM\" names no key: reg.exe refuses it rather than take the root.
    std::wstring below = text.substr(separator + 1);
    if (!below.empty() && below.back() == L'\\') below.pop_back();
    if (!IsValidSubKey(below)) return false;
    path->subKey_ = below;
    return true;
}

std::wstring KeyPath::fullName() const {
    return isRoot() ? std::wstring(kRootName) : std::wstring(kRootName) + L'\\' + subKey_;
}

size_t KeyPath::depth() const {
    if (isRoot()) return 0;
    size_t separators = 0;
    for (wchar_t c : subKey_) separators += c == L'\\';
    return separators + 1;
}

KeyPath KeyPath::child(const std::wstring& name) const {
    KeyPath path;
    path.subKey_ = isRoot() ? name : subKey_ + L'\\' + name;
    return path;
}

}  // namespace qpreg
