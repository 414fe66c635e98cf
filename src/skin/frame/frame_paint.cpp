// Painting half of TFormSkin: the border pieces, the caption bar through its
// cache, the caption text on its plate, the caption buttons and the window
// region cut from the border bitmaps. The whole frame is composed in one
// off-screen bitmap and reaches the window in one blit.
#include <algorithm>

#include "skin/data/skin_win.h"
#include "skin/frame/form_skin.h"
#include "skin/paint/paint_win.h"

namespace clip::skin {
namespace {

using paint::memory_dc;
using paint::to_colorref;
using paint::window_dc;

// Makes `bitmap` at least width x height (exactly that size when it changes).
bool ensure_bitmap(ui::gdi_object<HBITMAP>& bitmap, SIZE& size, int width, int height) {
  if (bitmap && size.cx == width && size.cy == height) return true;
  bitmap = paint::create_dib(width, height);
  size = bitmap ? SIZE{width, height} : SIZE{0, 0};
  return bool(bitmap);
}

}  // namespace

HBITMAP TFormSkin::element_bitmap(const Pixels24& pixels) const {
  const auto found = bitmaps_.find(&pixels);
  return found == bitmaps_.end() ? nullptr : found->second.get();
}

ui::gdi_object<HBITMAP> TFormSkin::border_piece(Border which, int width, int height) const {
  if (width <= 0 || height <= 0) return {};
  const SkinElements& e = data_->elements();
  const TDataSkinBorder* b = which == Border::left    ? e.Left.get()
                             : which == Border::right ? e.Right.get()
                             : which == Border::top   ? e.Top.get()
                                                      : e.Bottom.get();
  if (!b) return {};
  const HBITMAP source = element_bitmap(b->Bitmap);
  if (!source) return {};
  const bool stacked = which == Border::top || which == Border::bottom;
  const int frames = std::max(b->FrameCount, 1);
  const int frame = (active_ || frames == 1) ? 1 : 2;
  return paint::build_nine_part_bitmap(width, height, source, margins_of(*b),
                                       stacked ? paint::Strip::vertical : paint::Strip::horizontal, b->Tile != 1, frames,
                                       frame);
}

HBITMAP TFormSkin::button_bitmap(const TWinSysButton& b, int* frame_count) const {
  const TDataSkinSysButton& e = b.element();
  if (is_icon_button(e) && e.Bitmap.empty()) {
    *frame_count = 1;
    return icon_bitmap_.get();
  }
  *frame_count = std::max(e.FrameCount, 1);
  return element_bitmap(e.Bitmap);
}

COLORREF TFormSkin::caption_colour() const {
  const SkinElements& e = data_->elements();
  return to_colorref(e.colour(active_ ? SkinColour::TitleTextActive : SkinColour::TitleTextNoActive));
}

void TFormSkin::PaintFrame(HDC dc) {
  if (!frame_skinning_ || !paint::painting_started()) return;
  if (state_ != skinned && state_ != recolouring) return;
  if (frame_kind_ == FrameKind::captionless || (is_mdi_child() && show_ != ShowState::normal)) return;
  try {
    std::optional<window_dc> own;
    if (!dc) {
      own.emplace(hwnd_);
      dc = own->get();
    }
    if (!dc) return;
    GetWindowRect(hwnd_, &window_rect_);
    const int W = window_rect_.right - window_rect_.left, H = window_rect_.bottom - window_rect_.top;
    width_ = W;
    height_ = H;
    if (W <= 0 || H <= 0) return;
    if (!ensure_bitmap(frame_buffer_, frame_buffer_size_, W, H)) return;
    memory_dc frame(frame_buffer_.get());
    if (!frame) return;
    auto put = [&](Border which, const Rect& r) {
      ui::gdi_object<HBITMAP> piece = border_piece(which, r.width(), r.height());
      if (!piece) return;
      memory_dc from(piece.get());
      if (from) BitBlt(frame.get(), r.left, r.top, r.width(), r.height(), from.get(), 0, 0, SRCCOPY);
    };
    // The side borders run the whole height, through the caption bar.
    put(Border::left, {0, 0, metrics_.left, H});
    put(Border::right, {W - metrics_.right, 0, W, H});
    put(Border::bottom, {metrics_.left, H - metrics_.bottom, W - metrics_.right, H});
    PaintCaptionBar(frame.get());
    if (menu_bar_ && metrics_.menu_bar > 0)
      menu_bar_->PaintMenuBar(frame.get(), {metrics_.left, metrics_.caption, W - metrics_.right,
                                            metrics_.caption + metrics_.menu_bar});
    // Everything but the client area reaches the window in one blit.
    const Rect client = client_area(W, H, metrics_);
    const int saved = SaveDC(dc);
    if (!client.empty()) ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
    BitBlt(dc, 0, 0, W, H, frame.get(), 0, 0, SRCCOPY);
    RestoreDC(dc, saved);
  } catch (...) {
    // A frame that can't be painted leaves the window working.
  }
  for (const auto& b : buttons_) b->state = TNCObject::normal;
  hot_ = nullptr;
}

void TFormSkin::PaintCaptionBar(HDC target) {
  const int W = width_, cap = metrics_.caption;
  if (cap <= 0 || W <= 0) return;
  const SIZE before = cache_size_;
  if (!ensure_bitmap(caption_cache_, cache_size_, W, cap)) return;
  if (before.cx != cache_size_.cx || before.cy != cache_size_.cy || !caption_backdrop_)
    caption_backdrop_ = paint::create_dib(W, cap);
  memory_dc cache(caption_cache_.get());
  if (!cache) return;
  BitBlt(cache.get(), 0, 0, W, cap, target, 0, 0, SRCCOPY);
  const Rect area{metrics_.left, 0, W - metrics_.right, cap};
  if (ui::gdi_object<HBITMAP> top = border_piece(Border::top, area.width(), area.height())) {
    memory_dc from(top.get());
    if (from) BitBlt(cache.get(), area.left, 0, area.width(), area.height(), from.get(), 0, 0, SRCCOPY);
  }
  DrawCaptionText(cache.get(), area);
  if (caption_backdrop_) {
    memory_dc backdrop(caption_backdrop_.get());
    if (backdrop) BitBlt(backdrop.get(), 0, 0, W, cap, cache.get(), 0, 0, SRCCOPY);
  }
  LayoutTitleButtons();
  PaintTitleButtons(cache.get());
  BitBlt(target, 0, 0, W, cap, cache.get(), 0, 0, SRCCOPY);
  SetBkMode(target, OPAQUE);
}

void TFormSkin::DrawCaptionText(HDC dc, const Rect& area) {
  const TDataSkinTitle* title = data_->elements().Title.get();
  if (!title) return;
  const HGDIOBJ old_font = caption_font_ ? SelectObject(dc, caption_font_.get()) : nullptr;
  const COLORREF old_colour = SetTextColor(dc, caption_colour());
  const int old_mode = SetBkMode(dc, TRANSPARENT);

  const std::wstring prefix = L"  ";
  const std::wstring measured_text = prefix + L" " + caption_;
  RECT measured{area.left, area.top, area.right, area.bottom};
  DrawTextW(dc, measured_text.c_str(), int(measured_text.size()), &measured, DT_CALCRECT | DT_NOCLIP | DT_SINGLELINE);
  CaptionPlace at;
  at.area = area;
  at.text_width = measured.right - measured.left;
  at.text_height = measured.bottom - measured.top;
  at.right_to_left = right_to_left_;
  at.popup = (style_ & WS_POPUP) != 0;
  at.rightmost = rightmost_;
  const Rect text = place_caption_text(*title, at);
  caption_text_rect_ = {text.left, text.top, text.right, text.bottom};

  if (const HBITMAP plate = element_bitmap(title->Bitmap))
    paint::draw_three_part(dc, {text.left, area.top, text.right, area.bottom}, plate, paint::Strip::vertical, true, 2,
                           active_ ? 1 : 2, title->TXTBackleft, title->TXTBackRight);
  const RECT inner{text.left + title->TXTBackleft, text.top, text.right - title->TXTBackRight, text.bottom};
  if (inner.right > inner.left)
    DrawSkinText(dc, prefix + caption_, inner, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX | (right_to_left_ ? DT_RIGHT : 0));

  SetBkMode(dc, old_mode);
  SetTextColor(dc, old_colour);
  if (old_font) SelectObject(dc, old_font);
}

void TFormSkin::PaintTitleButtons(HDC dc) {
  for (const auto& b : buttons_) {
    if (!b->enabled || b->element().Visibility == 100) continue;
    int frames = 1;
    const HBITMAP bitmap = button_bitmap(*b, &frames);
    if (!bitmap) continue;
    const int frame = (active_ || frames < 4) ? 1 : 4;
    paint::draw_strip_frame(dc, {b->rect.left, b->rect.top, b->rect.right, b->rect.bottom}, bitmap, true, frames, frame);
  }
}

void TFormSkin::PaintTitleButton(TWinSysButton& b, int state) {
  if (!frame_skinning_ || !b.enabled || (state_ != skinned && state_ != recolouring)) return;
  if (show_ == ShowState::minimized || !IsWindow(hwnd_)) return;
  int frames = 1;
  const HBITMAP bitmap = button_bitmap(b, &frames);
  if (!bitmap) return;
  const TDataSkinSysButton& e = b.element();
  int frame = is_icon_button(e) && e.Bitmap.empty() ? 1 : (e.Visibility == 100 && state == TNCObject::hot ? 4 : state);
  // A skin without a picture for this state shows the resting one.
  if (frame > frames) frame = 1;
  const int w = b.rect.right - b.rect.left, h = b.rect.bottom - b.rect.top;
  if (w <= 0 || h <= 0) return;
  ui::gdi_object<HBITMAP> picture = paint::create_dib(w, h);
  if (!picture) return;
  {
    memory_dc to(picture.get());
    if (!to) return;
    // The caption under the button first, so that its transparent pixels
    // show the caption and not the previous state.
    if (caption_backdrop_) {
      memory_dc backdrop(caption_backdrop_.get());
      if (backdrop) BitBlt(to.get(), 0, 0, w, h, backdrop.get(), b.rect.left, b.rect.top, SRCCOPY);
    }
    paint::draw_strip_frame(to.get(), {0, 0, w, h}, bitmap, true, frames, frame);
  }
  window_dc dc(hwnd_);
  if (!dc.get()) return;
  memory_dc from(picture.get());
  if (from) BitBlt(dc.get(), b.rect.left, b.rect.top, w, h, from.get(), 0, 0, SRCCOPY);
}

void TFormSkin::UpdateWindowRegion() {
  if (!frame_skinning_ || app_region_ || in_region_update_ || !IsWindow(hwnd_)) return;
  RECT window{};
  GetWindowRect(hwnd_, &window);
  const int W = window.right - window.left, H = window.bottom - window.top;
  if (W <= 0 || H <= 0) return;
  if (is_mdi_child() && show_ != ShowState::normal) return;
  if (region_owned_ && W == region_size_.cx && H == region_size_.cy && !is_mdi_child() && state_ != recolouring) return;
  in_region_update_ = true;
  try {
    const std::vector<RegionPart> parts = region_parts(W, H, metrics_, data_->elements(), frame_kind_);
    ui::gdi_object<HRGN> region(parts.empty() ? CreateRectRgn(0, 0, W, H) : CreateRectRgn(0, 0, 0, 0));
    for (const RegionPart& part : parts) {
      if (!region) break;
      ui::gdi_object<HRGN> piece;
      if (part.from_bitmap) {
        ui::gdi_object<HBITMAP> bitmap;
        const int w = part.rect.width(), h = part.rect.height();
        if (*part.from_bitmap == Border::top && caption_cache_ && cache_size_.cx == W && cache_size_.cy == h) {
          // The caption bar as last painted holds the top piece already.
          bitmap = paint::create_dib(w, h);
          memory_dc to(bitmap.get());
          memory_dc from(caption_cache_.get());
          if (to && from) BitBlt(to.get(), 0, 0, w, h, from.get(), part.rect.left, 0, SRCCOPY);
        } else {
          bitmap = border_piece(*part.from_bitmap, w, h);
        }
        if (bitmap) piece = paint::region_from_bitmap(bitmap.get(), part.rect.left, part.rect.top, {1, 1, 1});
      } else {
        piece.reset(CreateRectRgn(part.rect.left, part.rect.top, part.rect.right, part.rect.bottom));
      }
      if (piece) CombineRgn(region.get(), region.get(), piece.get(), RGN_OR);
    }
    if (region) {
      region_size_ = {W, H};
      // The system owns a region once it is set and frees it when replaced.
      if (SetWindowRgn(hwnd_, region.get(), TRUE)) {
        region.release();
        region_owned_ = true;
        ++region_builds_;
      }
    }
  } catch (...) {
  }
  in_region_update_ = false;
}

void TFormSkin::drop_region() {
  if (!region_owned_) return;
  caption_cache_.reset();
  caption_backdrop_.reset();
  cache_size_ = {0, 0};
  SetWindowRgn(hwnd_, nullptr, FALSE);
  region_owned_ = false;
  region_size_ = {0, 0};
}

}  // namespace clip::skin
