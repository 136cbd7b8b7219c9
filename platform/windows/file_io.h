// Whole-file reads and writes on Windows, every result checked: a short read or write, or one
// that the platform reports as failed, is a failure of the whole.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Reads the open file from where it stands to its end into `bytes`; false on any failure.
bool ReadOpenFile(HANDLE file, std::string& bytes);

// Writes the pieces one after another into the open file; false on any failure.
bool WriteOpenFile(HANDLE file, const std::vector<std::string_view>& pieces);

// Reads the whole file at `path`, which other programs may hold open for reading or writing;
// false on any failure.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace platform
