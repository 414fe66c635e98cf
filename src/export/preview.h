// A look at a clip before it is recovered: its first picture a player can
// show, and the pictures after it one by one, decoded straight from the
// source (nothing is written anywhere). Pictures come as 24-bit RGB, or BGR
// as a 24-bit Windows bitmap holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "export/h264.h"
#include "export/playable.h"
#include "export/stream_input.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace clip::video {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width x 3 bytes a row, rows from the top
  bool bgr = false;             // blue, green, red; otherwise red, green, blue
  int64_t index = 0;            // 0 for the first decodable picture
};

struct PreviewOptions {
  Rate fps_setting{25, 1};  // for a stream without timing information
  int sector_tries = 3;
  int repair_blocks = 4096;  // how far back missing parameter sets are looked for
  std::function<bool()> stop;
  int max_frames = 100;                   // pictures frame() reaches, the first included
  std::size_t cache_bytes = 64ull << 20;  // decoded pictures kept for stepping back
  bool bgr = false;                       // pictures in BGR order
};

class Preview {
 public:
  // Reads the clip from the source up to its first decodable picture and
  // decodes it. The source must outlive the preview; the row is copied.
  static std::unique_ptr<Preview> open(sources::BlockSource& source, const scanner::ClipRow& row,
                                       const PreviewOptions& options, std::string& error);
  // Any stream; with a source, missing parameter sets are looked for there.
  static std::unique_ptr<Preview> open(std::unique_ptr<StreamInput> input, sources::BlockSource* source,
                                       const scanner::ClipRow& row, const PreviewOptions& options,
                                       std::string& error);
  ~Preview();
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

  const Picture& first() const { return first_; }
  // The picture `index` steps after the first, decoded on demand; null past
  // the clip's end, past max_frames, when stopped, or when the clip can't be
  // read (error() says why).
  const Picture* frame(int64_t index);

  int width() const { return first_.width; }
  int height() const { return first_.height; }
  Rate fps() const { return fps_; }
  FpsOrigin fps_origin() const { return fps_origin_; }
  bool repaired() const { return repaired_; }
  std::string parameter_sets_from() const { return parameter_sets_from_; }
  int64_t skipped_frames() const { return skipped_; }
  const std::string& error() const { return error_; }

 private:
  struct Decoding;
  Preview() = default;
  bool start();
  bool decode_next();

  std::unique_ptr<StreamInput> input_;
  sources::BlockSource* source_ = nullptr;
  scanner::ClipRow row_;
  PreviewOptions options_;
  std::unique_ptr<Decoding> decoding_;
  std::vector<Picture> cache_;  // consecutive indexes, oldest first
  Picture first_;
  bool at_end_ = false;
  Rate fps_;
  FpsOrigin fps_origin_ = FpsOrigin::setting;
  bool repaired_ = false;
  std::string parameter_sets_from_;
  int64_t skipped_ = 0;
  std::string error_;
};

// The picture as a baseline JPEG; empty when the encoder fails.
std::vector<uint8_t> encode_jpeg(const Picture& picture, int quality = 90);
// Writes it to a new file at `path` (never over an existing one).
bool save_jpeg(const Picture& picture, const std::string& path, std::string& error, int quality = 90);

}  // namespace clip::video
