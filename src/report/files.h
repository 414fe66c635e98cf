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

// A file read and parsed by `parse` (text -> Result<T>); errors start with
// the path.
template <typename T, typename Parse>
Result<T> load_parsed(const std::string& path, Parse parse) {
  auto text = read_text_file(path);
  if (!text) return Result<T>::failure(text.error());
  Result<T> parsed = parse(text.value());
  if (!parsed) return Result<T>::failure(path + ": " + parsed.error());
  return parsed;
}

// Writes `text` to a new file at `path`; an existing file is not replaced.
// Empty on success, otherwise why.
std::string write_new_file(const std::string& path, const std::string& text);

}  // namespace clip::report
