// Output files, volume ids and SHA-256 (BCrypt) on Windows.
#include <windows.h>
#include <bcrypt.h>
#include <winioctl.h>

#include <cstdio>

#include "base/utf8.h"
#include "recover/output_file.h"
#include "recover/recover.h"
#include "sources/source_record.h"

namespace clip::recover {
namespace {

std::u16string wide(const std::string& text) { return utf8_to_utf16(text); }
const wchar_t* w(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::string error_text(DWORD err) { return "error " + std::to_string(err); }

}  // namespace

struct Sha256::State {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  BCryptOpenAlgorithmProvider(&state_->alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (state_->alg) BCryptCreateHash(state_->alg, &state_->hash, nullptr, 0, nullptr, 0, 0);
}
Sha256::~Sha256() {
  if (state_->hash) BCryptDestroyHash(state_->hash);
  if (state_->alg) BCryptCloseAlgorithmProvider(state_->alg, 0);
}
void Sha256::update(const uint8_t* data, std::size_t size) {
  while (size > 0 && state_->hash) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
    BCryptHashData(state_->hash, const_cast<PUCHAR>(data), piece, 0);
    data += piece;
    size -= piece;
  }
}
std::string Sha256::hex() {
  unsigned char digest[32] = {};
  if (!state_->hash || BCryptFinishHash(state_->hash, digest, sizeof digest, 0) != 0) return {};
  std::string text;
  char pair[3];
  for (unsigned char byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

OutputFile::~OutputFile() { close(); }

OutputFile::Open OutputFile::create_new(const std::string& path) {
  // CREATE_NEW fails on an existing file: nothing is ever overwritten.
  HANDLE h = CreateFileW(w(wide(sources::image_device_path(path))), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    error_ = error_text(err);
    return err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS ? Open::exists : Open::failed;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return Open::created;
}

bool OutputFile::write(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    DWORD done = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 24));
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), data, piece, &done, nullptr)) {
      error_ = error_text(GetLastError());
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

bool OutputFile::close() {
  if (handle_ == -1) return true;
  const BOOL ok = CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  return ok != 0;
}

std::string join_path(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

bool is_folder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(w(wide(path)));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The volume GUID name of a mount point ("C:\") and the disks it spans.
void add_volume_ids(const std::u16string& mount_point, std::vector<std::string>& ids, bool with_disks) {
  wchar_t name[MAX_PATH] = {};
  if (GetVolumeNameForVolumeMountPointW(w(mount_point), name, MAX_PATH)) {
    ids.push_back("vol:" + utf16_to_utf8(reinterpret_cast<const char16_t*>(name)));
  }
  if (!with_disks || name[0] == 0) return;
  std::wstring device(name);
  if (!device.empty() && device.back() == L'\\') device.pop_back();
  HANDLE h = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  alignas(8) unsigned char buffer[1024] = {};
  DWORD returned = 0;
  if (DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer, sizeof buffer, &returned,
                      nullptr)) {
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer);
    for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < 32; ++i) {
      ids.push_back("disk:" + std::to_string(extents->Extents[i].DiskNumber));
    }
  }
  CloseHandle(h);
}

class Win32Volumes final : public VolumeMap {
 public:
  std::vector<std::string> source_ids(const std::string& device_path) override {
    std::vector<std::string> ids;
    std::string upper = device_path;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    const std::string physical = "\\\\.\\PHYSICALDRIVE";
    if (upper.rfind(physical, 0) == 0) {
      ids.push_back("disk:" + upper.substr(physical.size()));
    } else if (upper.size() == 6 && upper.rfind("\\\\.\\", 0) == 0 && upper[5] == ':') {
      add_volume_ids(wide(device_path.substr(4) + "\\"), ids, false);
    }
    return ids;
  }
  std::vector<std::string> folder_ids(const std::string& folder) override {
    std::vector<std::string> ids;
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(w(wide(folder)), root, MAX_PATH)) return ids;
    add_volume_ids(reinterpret_cast<const char16_t*>(root), ids, true);
    return ids;
  }
};

}  // namespace

std::unique_ptr<VolumeMap> make_system_volume_map() { return std::make_unique<Win32Volumes>(); }

}  // namespace clip::recover
