// Whole-file reads and writes for export and import. File names are the
// bytes the user typed; errors come back as the system's text.
#pragma once

#include <string>

#include "text_encoding.h"

namespace qpreg {

bool FileExists(const std::string& path);
bool ReadWholeFile(const std::string& path, Bytes* content, std::wstring* error);
bool WriteWholeFile(const std::string& path, const Bytes& content, std::wstring* error);

}  // namespace qpreg
