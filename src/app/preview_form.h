// The preview window Form3: a clip's first picture a player can show, its
// resolution, frame count and duration, and Left/Right stepping through the
// pictures after it. Everything is decoded from the source; nothing is
// written anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/worker.h"
#include "export/duration.h"
#include "export/preview.h"
#include "scanner/scanner.h"
#include "sources/block_source.h"
#include "ui/controls.h"

namespace app {

class TForm3 : public ui::Form {
 public:
  // Pictures Left/Right reach, the first included: enough to see the scene
  // move, few enough that stepping stays instant.
  static constexpr int kMaxFrames = 50;
  // The picture area; a picture is scaled into it keeping its proportions.
  static constexpr int kPictureWidth = 480;
  static constexpr int kPictureHeight = 360;
  // A duration pass reads at most this much of a clip; a longer clip shows
  // its frame count as unknown rather than hold a read of gigabytes.
  static constexpr uint64_t kDurationBytes = 512ull << 20;

  explicit TForm3(ui::Component* owner);
  // A running duration pass is stopped first.
  ~TForm3() override;
  const char* class_name() const override { return "TForm3"; }

  ui::Image* Image1;
  ui::Label *Label1, *Label2, *Label3, *Label4;

  // Shows the clip's first decodable picture from `source`, which the window
  // keeps for stepping; the frame count and duration are worked out on
  // `duration_source` off the GUI thread. False (error() says why) when the
  // clip has no picture to show.
  bool open(std::shared_ptr<clip::sources::BlockSource> source,
            std::shared_ptr<clip::sources::BlockSource> duration_source, const clip::scanner::ClipRow& row);
  // Moves `delta` pictures on or back; at either end the picture stays.
  void step(int delta);
  int64_t frame_index() const noexcept { return index_; }
  bool counting() const noexcept { return work_ != nullptr; }
  const std::string& error() const noexcept { return error_; }
  const clip::scanner::ClipRow& row() const noexcept { return row_; }

  // Called on the GUI thread once the clip's duration pass has ended.
  std::function<void(const clip::scanner::ClipRow&, const clip::video::ClipDuration&)> OnDuration;

 private:
  struct Counted;
  void show_picture(const clip::video::Picture& picture);
  void show_position();
  void counted();

  std::shared_ptr<clip::sources::BlockSource> source_;
  std::unique_ptr<clip::video::Preview> preview_;
  clip::scanner::ClipRow row_;
  int64_t index_ = 0;
  std::string error_;
  std::unique_ptr<Worker> work_;
  std::shared_ptr<Counted> counted_;
};

// "分辨率", "帧数" and "时长" as the window shows them.
std::string resolution_text(int width, int height);
std::string frames_text(const clip::video::ClipDuration& duration);
std::string duration_text(const clip::video::ClipDuration& duration);

}  // namespace app
