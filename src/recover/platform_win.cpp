// Output files, the disks beneath a path and SHA-256 (BCrypt) on Windows.
#include <windows.h>
#include <bcrypt.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "base/utf8.h"
#include "recover/device_path.h"
#include "recover/output_file.h"
#include "recover/recover.h"
#include "sources/source_record.h"

namespace clip::recover {
namespace {

std::wstring wide(const std::string& text) {
  const std::u16string w = utf8_to_utf16(text);
  return std::wstring(w.begin(), w.end());
}
std::string narrow(const std::wstring& text) { return utf16_to_utf8(std::u16string(text.begin(), text.end())); }

// The system's words for an error code, with the code.
std::string error_text(DWORD err) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, err, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.')) {
    text.pop_back();
  }
  const std::string code = "(" + std::to_string(err) + ")";
  return text.empty() ? "错误 " + code : narrow(text) + " " + code;
}

std::string last_error_text() { return error_text(GetLastError()); }

// The form a path is handed to the system in: full and long-path safe
// ("\\?\C:\...", "\\?\UNC\server\share\..."); device paths as they are.
std::wstring system_path(const std::string& path) {
  if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) return wide(path);
  const std::wstring given = wide(path);
  const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return given;
  std::wstring full(size, L'\0');
  const DWORD n = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
  if (n == 0 || n >= size) return given;
  full.resize(n);
  return wide(sources::image_device_path(narrow(full)));
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool seek_handle(intptr_t handle, int64_t offset, std::string& error) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(handle), to, nullptr, FILE_BEGIN)) {
    error = last_error_text();
    return false;
  }
  return true;
}

}  // namespace

struct Sha256::State {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state_->alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
               BCRYPT_SUCCESS(BCryptCreateHash(state_->alg, &state_->hash, nullptr, 0, nullptr, 0, 0));
}
Sha256::~Sha256() {
  if (state_->hash) BCryptDestroyHash(state_->hash);
  if (state_->alg) BCryptCloseAlgorithmProvider(state_->alg, 0);
}
bool Sha256::ok() const { return state_->ok; }
void Sha256::release_thread() {}  // the system's provider keeps nothing per thread
bool Sha256::update(const uint8_t* data, std::size_t size) {
  while (size > 0 && state_->ok) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
    state_->ok = BCRYPT_SUCCESS(BCryptHashData(state_->hash, const_cast<PUCHAR>(data), piece, 0));
    data += piece;
    size -= piece;
  }
  return state_->ok;
}
std::string Sha256::hex() {
  unsigned char digest[32] = {};
  const bool ok = state_->ok && BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest, sizeof digest, 0));
  state_->ok = false;  // ended: no more updates
  if (!ok) return {};
  std::string text;
  char pair[3];
  for (unsigned char byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

OutputFile::~OutputFile() { close(); }

Create OutputFile::create_new(const std::string& path) {
  // CREATE_NEW fails on an existing file: nothing is ever overwritten.
  HANDLE h = CreateFileW(system_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    error_ = error_text(err);
    return err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS ? Create::exists : Create::failed;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = path;
  return Create::created;
}

bool OutputFile::write(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    DWORD done = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 24));
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), data, piece, &done, nullptr)) {
      error_ = last_error_text();
      return false;
    }
    if (done == 0) {
      error_ = error_text(ERROR_DISK_FULL);
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

bool OutputFile::seek(int64_t offset) { return seek_handle(handle_, offset, error_); }

bool OutputFile::flush() {
  if (!FlushFileBuffers(reinterpret_cast<HANDLE>(handle_))) {
    error_ = last_error_text();
    return false;
  }
  return true;
}

bool OutputFile::close() {
  if (handle_ == -1) return true;
  const BOOL ok = CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  if (!ok) error_ = last_error_text();
  return ok != 0;
}

Create OutputFile::rename_to(const std::string& target) {
  // Without MOVEFILE_REPLACE_EXISTING an existing target is an error; write
  // through makes the new name durable before the call returns.
  if (!MoveFileExW(system_path(path_).c_str(), system_path(target).c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return Create::exists;
    error_ = error_text(err);
    return Create::failed;
  }
  path_ = target;
  return Create::created;
}

bool OutputFile::remove() {
  close();
  if (!DeleteFileW(system_path(path_).c_str())) {
    error_ = last_error_text();
    return false;
  }
  return true;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
  close();
  HANDLE h = CreateFileW(system_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error_ = last_error_text();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

int64_t InputFile::read(uint8_t* into, std::size_t size) {
  DWORD done = 0;
  const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 24));
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), into, piece, &done, nullptr)) {
    error_ = last_error_text();
    return -1;
  }
  return done;
}

bool InputFile::seek(int64_t offset) { return seek_handle(handle_, offset, error_); }

int64_t InputFile::size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size)) {
    error_ = last_error_text();
    return -1;
  }
  return size.QuadPart;
}

void InputFile::close() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

std::string join_path(const std::string& folder, const std::string& name) {
  if (folder.empty() || is_separator(folder.back())) return folder + name;
  return folder + "\\" + name;
}

