#include "app/preview_form.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "ui/wide.h"

namespace app {

namespace {

// Posted by the duration pass when it has ended.
constexpr UINT kCounted = WM_APP + 0x130;

constexpr int kMargin = 8;
constexpr int kLineHeight = 18;
constexpr const char* kCounting = "正在计算……";

}  // namespace

std::string resolution_text(int width, int height) {
  return "分辨率：" + std::to_string(width) + "x" + std::to_string(height);
}

std::string frames_text(const clip::video::ClipDuration& duration) {
  return "帧数：" + (duration.known ? std::to_string(duration.frames) : std::string("未知"));
}

std::string duration_text(const clip::video::ClipDuration& duration) {
  if (!duration.known) {
    if (duration.over_limit) return "时长：未知（片段过长，未读完）";
    return "时长：未知" + (duration.error.empty() ? std::string() : "（" + duration.error + "）");
  }
  char text[64];
  std::snprintf(text, sizeof text, "时长：%.3f 秒", duration.seconds);
  return text;
}

struct TForm3::Counted {
  std::mutex mutex;
  std::optional<clip::video::ClipDuration> duration;
};

TForm3::TForm3(ui::Component* owner) : ui::Form(owner, "Form3") {
  caption = "预览";
  client_width = kPictureWidth + 2 * kMargin;
  client_height = kPictureHeight + 2 * kMargin + 3 * kLineHeight + kMargin;
  border_icons = ui::BorderIcons::system_menu_only;
  Image1 = make<ui::Image>("Image1");
  Image1->set_bounds(kMargin, kMargin, kPictureWidth, kPictureHeight);
  Image1->set_parent(this);
  const int top = kMargin + kPictureHeight + kMargin;
  Label1 = make<ui::Label>("Label1");
  Label1->set_bounds(kMargin, top, 0, 0);
  Label2 = make<ui::Label>("Label2");
  Label2->set_bounds(kMargin + 160, top, 0, 0);
  Label3 = make<ui::Label>("Label3");
  Label3->set_bounds(kMargin + 300, top, 0, 0);
  Label4 = make<ui::Label>("Label4");
  Label4->set_bounds(kMargin, top + kLineHeight + 4, 0, 0);
  for (ui::Label* label : {Label1, Label2, Label3, Label4}) label->set_parent(this);

  on(WM_KEYDOWN, [this](ui::Message& m) -> std::optional<LRESULT> {
    switch (m.wparam) {
      case VK_LEFT: step(-1); return 0;
      case VK_RIGHT: step(1); return 0;
      case VK_ESCAPE: close(); return 0;
      default: return std::nullopt;
    }
  });
  on(kCounted, [this](ui::Message&) -> std::optional<LRESULT> {
    if (work_ && work_->finished()) counted();
    return 0;
  });
}

TForm3::~TForm3() {
  work_.reset();
  destroy_components();
}

bool TForm3::open(std::shared_ptr<clip::sources::BlockSource> source,
                  std::shared_ptr<clip::sources::BlockSource> duration_source, const clip::scanner::ClipRow& row) {
  if (!handle_allocated() && !create()) return false;
  // A pass still counting the previous clip is of no use now.
  work_.reset();
  preview_.reset();
  source_ = std::move(source);
  row_ = row;
  index_ = 0;
  clip::video::PreviewOptions options;
  options.max_frames = kMaxFrames;
  options.bgr = true;  // as the window's bitmaps hold their pixels
  preview_ = clip::video::Preview::open(*source_, row_, options, error_);
  if (!preview_) return false;
  error_.clear();

  caption = "预览 - " + row_.name;
  SetWindowTextW(handle(), ui::widen(caption).c_str());
  Label1->set_caption(resolution_text(preview_->width(), preview_->height()));
  Label2->set_caption(std::string("帧数：") + kCounting);
  Label3->set_caption(std::string("时长：") + kCounting);
  show_picture(preview_->first());

  auto counted = std::make_shared<Counted>();
  counted_ = counted;
  work_ = std::make_unique<Worker>(
      duration_source,
      [duration_source, counted, row = row_](Feed& feed) {
        clip::video::DurationOptions options;
        options.max_bytes = kDurationBytes;
        options.stop = [&feed] { return feed.stop_requested(); };
        clip::video::ClipDuration duration = clip::video::clip_duration(*duration_source, row, options);
        std::lock_guard<std::mutex> lock(counted->mutex);
        counted->duration = std::move(duration);
      },
      handle(), kCounted);
  return true;
}

void TForm3::counted() {
  work_->let_go(std::chrono::milliseconds(0));
  work_.reset();
  std::optional<clip::video::ClipDuration> duration;
  {
    std::lock_guard<std::mutex> lock(counted_->mutex);
    duration = std::move(counted_->duration);
  }
  counted_.reset();
  if (!duration) return;
  Label2->set_caption(frames_text(*duration));
  Label3->set_caption(duration_text(*duration));
  // A label that got shorter leaves its old text where no label is now.
  invalidate();
  if (OnDuration) OnDuration(row_, *duration);
}

void TForm3::step(int delta) {
  if (!preview_) return;
  const int64_t wanted = index_ + delta;
  if (wanted < 0) return;
  const clip::video::Picture* picture = preview_->frame(wanted);
  if (!picture) return;
  index_ = wanted;
  show_picture(*picture);
}

void TForm3::show_picture(const clip::video::Picture& picture) {
  ui::Bitmap bitmap(picture.width, picture.height);
  if (bitmap.empty()) return;
  const size_t row_bytes = static_cast<size_t>(picture.width) * 3;
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(bitmap.pixel(0, y), picture.pixels.data() + static_cast<size_t>(y) * row_bytes, row_bytes);
  // Scaled to fit the picture area, proportions kept, centred in it.
  const double scale = std::min(static_cast<double>(kPictureWidth) / picture.width,
                                static_cast<double>(kPictureHeight) / picture.height);
  const int width = std::max(1, static_cast<int>(picture.width * scale));
  const int height = std::max(1, static_cast<int>(picture.height * scale));
  Image1->set_bounds(kMargin + (kPictureWidth - width) / 2, kMargin + (kPictureHeight - height) / 2, width, height);
  Image1->picture = std::move(bitmap);
  invalidate();  // the area the picture left as well
  show_position();
}

void TForm3::show_position() {
  Label4->set_caption("第 " + std::to_string(index_ + 1) + " 帧（按 ← → 键逐帧查看，最多 " +
                      std::to_string(kMaxFrames) + " 帧）");
  invalidate();
}

}  // namespace app
