// Whole-file reads and writes for export and import. File names are the
// bytes the user typed; errors come back as the system's text.
//
// Only regular files are read or written: a FIFO, device, socket or folder
// at the name is refused without waiting on it (checked on the opened
// descriptor), so that no file can block qpreg or feed it without end.
#pragma once

#include <stddef.h>

#include <string>

#include "text_encoding.h"

namespace qpreg {

// The largest .reg file import reads.
constexpr size_t kMaxRegFileBytes = 64 * 1024 * 1024;

bool FileExists(const std::string& path);
// Fails for a file larger than limit bytes.
bool ReadWholeFile(const std::string& path, size_t limit, Bytes* content, std::wstring* error);
// The file is emptied only once it is known to be a regular file.
bool WriteWholeFile(const std::string& path, const Bytes& content, std::wstring* error);

}  // namespace qpreg