bool is_folder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(system_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool path_exists(const std::string& path) {
  return GetFileAttributesW(system_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool sync_folder(const std::string&, std::string&) { return true; }

std::string special_filesystem(const std::string&) { return {}; }

namespace {

// Length of the part of a path that names a root: "C:\", "\", "\\server\share\",
// "\\?\C:\", "\\?\Volume{...}\", "\\?\UNC\server\share\"; 0 for a relative path.
std::size_t root_length(const std::string& p) {
  auto skip = [&](std::size_t at) {
    const std::size_t end = p.find_first_of("\\/", at);
    return end == std::string::npos ? p.size() : end + 1;
  };
  if (p.rfind("\\\\?\\UNC\\", 0) == 0) return skip(skip(8));
  if (p.rfind("\\\\?\\", 0) == 0 || p.rfind("\\\\.\\", 0) == 0) return skip(4);
  if (p.size() >= 2 && is_separator(p[0]) && is_separator(p[1])) return skip(skip(2));
  if (p.size() >= 2 && p[1] == ':') return p.size() >= 3 && is_separator(p[2]) ? 3 : 2;
  return !p.empty() && is_separator(p[0]) ? 1 : 0;
}

}  // namespace

std::string parent_folder(const std::string& path) {
  const std::size_t root = root_length(path);
  std::string p = path;
  while (p.size() > root && is_separator(p.back())) p.pop_back();
  if (p.size() <= root) return {};  // a root has no parent
  const std::size_t cut = p.find_last_of("\\/");
  if (cut == std::string::npos || cut < root) return root ? p.substr(0, root) : ".";
  return p.substr(0, cut);
}

std::string create_folder(const std::string& folder) {
  if (path_exists(folder)) return {};
  const std::string up = parent_folder(folder);
  if (!up.empty() && up != folder) {
    if (std::string why = create_folder(up); !why.empty()) return why;
  }
  if (!CreateDirectoryW(system_path(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return last_error_text();
  }
  return {};
}

namespace {

// The disks beneath a device: a volume's extents (a volume may span disks),
// or the disk number of a disk or partition.
std::vector<std::string> disks_of_device(const std::wstring& device, std::string& why) {
  std::vector<std::string> ids;
  HANDLE h = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    why = last_error_text();
    return ids;
  }
  std::vector<unsigned char> buffer(sizeof(VOLUME_DISK_EXTENTS) + 31 * sizeof(DISK_EXTENT));
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                            static_cast<DWORD>(buffer.size()), &returned, nullptr);
  if (!ok && GetLastError() == ERROR_MORE_DATA) {
    const auto* head = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
    buffer.resize(sizeof(VOLUME_DISK_EXTENTS) + head->NumberOfDiskExtents * sizeof(DISK_EXTENT));
    ok = DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &returned, nullptr);
  }
  if (ok && returned >= offsetof(VOLUME_DISK_EXTENTS, Extents)) {
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
    const std::size_t room = (returned - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
    for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < room; ++i) {
      ids.push_back("disk:" + std::to_string(extents->Extents[i].DiskNumber));
    }
  }
  if (ids.empty()) {
    STORAGE_DEVICE_NUMBER number{};
    if (DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned,
                        nullptr)) {
      ids.push_back("disk:" + std::to_string(number.DeviceNumber));
    } else {
      why = last_error_text();
    }
  }
  CloseHandle(h);
  return ids;
}

class Win32Volumes final : public VolumeMap {
 public:
  Medium source_medium(const std::string& device_path) override {
    Medium medium;
    if (!is_windows_device_path(device_path)) return medium;  // an image file
    if (const auto n = physical_drive_number(device_path)) {
      medium.ids.push_back("disk:" + std::to_string(*n));
      return medium;
    }
    std::wstring device = wide(device_path);
    if (!device.empty() && device.back() == L'\\') device.pop_back();
    std::string why;
    const auto disks = disks_of_device(device, why);
    if (disks.empty()) {
      medium.unknown = device_path + "：" + why;
      return medium;
    }
    // "\\.\C:" is also known by its volume name, which a folder on it shares.
    wchar_t volume[MAX_PATH] = {};
    if (device.size() == 6 && device[5] == L':' &&
        GetVolumeNameForVolumeMountPointW((device.substr(4) + L"\\").c_str(), volume, MAX_PATH)) {
      medium.ids.push_back("vol:" + narrow(volume));
    }
    for (const auto& id : disks) medium.ids.push_back(id);
    return medium;
  }

  Medium folder_medium(const std::string& folder) override {
    Medium medium;
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(system_path(folder).c_str(), root, MAX_PATH)) {
      medium.unknown = folder + "：" + last_error_text();
      return medium;
    }
    // A network share lies on no local disk.
    if (GetDriveTypeW(root) == DRIVE_REMOTE) return medium;
    wchar_t volume[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH)) {
      medium.unknown = folder + "：" + last_error_text();
      return medium;
    }
    medium.ids.push_back("vol:" + narrow(volume));
    std::wstring device(volume);
    if (!device.empty() && device.back() == L'\\') device.pop_back();
    std::string why;
    auto disks = disks_of_device(device, why);
    if (disks.empty()) medium.unknown = folder + "：" + why;
    for (auto& id : disks) medium.ids.push_back(std::move(id));
    return medium;
  }
};

}  // namespace

std::unique_ptr<VolumeMap> make_system_volume_map() { return std::make_unique<Win32Volumes>(); }

}  // namespace clip::recover
