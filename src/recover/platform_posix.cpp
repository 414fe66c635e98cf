// Output files, volume ids and SHA-256 (libcrypto) on POSIX systems.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "recover/output_file.h"
#include "recover/recover.h"

namespace clip::recover {

struct Sha256::State {
  EVP_MD_CTX* ctx = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr);
}
Sha256::~Sha256() { EVP_MD_CTX_free(state_->ctx); }
void Sha256::update(const uint8_t* data, std::size_t size) { EVP_DigestUpdate(state_->ctx, data, size); }
std::string Sha256::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(state_->ctx, digest, &size);
  std::string text;
  char pair[3];
  for (unsigned i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

OutputFile::~OutputFile() { close(); }

OutputFile::Open OutputFile::create_new(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return errno == EEXIST ? Open::exists : Open::failed;
  }
  handle_ = fd;
  return Open::created;
}

bool OutputFile::write(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(handle_), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = std::strerror(errno);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::close() {
  if (handle_ < 0) return true;
  const int rc = ::close(static_cast<int>(handle_));
  handle_ = -1;
  if (rc != 0) error_ = std::strerror(errno);
  return rc == 0;
}

std::string join_path(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool is_folder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

std::string dev_id(dev_t dev) {
  return "dev:" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

// The whole disk a partition belongs to, from sysfs.
std::string parent_disk(dev_t dev) {
  const std::string link =
      "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)) + "/../dev";
  std::FILE* f = std::fopen(link.c_str(), "r");
  if (!f) return {};
  unsigned maj = 0, min = 0;
  std::string id;
  if (std::fscanf(f, "%u:%u", &maj, &min) == 2) id = "dev:" + std::to_string(maj) + ":" + std::to_string(min);
  std::fclose(f);
  return id;
}

class PosixVolumes final : public VolumeMap {
 public:
  std::vector<std::string> source_ids(const std::string& device_path) override {
    struct stat st {};
    if (::stat(device_path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
    return {dev_id(st.st_rdev)};
  }
  std::vector<std::string> folder_ids(const std::string& folder) override {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return {};
    std::vector<std::string> ids{dev_id(st.st_dev)};
    if (auto disk = parent_disk(st.st_dev); !disk.empty()) ids.push_back(disk);
    return ids;
  }
};

}  // namespace

std::unique_ptr<VolumeMap> make_system_volume_map() { return std::make_unique<PosixVolumes>(); }

}  // namespace clip::recover
