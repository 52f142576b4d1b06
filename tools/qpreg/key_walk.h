// Walks a key and everything below it, the order in which reg query /s
// lists keys and export writes them.
#pragma once

#include <windows.h>

#include <functional>

#include "key_path.h"

namespace qpreg {

// Called with each key's path and a handle opened for reading; a status other
// than ERROR_SUCCESS stops the walk and is returned by VisitKeyTree.
using KeyVisitor = std::function<LSTATUS(const KeyPath& path, HKEY key)>;

// Visits the key, then each subkey's tree in the registry's order of subkeys.
// A tree deeper than the registry's 512 levels can only come from a damaged
// registry: the walk stops there with ERROR_BADDB.
LSTATUS VisitKeyTree(const KeyPath& path, const KeyVisitor& visit);

}  // namespace qpreg
