#include "skin/controls/check_boxes.h"

#include "skin/paint/paint_win.h"

namespace clip::skin {
namespace {

// Notifications of the framework that a control's look changed.
constexpr UINT kFrameworkChanged = 0xB01B, kFrameworkStyleChanged = 0xB0D0;

}  // namespace

CheckState TSkinCheckBox::check_state() const {
  if (!hwnd_) return CheckState::unchecked;
  if (radio()) {
    return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED ? CheckState::checked : CheckState::unchecked;
  }
  const LRESULT state = SendMessageW(hwnd_, BM_GETSTATE, 0, 0);
  if (state & BST_INDETERMINATE) return CheckState::indeterminate;
  return (state & BST_CHECKED) ? CheckState::checked : CheckState::unchecked;
}

int TSkinCheckBox::frame() const {
  const bool enabled = hwnd_ && !(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_DISABLED);
  return check_frame(check_state(), enabled, radio());
}

void TSkinCheckBox::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    // The platform draws its own box straight onto the window when the
    // check or the pushed state changes, on a press and on the space key
    // (which pushes the button): the picture goes back over it at once.
    case BM_SETCHECK:
    case BM_SETSTATE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case kFrameworkChanged:
    case kFrameworkStyleChanged:
      RepaintNow();
      break;
    default:
      TSkinControl::AfterMessage(m);
      break;
  }
}

void TSkinCheckBox::DrawSkin(HDC dc, const RECT& rect) {
  const TDataSkinButton* b = data_ ? data_->elements().Buttons.get() : nullptr;
  if (!b || !host_ || !hwnd_) return;
  const Pixels24& picture = radio() ? b->RadioBitmap : b->CheckBitmap;
  const int frames = radio() ? b->RadioButtonFrame : b->CheckButtonFrame;
  if (picture.empty() || frames <= 0) return;
  const int w = picture.width / frames, h = picture.height;
  if (w <= 0) return;
  const bool right = (GetWindowLongPtrW(hwnd_, GWL_STYLE) & BS_RIGHTBUTTON) != 0;
  const CheckPicturePlace place = check_picture_place({rect.left, rect.top, rect.right, rect.bottom}, w, h, right,
                                                      GetSystemMetrics(SM_CXMENUCHECK));
  const RECT clear{place.clear.left, place.clear.top, place.clear.right, place.clear.bottom};
  FillFace(dc, clear);
  paint::draw_strip_frame(dc, place.picture, host_->pixels_bitmap(picture), true, frames, frame());
}

}  // namespace clip::skin
