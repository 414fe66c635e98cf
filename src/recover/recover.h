// Writing a clip out: its blocks in reading order, each block's valid bytes
// (header blocks included), into one new file named after the clip, with the
// file's SHA-256 computed as it is written.
//
// A file under the clip's own name is always complete and on the disk: the
// bytes go to "NAME.part" beside it, which is flushed, closed and renamed to
// the final name (never over an existing file) only when the whole clip was
// written and hashed. A stopped or failed clip's partial file is deleted; a
// clip whose source ended early or stopped answering keeps what was read as
// "NAME-不完整.264".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::recover {

// SHA-256 from the platform's crypto library. Every call of the library is
// checked: once one fails, update() answers false and hex() is empty.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  bool update(const uint8_t* data, std::size_t size);
  std::string hex();  // lower-case; ends the hash; empty when the library failed
  bool ok() const;
  // Frees what the library keeps for the calling thread. A thread that can be
  // left running when the process ends calls it before it lets go of its work,
  // so nothing of it is still held when the process's end is checked.
  static void release_thread();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// What lies beneath a path: opaque ids of the physical disks (and volumes)
// that hold it ("disk:0", "vol:...", "dev:8:0").
struct Medium {
  std::vector<std::string> ids;
  // Set when the path is a device, or a folder, whose disks could not be
  // determined: the reason, in words.
  std::string unknown;
};

// Which disks a source and a folder live on. A source and a folder that
// share an id are on the same medium.
class VolumeMap {
 public:
  virtual ~VolumeMap() = default;
  // The disks beneath a source device path; no ids and nothing unknown for an
  // image file (its folder may take its clips).
  virtual Medium source_medium(const std::string& device_path) = 0;
  virtual Medium folder_medium(const std::string& folder) = 0;
};
std::unique_ptr<VolumeMap> make_system_volume_map();

// Empty when the folder may take recovered clips; otherwise the message,
// which says why ("输出文件夹不可用：..." with the reason, or the source disk).
// The folder must exist, be a folder of a file system that stores files, lie
// on no disk of a device source, and take a new file (a probe file is created
// and deleted). With `create` a missing folder is made, after its nearest
// existing parent passed the disk check, so nothing is ever created on the
// source disk.
std::string check_output_folder(const std::string& source_path, const std::string& folder, VolumeMap& volumes,
                                bool create = false);

struct RecoveredFile {
  int64_t number = 0;
  std::string name;  // the clip name
  // complete: the file written, a numbered name when the name was taken;
  // incomplete: the kept partial file, under a name that says so;
  // stopped or failed: the partial file that was removed (see partial_removed).
  std::string path;
  uint64_t bytes = 0;           // bytes in the file
  uint64_t expected_bytes = 0;  // bytes the clip's blocks should give
  std::string sha256;           // of the file as it stands (complete and incomplete)
  std::vector<scanner::SectorRange> unreadable;  // zero-filled in the file
  bool renamed = false;
  bool partial_removed = false;  // a partial file existed and its removal succeeded
};

enum class RecoverOutcome {
  complete,    // the whole clip is in file.path, and file.sha256 is its hash
  stopped,     // options.stop answered true, or the source's reads were cancelled
  incomplete,  // the source ended early or stopped answering inside the clip
  failed,      // the file could not be created, written, flushed, closed or hashed
};

struct RecoverOptions {
  int sector_tries = 3;                          // reads of a failing sector before it is zero-filled
  std::function<bool()> stop;                    // asked before every read
  std::function<void(uint64_t bytes)> progress;  // bytes of the clip handled so far
  // The source's size when the clip was found (the scan's T); the source's
  // own count when negative. A block that reaches past it was cut there by the
  // scan; a source that now delivers less makes the clip incomplete.
  int64_t source_sectors = -1;
  // Leaves the folder's own flush (which makes the new names durable) to
  // ClipWriter::sync_folders(), once for many clips instead of once per clip:
  // a caller that recovers many clips and reports them together calls it
  // before it reports. Each file's data is flushed either way.
  bool defer_folder_sync = false;
};

struct RecoverResult {
  RecoverOutcome outcome = RecoverOutcome::failed;
  bool ok = false;    // outcome == complete
  std::string error;  // when !ok: why, in words
  bool source_gone = false;
  RecoveredFile file;
};

// Recovers clips one after another from one source, keeping its buffers and
// its threads from clip to clip. The hash of each piece is computed on a
// second thread while the next piece is read and this one written; a clip's
// flush, close and rename run on a third while the next clip is written, and
// clips that wait for their flush together reach the disk in one go.
class ClipWriter {
 public:
  ClipWriter(sources::BlockSource& source, RecoverOptions options = {});
  ~ClipWriter();
  ClipWriter(const ClipWriter&) = delete;
  ClipWriter& operator=(const ClipWriter&) = delete;

  // What writing the clip's bytes showed, before its flush and rename.
  struct Written {
    bool stopped = false;      // a stop was asked for (or a read cancelled)
    bool source_gone = false;  // the source stopped answering
  };
  // Writes the clip, then leaves the rest to the finishing thread, which
  // calls `done` with the clip's result once the file is on the disk under
  // its name (or removed); `done` runs on that thread, clips in the order
  // they were given.
  Written recover_async(const scanner::ClipRow& row, const std::string& folder,
                        std::function<void(const RecoverResult&)> done);
  // Until every `done` has run; a failure thrown by one is thrown here.
  void wait();

  RecoverResult recover(const scanner::ClipRow& row, const std::string& folder);
  // Makes the names of the files written so far durable, with
  // defer_folder_sync; empty, or why it failed.
  std::string sync_folders();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

RecoverResult recover_clip(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& folder,
                           const RecoverOptions& options = {});

// Bytes the clip's blocks give on a source of `source_sectors` sectors.
uint64_t expected_bytes(const scanner::ClipRow& row, int64_t source_sectors);

// "name.264", then "name(1).264", "name(2).264", ...
std::string numbered_name(const std::string& name, int n);
// The name a partial file is kept under: "...-30-不完整.264", then
// "...-30-不完整(1).264", ...
std::string incomplete_name(const std::string& name, int n);

}  // namespace clip::recover
