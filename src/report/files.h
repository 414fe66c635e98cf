// Whole small files (reports, mapfiles) by UTF-8 path on every platform.
#pragma once

#include <filesystem>
#include <string>

#include "report/result.h"

namespace clip::report {

std::filesystem::path native_path(const std::string& utf8);
std::string utf8_name(const std::filesystem::path& path);

// The file's bytes, or why it could not be read ("path: reason").
Result<std::string> read_text_file(const std::string& path);

// Writes `text` to a new file at `path`; an existing file is not replaced.
// Empty on success, otherwise why.
std::string write_new_file(const std::string& path, const std::string& text);

}  // namespace clip::report
