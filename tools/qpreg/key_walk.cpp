#include "key_walk.h"

#include "registry_access.h"

namespace qpreg {

namespace {

LSTATUS VisitKeyTree(const KeyPath& path, const KeyVisitor& visit, size_t depth) {
    if (depth > kMaxKeyDepth) return ERROR_BADDB;
    std::vector<std::wstring> subkeys;
    {
        KeyHandle key;
        LSTATUS status = OpenKey(path, KEY_READ, &key);
        if (status == ERROR_SUCCESS) status = visit(path, key.get());
        if (status == ERROR_SUCCESS) status = ReadSubkeyNames(key.get(), &subkeys);
        if (status != ERROR_SUCCESS) return status;
    }
    for (const std::wstring& name : subkeys) {
        LSTATUS status = VisitKeyTree(path.child(name), visit, depth + 1);
        if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS VisitKeyTree(const KeyPath& path, const KeyVisitor& visit) {
    return VisitKeyTree(path, visit, path.depth());
}

}  // namespace qpreg
