// Export files on Windows: wide paths, long-path form for full paths.
#include <windows.h>

#include <string>

#include "base/utf8.h"
#include "export/file.h"
#include "sources/source_record.h"

namespace clip::video {
namespace {

std::u16string wide_path(const std::string& path) {
  const bool full = (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
                    path.rfind("\\\\", 0) == 0;
  return utf8_to_utf16(full ? sources::image_device_path(path) : path);
}

const wchar_t* w(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The system's message for an error code, in the user's language.
std::string reason(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (n > 0 && text != nullptr) {
    message = utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), n));
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.')) {
      message.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  if (message.empty()) message = "系统错误 " + std::to_string(code);
  return message;
}

HANDLE h(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

File::~File() { close(); }

File::Open File::create_new(const std::string& path) {
  // CREATE_NEW fails on an existing file: nothing is ever overwritten.
  HANDLE file = CreateFileW(w(wide_path(path)), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error_ = reason(code);
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? Open::exists : Open::failed;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return Open::done;
}

bool File::open_read(const std::string& path) {
  HANDLE file = CreateFileW(w(wide_path(path)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = reason(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool File::write(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    DWORD done = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 24));
    if (!WriteFile(h(handle_), data, piece, &done, nullptr)) {
      error_ = reason(GetLastError());
      return false;
    }
    if (done == 0) {
      error_ = reason(ERROR_WRITE_FAULT);
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

int64_t File::read(uint8_t* into, std::size_t size) {
  DWORD done = 0;
  const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 24));
  if (!ReadFile(h(handle_), into, piece, &done, nullptr)) {
    error_ = reason(GetLastError());
    return -1;
  }
  return done;
}

bool File::seek(int64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  if (!SetFilePointerEx(h(handle_), to, nullptr, FILE_BEGIN)) {
    error_ = reason(GetLastError());
    return false;
  }
  return true;
}

int64_t File::size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h(handle_), &size)) {
    error_ = reason(GetLastError());
    return -1;
  }
  return size.QuadPart;
}

bool File::close() {
  if (handle_ == -1) return true;
  const BOOL ok = CloseHandle(h(handle_));
  handle_ = -1;
  if (!ok) error_ = reason(GetLastError());
  return ok != 0;
}

Rename rename_new(const std::string& from, const std::string& to, std::string& error) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails on an existing name.
  if (MoveFileExW(w(wide_path(from)), w(wide_path(to)), MOVEFILE_WRITE_THROUGH)) return Rename::done;
  const DWORD code = GetLastError();
  error = reason(code);
  return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? Rename::exists : Rename::failed;
}

bool remove_file(const std::string& path, std::string& error) {
  if (DeleteFileW(w(wide_path(path)))) return true;
  error = reason(GetLastError());
  return false;
}

}  // namespace clip::video
