// Writing a clip out: its blocks in reading order, each block's valid bytes
// (header blocks included), into one new file named after the clip, with the
// file's SHA-256 computed as it is written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::recover {

// SHA-256 from the platform's crypto library.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void update(const uint8_t* data, std::size_t size);
  std::string hex();  // lower-case; ends the hash

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Which disks and volumes a path lives on, as opaque ids ("disk:0",
// "vol:...", "dev:8:1"). A source and a folder that share an id are on the
// same medium.
class VolumeMap {
 public:
  virtual ~VolumeMap() = default;
  // Ids of a source device path; none for an image file (its folder is fine).
  virtual std::vector<std::string> source_ids(const std::string& device_path) = 0;
  virtual std::vector<std::string> folder_ids(const std::string& folder) = 0;
};
std::unique_ptr<VolumeMap> make_system_volume_map();

// Empty when the folder may take recovered clips; otherwise the message.
std::string check_output_folder(const std::string& source_path, const std::string& folder, VolumeMap& volumes);

struct RecoveredFile {
  int64_t number = 0;
  std::string name;  // the clip name
  // complete: the file written, a numbered name when the name was taken;
  // incomplete: the kept partial file, under a name that says so;
  // stopped or failed: the partial file that was removed (see partial_removed).
  std::string path;
  uint64_t bytes = 0;           // bytes in the file
  uint64_t expected_bytes = 0;  // bytes the clip's blocks should give
  std::string sha256;
  std::vector<scanner::SectorRange> unreadable;  // zero-filled in the file
  bool renamed = false;
  bool partial_removed = false;  // a partial file existed and its removal succeeded
};

enum class RecoverOutcome {
  complete,    // the whole clip is in file.path, and file.sha256 is its hash
  stopped,     // options.stop answered true, or the source's reads were cancelled
  incomplete,  // the source ended early or stopped answering inside the clip
  failed,      // the file could not be created, written or closed
};

struct RecoverOptions {
  int sector_tries = 3;                          // reads of a failing sector before it is zero-filled
  std::function<bool()> stop;                    // asked before every read
  std::function<void(uint64_t bytes)> progress;  // bytes of the clip handled so far
};

struct RecoverResult {
  RecoverOutcome outcome = RecoverOutcome::failed;
  bool ok = false;    // outcome == complete
  std::string error;  // when !ok: why, in words
  bool source_gone = false;
  RecoveredFile file;
};

RecoverResult recover_clip(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& folder,
                           const RecoverOptions& options = {});

// "name.264", then "name(1).264", "name(2).264", ...
std::string numbered_name(const std::string& name, int n);

}  // namespace clip::recover
