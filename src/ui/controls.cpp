#include "ui/controls.h"

#include <commdlg.h>
#include <windowsx.h>

#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "ui/canvas.h"
#include "ui/guard.h"
#include "ui/wide.h"

namespace ui {

Bitmap::Bitmap(int width, int height) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bits_ = static_cast<uint8_t*>(bits);
  if (!bitmap_) width_ = height_ = 0;
}

namespace {

// libjpeg reports a fatal error through error_exit, which must not return.
// It longjmps back into the function that made the failing call. Those
// functions hold plain C data only, so the jump skips no destructor; they
// answer false and the C++ side below cleans up as usual.
struct JpegReader {
  jpeg_decompress_struct info;
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void jpeg_fail(j_common_ptr info) {
  longjmp(reinterpret_cast<JpegReader*>(info->client_data)->jump, 1);
}

// A warning (level -1) means the decoder patched damaged data up: the
// picture would come out partly grey, so it counts as a failure too.
void jpeg_message(j_common_ptr info, int level) {
  if (level < 0) jpeg_fail(info);
}

bool jpeg_open(JpegReader* reader, const uint8_t* data, size_t size) {
  reader->info.err = jpeg_std_error(&reader->mgr);
  reader->mgr.error_exit = jpeg_fail;
  reader->mgr.emit_message = jpeg_message;
  reader->info.client_data = reader;
  // Before the first call: even creating the decoder can fail.
  if (setjmp(reader->jump)) return false;
  jpeg_create_decompress(&reader->info);
  jpeg_mem_src(&reader->info, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&reader->info, TRUE);
  // Rows come out in the bitmap's own blue, green, red order.
  reader->info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&reader->info);
  return true;
}

// Decodes every row into `bits`, `stride` bytes apart.
bool jpeg_rows(JpegReader* reader, uint8_t* bits, int stride) {
  if (setjmp(reader->jump)) return false;
  while (reader->info.output_scanline < reader->info.output_height) {
    JSAMPROW rows[1] = {bits + static_cast<size_t>(reader->info.output_scanline) * static_cast<size_t>(stride)};
    jpeg_read_scanlines(&reader->info, rows, 1);
  }
  jpeg_finish_decompress(&reader->info);
  return true;
}

}  // namespace

Bitmap decode_jpeg(const uint8_t* data, size_t size) {
  if (!data || size == 0) return Bitmap();
  // Zeroed: the decoder's structures are plain C and must start cleared (a
  // cleared one is also safe to destroy when creating it failed).
  auto reader = std::make_unique<JpegReader>();
  struct Destroy {
    JpegReader* reader;
    ~Destroy() { jpeg_destroy_decompress(&reader->info); }
  } destroy{reader.get()};
  if (!jpeg_open(reader.get(), data, size)) return Bitmap();
  const JDIMENSION width = reader->info.output_width, height = reader->info.output_height;
  if (reader->info.output_components != 3 || width == 0 || height == 0 || width > 16384 || height > 16384)
    return Bitmap();
  Bitmap out(static_cast<int>(width), static_cast<int>(height));
  if (out.empty() || !jpeg_rows(reader.get(), out.bits(), out.stride())) return Bitmap();
  return out;
}

void CustomControl::paint_to(HDC dc) {
  RECT client;
  GetClientRect(handle(), &client);
  Canvas canvas(dc);
  canvas.fill_rect(client, color());
  SetBkMode(dc, TRANSPARENT);
  paint_graphic_children(dc);
  if (OnPaint) OnPaint(dc);
}

LRESULT CustomControl::default_handler(Message& m) {
  if (m.msg == WM_ERASEBKGND) return 1;
  if (m.msg == WM_PAINT) {
    HWND hwnd = handle();
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (double_buffered) {
      // Composed off screen and copied in one blit, so nothing flickers.
      RECT client;
      GetClientRect(hwnd, &client);
      OffscreenBuffer buffer(dc, client);
      paint_to(buffer.dc());
    } else {
      paint_to(dc);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (m.msg == WM_PRINTCLIENT) {
    paint_to(reinterpret_cast<HDC>(m.wparam));
    return 0;
  }
  return WinControl::default_handler(m);
}

CreateParams Panel::create_params() {
  CreateParams p;
  p.class_name = L"TPanel";
  p.own_class = true;
  p.style |= WS_CLIPCHILDREN;
  return p;
}

CreateParams Splitter::create_params() {
  CreateParams p;
  p.class_name = align == Align::left || align == Align::right ? L"TSplitterV" : L"TSplitterH";
  p.own_class = true;
  p.cursor = align == Align::left || align == Align::right ? IDC_SIZEWE : IDC_SIZENS;
  return p;
}

Control* Splitter::neighbour() const {
  // The aligned control laid out just before the splitter on the same side.
  if (!parent()) return nullptr;
  Control* found = nullptr;
  const RECT mine = bounds();
  for (Control* c : parent()->children()) {
    if (c == this || c->align != align) continue;
    const RECT b = c->bounds();
    if ((align == Align::left && b.right == mine.left) || (align == Align::bottom && b.top == mine.bottom))
      found = c;
  }
  return found;
}

LRESULT Splitter::default_handler(Message& m) {
  const POINT p{static_cast<short>(LOWORD(m.lparam)), static_cast<short>(HIWORD(m.lparam))};
  switch (m.msg) {
    case WM_LBUTTONDOWN:
      if (Control* n = neighbour()) {
        dragging_ = true;
        start_ = p;
        ClientToScreen(handle(), &start_);
        start_size_ = align == Align::left ? n->width() : n->height();
        SetCapture(handle());
      }
      return 0;
    case WM_MOUSEMOVE:
      if (dragging_) {
        POINT s = p;
        ClientToScreen(handle(), &s);
        if (Control* n = neighbour()) {
          const RECT b = n->bounds();
          if (align == Align::left)
            n->set_bounds(b.left, b.top, std::max(0, start_size_ + static_cast<int>(s.x - start_.x)), n->height());
          else
            n->set_bounds(b.left, b.top, n->width(), std::max(0, start_size_ - static_cast<int>(s.y - start_.y)));
          start_size_ = align == Align::left ? n->width() : n->height();
          start_ = s;
          parent()->realign();
        }
      }
      return 0;
    case WM_LBUTTONUP:
      dragging_ = false;
      ReleaseCapture();
      return 0;
    default:
      return CustomControl::default_handler(m);
  }
}

void Label::set_caption(std::string caption) {
  caption_ = std::move(caption);
  HWND host = parent() ? parent()->handle() : nullptr;
  dc_scope dc(host);
  HGDIOBJ old = SelectObject(dc.get(), parent() && parent()->font() ? parent()->font() : GetStockObject(DEFAULT_GUI_FONT));
  const std::wstring text = widen(caption_);
  SIZE size{};
  GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc.get(), old);
  set_bounds(bounds_.left, bounds_.top, size.cx, size.cy);
}

bool Label::set_property(std::string_view name, bool value) {
  if (name != "Transparent") return false;
  transparent = value;
  invalidate();
  return true;
}

void Label::paint_self(HDC dc, const RECT& area) {
  if (!transparent) {
    gdi_object<HBRUSH> brush(CreateSolidBrush(color()));
    FillRect(dc, &area, brush.get());
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  const std::wstring text = widen(caption_);
  TextOutW(dc, 0, 0, text.c_str(), static_cast<int>(text.size()));
}

bool Image::set_property(std::string_view name, bool value) {
  if (name != "Transparent") return false;
  transparent = value;
  return true;
}

void Image::paint_self(HDC dc, const RECT& area) {
  // No picture (a missing resource) leaves the area as the parent painted it.
  if (picture.empty()) return;
  Canvas canvas(dc);
  if (stretch) canvas.stretch_draw(area, picture);
  else canvas.draw(0, 0, picture);
}

bool SpeedButton::set_property(std::string_view name, bool value) {
  if (name == "Flat") flat = value;
  else if (name == "Transparent") transparent = value;
  else return false;
  invalidate();
  return true;
}

void SpeedButton::paint_self(HDC dc, const RECT& area) {
  RECT r = area;
  const bool sunk = pressed_ || down;
  if (!transparent) {
    gdi_object<HBRUSH> brush(CreateSolidBrush(color()));
    FillRect(dc, &r, brush.get());
  }
  if (!flat || sunk) DrawEdge(dc, &r, sunk ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  const std::wstring text = widen(caption);
  if (sunk) OffsetRect(&r, 1, 1);
  if (!glyph.picture.empty()) {
    const int width = glyph.picture.width() / std::max(glyph.count, 1);
    draw_glyph(dc, r.left + 4, r.top + (r.bottom - r.top - glyph.picture.height()) / 2, glyph);
    r.left += width + 4;
  }
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

LRESULT SpeedButton::default_handler(Message& m) {
  if (!enabled && (m.msg == WM_LBUTTONDOWN || m.msg == WM_LBUTTONUP)) return 0;
  return GraphicControl::default_handler(m);
}

void draw_glyph(HDC dc, int x, int y, const Glyph& glyph) {
  if (glyph.picture.empty()) return;
  const int width = glyph.picture.width() / std::max(glyph.count, 1), height = glyph.picture.height();
  HDC source = CreateCompatibleDC(dc);
  HDC mask_dc = CreateCompatibleDC(dc);
  gdi_object<HBITMAP> mask(CreateBitmap(width, height, 1, 1, nullptr));
  if (source && mask_dc && mask) {
    HGDIOBJ old_source = SelectObject(source, glyph.picture.handle());
    HGDIOBJ old_mask = SelectObject(mask_dc, mask.get());
    // White in the mask where the key colour is, so those pixels stay.
    SetBkColor(source, GetPixel(source, 0, 0));
    BitBlt(mask_dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
    MaskBlt(dc, x, y, width, height, source, 0, 0, mask.get(), 0, 0, MAKEROP4(0x00AA0029, SRCCOPY));
    SelectObject(mask_dc, old_mask);
    SelectObject(source, old_source);
  }
  if (mask_dc) DeleteDC(mask_dc);
  if (source) DeleteDC(source);
}

CreateParams Button::create_params() {
  CreateParams p;
  p.class_name = WC_BUTTONW;
  p.text = widen(caption);
  p.style |= WS_TABSTOP | BS_PUSHBUTTON;
  return p;
}

CreateParams GroupBox::create_params() {
  CreateParams p;
  p.class_name = WC_BUTTONW;
  p.text = widen(caption);
  p.style |= BS_GROUPBOX;
  return p;
}

LRESULT GroupBox::default_handler(Message& m) {
  if (m.msg != WM_ERASEBKGND) return WinControl::default_handler(m);
  RECT client;
  GetClientRect(handle(), &client);
  Canvas(reinterpret_cast<HDC>(m.wparam)).fill_rect(client, color());
  return 1;
}

void Button::click() {
  // A copy: the event may replace itself while it runs.
  if (std::function<void()> event = OnClick) event();
}

LRESULT Button::default_handler(Message& m) {
  if (m.msg == kReflectCommand && HIWORD(m.wparam) == BN_CLICKED) {
    click();
    return 0;
  }
  return WinControl::default_handler(m);
}

CreateParams BitBtn::create_params() {
  CreateParams p = Button::create_params();
  p.style = (p.style & ~static_cast<DWORD>(BS_TYPEMASK)) | BS_OWNERDRAW;
  return p;
}

LRESULT BitBtn::default_handler(Message& m) {
  if (m.msg != kReflectDrawItem) return Button::default_handler(m);
  const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(m.lparam);
  RECT r = item->rcItem;
  const bool sunk = item->itemState & ODS_SELECTED;
  DrawFrameControl(item->hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (sunk ? DFCS_PUSHED : 0));
  if (sunk) OffsetRect(&r, 1, 1);
  if (!glyph.picture.empty()) {
    const int width = glyph.picture.width() / std::max(glyph.count, 1);
    draw_glyph(item->hDC, r.left + 4, r.top + (r.bottom - r.top - glyph.picture.height()) / 2, glyph);
    r.left += width + 4;
  }
  SetBkMode(item->hDC, TRANSPARENT);
  SetTextColor(item->hDC, GetSysColor(item->itemState & ODS_DISABLED ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  const std::wstring text = widen(caption);
  DrawTextW(item->hDC, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (item->itemState & ODS_FOCUS) {
    RECT focus = item->rcItem;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(item->hDC, &focus);
  }
  return TRUE;
}

CreateParams ScrollBar::create_params() {
  CreateParams p;
  p.class_name = WC_SCROLLBARW;
  p.style |= vertical ? SBS_VERT : SBS_HORZ;
  return p;
}

void ScrollBar::set_params(int min, int max, int page, int position) {
  SCROLLINFO info{sizeof(info), SIF_RANGE | SIF_PAGE | SIF_POS};
  info.nMin = min;
  info.nMax = max;
  info.nPage = static_cast<UINT>(page);
  info.nPos = position;
  SetScrollInfo(handle(), SB_CTL, &info, TRUE);
}

int ScrollBar::position() {
  SCROLLINFO info{sizeof(info), SIF_POS};
  GetScrollInfo(handle(), SB_CTL, &info);
  return info.nPos;
}

LRESULT ScrollBar::default_handler(Message& m) {
  if (m.msg != kReflectHScroll && m.msg != kReflectVScroll) return WinControl::default_handler(m);
  HWND hwnd = handle();
  SCROLLINFO info{sizeof(info), SIF_ALL};
  GetScrollInfo(hwnd, SB_CTL, &info);
  const int page = std::max(static_cast<int>(info.nPage), 1);
  const int last = info.nMax - std::max(static_cast<int>(info.nPage) - 1, 0);
  int position = info.nPos;
  const int code = LOWORD(m.wparam);
  switch (code) {
    case SB_LINEUP: position -= 1; break;
    case SB_LINEDOWN: position += 1; break;
    case SB_PAGEUP: position -= page; break;
    case SB_PAGEDOWN: position += page; break;
    case SB_TOP: position = info.nMin; break;
    case SB_BOTTOM: position = last; break;
    // The 32-bit track position, not the message's 16-bit one.
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: position = info.nTrackPos; break;
    default: break;
  }
  position = std::clamp(position, info.nMin, std::max(last, info.nMin));
  if (position != info.nPos) SetScrollPos(hwnd, SB_CTL, position, TRUE);
  if (OnScroll) OnScroll(code);
  return 0;
}

bool ToolBar::set_property(std::string_view name, bool value) {
  DWORD bit = 0;
  if (name == "Flat") {
    flat = value;
    bit = TBSTYLE_FLAT;
  } else if (name == "Transparent") {
    transparent = value;
    bit = TBSTYLE_TRANSPARENT;
  } else {
    return false;
  }
  if (handle_allocated()) {
    const LRESULT style = SendMessageW(handle(), TB_GETSTYLE, 0, 0);
    SendMessageW(handle(), TB_SETSTYLE, 0, value ? (style | bit) : (style & ~static_cast<LRESULT>(bit)));
    invalidate();
  }
  return true;
}

CreateParams ToolBar::create_params() {
  CreateParams p;
  p.class_name = TOOLBARCLASSNAMEW;
  p.style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER | TBSTYLE_LIST;
  if (flat) p.style |= TBSTYLE_FLAT;
  if (transparent) p.style |= TBSTYLE_TRANSPARENT;
  return p;
}

void ToolBar::created() {
  SendMessageW(handle(), TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageW(handle(), TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
  std::vector<std::wstring> captions = std::move(captions_);
  captions_.clear();
  for (const std::wstring& caption : captions) add_button(narrow(caption));
}

void ToolBar::add_button(const std::string& caption) {
  captions_.push_back(widen(caption));
  if (!handle_allocated()) return;
  TBBUTTON button{};
  button.iBitmap = I_IMAGENONE;
  button.idCommand = static_cast<int>(captions_.size());
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT;
  button.iString = reinterpret_cast<INT_PTR>(captions_.back().c_str());
  SendMessageW(handle(), TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
}

int ToolBar::button_count() {
  return handle_allocated() ? static_cast<int>(SendMessageW(handle(), TB_BUTTONCOUNT, 0, 0)) : 0;
}

LRESULT ToolBar::default_handler(Message& m) {
  if (m.msg == kReflectNotify) {
    auto* draw = reinterpret_cast<NMTBCUSTOMDRAW*>(m.lparam);
    if (draw->nmcd.hdr.code == NM_CUSTOMDRAW && OnCustomDrawButton) {
      if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
      if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        const COLORREF before = GetTextColor(draw->nmcd.hdc);
        OnCustomDrawButton(*this, draw->nmcd.hdc, draw->nmcd.rc, draw->nmcd.uItemState);
        const COLORREF after = GetTextColor(draw->nmcd.hdc);
        if (after != before) draw->clrText = after;
        return CDRF_DODEFAULT;
      }
    }
    return 0;
  }
  return WinControl::default_handler(m);
}

CreateParams Memo::create_params() {
  CreateParams p;
  p.class_name = WC_EDITW;
  p.style |= WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  p.ex_style = WS_EX_CLIENTEDGE;
  return p;
}

void Memo::add_line(const std::string& line) { add_lines({line}); }

void Memo::add_lines(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  HWND hwnd = handle();
  SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);
  const LRESULT length = GetWindowTextLengthW(hwnd);
  std::wstring text;
  for (const std::string& line : lines) {
    if (length > 0 || !text.empty()) text += L"\r\n";
    text += widen(line);
  }
  SendMessageW(hwnd, EM_SETSEL, length, length);
  SendMessageW(hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

std::vector<std::string> Memo::lines() {
  HWND hwnd = handle();
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    out.push_back(narrow(std::wstring_view(text).substr(start, end - start)));
    start = end + 2;
  }
  return out;
}

CreateParams Edit::create_params() {
  CreateParams p;
  p.class_name = WC_EDITW;
  p.text = widen(text);
  p.style |= WS_TABSTOP | ES_AUTOHSCROLL;
  p.ex_style = WS_EX_CLIENTEDGE;
  return p;
}

std::string Edit::get_text() {
  const int n = GetWindowTextLengthW(handle());
  std::wstring wide(size_t(n) + 1, L'\0');
  wide.resize(size_t(GetWindowTextW(handle(), wide.data(), n + 1)));
  return narrow(wide);
}

CreateParams ComboBox::create_params() {
  CreateParams p;
  p.class_name = WC_COMBOBOXW;
  // The height given is the closed box's; the list drops below it.
  p.style |= WS_TABSTOP | WS_VSCROLL | (style == Style::drop_down ? CBS_DROPDOWN : CBS_DROPDOWNLIST);
  return p;
}

namespace {
// Adds one item to a list or combo box (msg: its add-string message).
void add_string(HWND box, UINT msg, const std::string& item) {
  const std::wstring wide = widen(item);
  SendMessageW(box, msg, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}
}  // namespace

void ComboBox::created() {
  for (const std::string& item : items_) add_string(handle(), CB_ADDSTRING, item);
}

void ComboBox::add_item(const std::string& item) {
  items_.push_back(item);
  if (handle_allocated()) add_string(handle(), CB_ADDSTRING, item);
}

void ComboBox::set_item_index(int index) { SendMessageW(handle(), CB_SETCURSEL, WPARAM(index), 0); }
int ComboBox::item_index() { return int(SendMessageW(handle(), CB_GETCURSEL, 0, 0)); }

CreateParams TrackBar::create_params() {
  CreateParams p;
  p.class_name = TRACKBAR_CLASSW;
  p.style |= WS_TABSTOP | TBS_AUTOTICKS | (vertical ? TBS_VERT : TBS_HORZ);
  return p;
}

bool TrackBar::set_property(std::string_view name, bool value) {
  if (name != "Transparent") return WinControl::set_property(name, value);
  transparent = value;
  return true;
}

void TrackBar::set_range(int min, int max) {
  SendMessageW(handle(), TBM_SETRANGEMIN, FALSE, min);
  SendMessageW(handle(), TBM_SETRANGEMAX, TRUE, max);
}
void TrackBar::set_position(int position) { SendMessageW(handle(), TBM_SETPOS, TRUE, position); }

CreateParams CheckBox::create_params() {
  CreateParams p;
  p.class_name = WC_BUTTONW;
  p.text = widen(caption);
  p.style |= WS_TABSTOP | (allow_grayed ? BS_AUTO3STATE : BS_AUTOCHECKBOX);
  return p;
}

bool CheckBox::set_property(std::string_view name, bool value) {
  if (name != "Checked") return WinControl::set_property(name, value);
  set_state(value ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CheckBox::set_state(int state) { SendMessageW(handle(), BM_SETCHECK, WPARAM(state), 0); }
int CheckBox::state() { return int(SendMessageW(handle(), BM_GETCHECK, 0, 0)); }

CreateParams RadioButton::create_params() {
  CreateParams p = CheckBox::create_params();
  p.style = (p.style & ~DWORD(BS_TYPEMASK)) | BS_AUTORADIOBUTTON;
  return p;
}

CreateParams UpDown::create_params() {
  CreateParams p;
  p.class_name = UPDOWN_CLASSW;
  if (horizontal) p.style |= UDS_HORZ;
  return p;
}

CreateParams ProgressBar::create_params() {
  CreateParams p;
  p.class_name = PROGRESS_CLASSW;
  p.ex_style = WS_EX_STATICEDGE;
  return p;
}

void ProgressBar::set_range(int min, int max) { SendMessageW(handle(), PBM_SETRANGE32, min, max); }
void ProgressBar::set_position(int position) { SendMessageW(handle(), PBM_SETPOS, position, 0); }
int ProgressBar::position() { return static_cast<int>(SendMessageW(handle(), PBM_GETPOS, 0, 0)); }
int ProgressBar::max() { return static_cast<int>(SendMessageW(handle(), PBM_GETRANGE, FALSE, 0)); }

CreateParams StatusBar::create_params() {
  CreateParams p;
  p.class_name = STATUSCLASSNAMEW;
  // Laid out by its alignment like every control, not by itself.
  p.style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
  return p;
}

void StatusBar::set_panels(std::vector<PanelSpec> panels) {
  panels_ = std::move(panels);
  // Parts are given by their right edges; -1 runs to the bar's end.
  std::vector<int> edges;
  int right = 0;
  for (size_t i = 0; i < panels_.size(); ++i) {
    right += panels_[i].width;
    edges.push_back(i + 1 == panels_.size() ? -1 : right);
  }
  SendMessageW(handle(), SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  for (size_t i = 0; i < panels_.size(); ++i) set_panel_text(static_cast<int>(i), panels_[i].text);
}

void StatusBar::set_panel_text(int index, const std::string& text) {
  if (index < 0 || static_cast<size_t>(index) >= panels_.size()) return;
  panels_[index].text = text;
  if (panels_[index].owner_drawn) {
    SendMessageW(handle(), SB_SETTEXTW, static_cast<WPARAM>(index) | SBT_OWNERDRAW, 0);
    return;
  }
  // A leading tab centres the text in its part.
  const std::wstring wide = (panels_[index].centred ? L"\t" : L"") + widen(text);
  SendMessageW(handle(), SB_SETTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide.c_str()));
}

std::string StatusBar::panel_text(int index) {
  if (index < 0 || static_cast<size_t>(index) >= panels_.size()) return {};
  return panels_[index].text;
}

void StatusBar::set_owner_drawn(int index) {
  if (index < 0 || static_cast<size_t>(index) >= panels_.size()) return;
  panels_[index].owner_drawn = true;
  set_panel_text(index, panels_[index].text);
}

LRESULT StatusBar::default_handler(Message& m) {
  if (m.msg == kReflectDrawItem) {
    auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(m.lparam);
    if (OnDrawPanel) OnDrawPanel(static_cast<int>(item->itemID), item->rcItem);
    return TRUE;
  }
  if (m.msg == WM_SIZE) {
    // The bar redraws every part after a size change; the owner-drawn ones
    // are placed again from their new rectangles.
    LRESULT r = WinControl::default_handler(m);
    InvalidateRect(handle(), nullptr, TRUE);
    return r;
  }
  return WinControl::default_handler(m);
}

void RadioGroup::add_item(const std::string& caption) {
  auto* button = make<RadioButton>(name() + "Item" + std::to_string(buttons_.size()));
  button->caption = caption;
  button->set_bounds(8, 16 + 22 * int(buttons_.size()), std::max(width() - 16, 10), 20);
  buttons_.push_back(button);
  button->set_parent(this);
}

CreateParams ListBox::create_params() {
  CreateParams p;
  p.class_name = WC_LISTBOXW;
  p.style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  p.ex_style = WS_EX_CLIENTEDGE;
  return p;
}

void ListBox::created() {
  for (const std::string& item : items_) add_string(handle(), LB_ADDSTRING, item);
}

void ListBox::add_item(const std::string& item) {
  items_.push_back(item);
  if (handle_allocated()) add_string(handle(), LB_ADDSTRING, item);
}

CreateParams DateTimePicker::create_params() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_DATE_CLASSES};
    return InitCommonControlsEx(&classes) != FALSE;
  }();
  (void)registered;
  CreateParams p;
  p.class_name = DATETIMEPICK_CLASSW;
  p.style |= WS_TABSTOP | (up_down ? DTS_UPDOWN : 0);
  return p;
}

CreateParams TabControl::create_params() {
  CreateParams p;
  p.class_name = WC_TABCONTROLW;
  p.style |= WS_TABSTOP;
  switch (side) {
    case Side::top: break;
    case Side::bottom: p.style |= TCS_BOTTOM; break;
    // Tabs on a side need several rows: the control has no arrows for them.
    case Side::left: p.style |= TCS_VERTICAL | TCS_MULTILINE; break;
    case Side::right: p.style |= TCS_VERTICAL | TCS_BOTTOM | TCS_MULTILINE; break;
  }
  if ((side == Side::top || side == Side::bottom) && !single_line) p.style |= TCS_MULTILINE;
  return p;
}

void TabControl::created() {
  std::vector<std::string> tabs = std::move(tabs_);
  tabs_.clear();
  for (const std::string& caption : tabs) add_tab(caption);
}

void TabControl::add_tab(const std::string& caption) {
  tabs_.push_back(caption);
  if (!handle_allocated()) return;
  std::wstring wide = widen(caption);
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = wide.data();
  SendMessageW(handle(), TCM_INSERTITEMW, WPARAM(tabs_.size() - 1), reinterpret_cast<LPARAM>(&item));
}

int TabControl::tab_count() { return int(SendMessageW(handle(), TCM_GETITEMCOUNT, 0, 0)); }
void TabControl::set_tab_index(int index) { SendMessageW(handle(), TCM_SETCURSEL, WPARAM(index), 0); }
int TabControl::tab_index() { return int(SendMessageW(handle(), TCM_GETCURSEL, 0, 0)); }

LRESULT TabControl::default_handler(Message& m) {
  if (m.msg == kReflectNotify && reinterpret_cast<NMHDR*>(m.lparam)->code == TCN_SELCHANGE) {
    if (OnChange) OnChange();
    return 0;
  }
  return WinControl::default_handler(m);
}

TabSet::TabSet(Component* owner, std::string name) : CustomControl(owner, std::move(name)) {
  arrows_ = make<UpDown>(this->name() + "Arrows");
  arrows_->horizontal = true;
  arrows_->set_parent(this);
  arrows_->set_visible(false);
}

CreateParams TabSet::create_params() {
  CreateParams p;
  p.class_name = L"TTabSet";
  p.own_class = true;
  p.style |= WS_CLIPCHILDREN;
  return p;
}

void TabSet::created() { update_arrows(); }

void TabSet::set_tabs(std::vector<std::string> tabs) {
  tabs_ = std::move(tabs);
  first_ = std::min(first_, std::max(int(tabs_.size()) - 1, 0));
  selected_ = std::min(selected_, std::max(int(tabs_.size()) - 1, 0));
  update_arrows();
}

int TabSet::text_width(const std::string& caption) {
  const dc_scope dc(handle());
  const HGDIOBJ old = SelectObject(dc.get(), font() ? font() : GetStockObject(DEFAULT_GUI_FONT));
  const std::wstring wide = widen(caption);
  SIZE size{};
  GetTextExtentPoint32W(dc.get(), wide.c_str(), int(wide.size()), &size);
  SelectObject(dc.get(), old);
  return size.cx;
}

// The tabs shown from the first one on, each as wide as its caption plus 9,
// up to the first one that does not fit before the arrows.
std::vector<TabSet::Slot> TabSet::layout() {
  std::vector<Slot> out;
  RECT client{};
  GetClientRect(handle(), &client);
  const int room = client.right - end_margin - (arrows_->visible() ? arrows_->width() : 0);
  int x = start_margin;
  for (int i = first_; i < int(tabs_.size()); ++i) {
    const int w = text_width(tabs_[size_t(i)]) + 9;
    if (x + w > room) break;
    out.push_back({i, {x, 0, x + w, client.bottom - 2}});
    x += w;
  }
  return out;
}

void TabSet::update_arrows() {
  if (!handle_allocated()) return;
  RECT client{};
  GetClientRect(handle(), &client);
  int total = start_margin + end_margin;
  for (const std::string& caption : tabs_) total += text_width(caption) + 9;
  const bool needed = first_ > 0 || total > client.right;
  const int h = std::max(int(client.bottom) - 2, 1);
  arrows_->set_bounds(std::max(int(client.right) - 2 * h, 0), 1, 2 * h, h);
  arrows_->set_visible(needed);
  invalidate();
}

void TabSet::set_first_index(int index) {
  first_ = std::clamp(index, 0, std::max(int(tabs_.size()) - 1, 0));
  update_arrows();
}

void TabSet::set_tab_index(int index) {
  if (index < 0 || index >= int(tabs_.size()) || index == selected_) return;
  selected_ = index;
  invalidate();
  if (OnChange) OnChange();
}

void TabSet::paint_tabs(HDC dc) {
  Canvas canvas(dc);
  canvas.set_font(font() ? font() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  SetBkMode(dc, TRANSPARENT);
  const gdi_object<HPEN> pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW)));
  const HGDIOBJ old_pen = SelectObject(dc, pen.get());
  for (const Slot& slot : layout()) {
    RECT r = slot.rect;
    if (slot.index == selected_) canvas.fill_rect(r, GetSysColor(COLOR_WINDOW));
    // The tab hangs from the strip's top edge: open at the top.
    const POINT outline[] = {{r.left, r.top}, {r.left, r.bottom - 1}, {r.right - 1, r.bottom - 1}, {r.right - 1, r.top}};
    Polyline(dc, outline, 4);
    const std::wstring text = widen(tabs_[size_t(slot.index)]);
    DrawTextW(dc, text.c_str(), int(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, old_pen);
}

LRESULT TabSet::default_handler(Message& m) {
  switch (m.msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(handle(), &ps);
      RECT client{};
      GetClientRect(handle(), &client);
      {
        OffscreenBuffer buffer(dc, client);
        paint_to(buffer.dc());
        paint_tabs(buffer.dc());
      }
      EndPaint(handle(), &ps);
      return 0;
    }
    case WM_SIZE: update_arrows(); break;
    case WM_NOTIFY: {
      auto* step = reinterpret_cast<NMUPDOWN*>(m.lparam);
      if (step->hdr.code != UDN_DELTAPOS || !arrows_->handle_allocated() || step->hdr.hwndFrom != arrows_->handle())
        break;
      // The arrows keep no position of their own: each press moves the
      // first tab by one. Their range may run either way, and the step's
      // sign follows it.
      int low = 0, high = 0;
      SendMessageW(step->hdr.hwndFrom, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
      const int toward_end = (step->iDelta > 0) == (low <= high) ? 1 : -1;
      if (step->iDelta != 0) set_first_index(first_ + toward_end);
      return 1;
    }
    case WM_LBUTTONDOWN: {
      const POINT p{GET_X_LPARAM(m.lparam), GET_Y_LPARAM(m.lparam)};
      for (const Slot& slot : layout())
        if (PtInRect(&slot.rect, p)) set_tab_index(slot.index);
      return 0;
    }
  }
  return CustomControl::default_handler(m);
}

CreateParams TreeView::create_params() {
  CreateParams p;
  p.class_name = WC_TREEVIEWW;
  p.style |= WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_FULLROWSELECT |
             TVS_SHOWSELALWAYS | TVS_INFOTIP;
  p.ex_style = WS_EX_CLIENTEDGE;
  return p;
}

void TreeView::created() {
  if (images) TreeView_SetImageList(handle(), images, TVSIL_NORMAL);
  TreeView_SetBkColor(handle(), color());
}

HTREEITEM TreeView::add(HTREEITEM parent, const std::string& text, int image, void* data, bool first) {
  std::wstring wide = widen(text);
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent ? parent : TVI_ROOT;
  insert.hInsertAfter = first ? TVI_FIRST : TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  insert.item.pszText = wide.data();
  insert.item.iImage = insert.item.iSelectedImage = image;
  insert.item.lParam = reinterpret_cast<LPARAM>(data);
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(handle(), TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

std::string TreeView::text(HTREEITEM node) {
  wchar_t buffer[1024] = {};
  TVITEMW item{};
  item.mask = TVIF_TEXT;
  item.hItem = node;
  item.pszText = buffer;
  item.cchTextMax = 1024;
  SendMessageW(handle(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return narrow(buffer);
}

void* TreeView::data(HTREEITEM node) {
  TVITEMW item{};
  item.mask = TVIF_PARAM;
  item.hItem = node;
  if (!SendMessageW(handle(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
  return reinterpret_cast<void*>(item.lParam);
}

HTREEITEM TreeView::selected() { return TreeView_GetSelection(handle()); }
void TreeView::select(HTREEITEM node) { TreeView_SelectItem(handle(), node); }

HTREEITEM TreeView::node_at(int x, int y) {
  TVHITTESTINFO hit{};
  hit.pt = {x, y};
  HTREEITEM node = TreeView_HitTest(handle(), &hit);
  return (hit.flags & TVHT_ONITEM) ? node : nullptr;
}

std::vector<HTREEITEM> TreeView::children_of(HTREEITEM parent) {
  std::vector<HTREEITEM> out;
  HTREEITEM n = parent ? TreeView_GetChild(handle(), parent) : TreeView_GetRoot(handle());
  for (; n; n = TreeView_GetNextSibling(handle(), n)) out.push_back(n);
  return out;
}

std::vector<HTREEITEM> TreeView::flat_nodes() {
  std::vector<HTREEITEM> out;
  std::function<void(HTREEITEM)> walk = [&](HTREEITEM parent) {
    for (HTREEITEM n : children_of(parent)) {
      out.push_back(n);
      walk(n);
    }
  };
  walk(nullptr);
  return out;
}

void TreeView::expand_all() {
  for (HTREEITEM n : flat_nodes()) TreeView_Expand(handle(), n, TVE_EXPAND);
}

namespace {
// Where a context menu opens: at the mouse for a click; for the keyboard
// (the menu key or Shift+F10 send the point -1, -1) under the left end of the
// selected item, or at the control's corner when nothing is selected.
POINT context_menu_point(HWND hwnd, LPARAM lparam, const RECT* item) {
  if (lparam != -1) return {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
  POINT p = item ? POINT{item->left, item->bottom} : POINT{0, 0};
  ClientToScreen(hwnd, &p);
  return p;
}

// Copies text into a control's buffer of `capacity` characters, cut to fit.
void copy_bounded(const std::wstring& text, wchar_t* into, int capacity) {
  if (!into || capacity <= 0) return;
  const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
  std::copy_n(text.begin(), n, into);
  into[n] = L'\0';
}
}  // namespace

LRESULT TreeView::default_handler(Message& m) {
  switch (m.msg) {
    case kReflectNotify: {
      auto* header = reinterpret_cast<NMHDR*>(m.lparam);
      if (header->code == TVN_SELCHANGEDW && OnChange) OnChange(reinterpret_cast<NMTREEVIEWW*>(header)->itemNew.hItem);
      if (header->code == TVN_GETINFOTIPW) {
        auto* tip = reinterpret_cast<NMTVGETINFOTIPW*>(header);
        copy_bounded(OnInfoTip ? widen(OnInfoTip(tip->hItem)) : std::wstring(), tip->pszText, tip->cchTextMax);
        return 0;
      }
      if (header->code == NM_RCLICK && popup_menu) {
        // The control's own mouse loop swallows the button release, and
        // Wine's tree view sends no WM_CONTEXTMENU after it; Windows sends one
        // unless NM_RCLICK is answered. Showing the menu here and answering
        // gives one menu, at the click, on both.
        const DWORD at = GetMessagePos();
        popup_menu->popup(handle(), static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at)));
        return 1;
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      if (OnMouseDown)
        OnMouseDown(m.msg, static_cast<short>(LOWORD(m.lparam)), static_cast<short>(HIWORD(m.lparam)));
      break;
    case WM_CONTEXTMENU:
      if (popup_menu) {
        RECT item{};
        HTREEITEM node = selected();
        const bool shown = node && TreeView_GetItemRect(handle(), node, &item, TRUE);
        const POINT at = context_menu_point(handle(), m.lparam, shown ? &item : nullptr);
        popup_menu->popup(handle(), at.x, at.y);
      }
      return 0;
    default:
      break;
  }
  return WinControl::default_handler(m);
}

CreateParams ListView::create_params() {
  CreateParams p;
  p.class_name = WC_LISTVIEWW;
  p.style |= WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA;
  p.ex_style = WS_EX_CLIENTEDGE;
  return p;
}

void ListView::created() {
  HWND hwnd = handle();
  ListView_SetExtendedListViewStyle(
      hwnd, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
  // The check box is a state image; with owner data the control asks for it
  // with the texts.
  ListView_SetCallbackMask(hwnd, LVIS_STATEIMAGEMASK);
  for (size_t i = 0; i < columns.size(); ++i) {
    std::wstring caption = widen(columns[i].caption);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.fmt = columns[i].format;
    column.cx = columns[i].width;
    column.pszText = caption.data();
    SendMessageW(hwnd, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  if (!rows_.empty()) ListView_SetItemCountEx(hwnd, static_cast<int>(rows_.size()), LVSICF_NOSCROLL);
}

int ListView::add_row(const std::vector<std::string>& texts, LPARAM data) {
  add_rows({Row{texts, data, false}});
  return row_count() - 1;
}

void ListView::add_rows(std::vector<Row> rows) {
  if (rows.empty()) return;
  if (rows_.empty()) rows_ = std::move(rows);
  else rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  // Only the new rows' area is repainted; what is on screen stays put.
  if (handle_allocated())
    ListView_SetItemCountEx(handle(), row_count(), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
}

void ListView::clear() {
  rows_.clear();
  if (handle_allocated()) {
    ListView_SetItemCountEx(handle(), 0, 0);
    InvalidateRect(handle(), nullptr, TRUE);
  }
}

std::string ListView::text(int row, int column) const {
  if (row < 0 || row >= row_count() || column < 0) return {};
  const std::vector<std::string>& texts = rows_[static_cast<size_t>(row)].texts;
  return static_cast<size_t>(column) < texts.size() ? texts[static_cast<size_t>(column)] : std::string();
}

bool ListView::checked(int row) const {
  return row >= 0 && row < row_count() && rows_[static_cast<size_t>(row)].checked;
}

void ListView::set_checked(int row, bool checked) {
  if (row < 0 || row >= row_count()) return;
  rows_[static_cast<size_t>(row)].checked = checked;
  if (batch_depth_ == 0 && handle_allocated()) ListView_RedrawItems(handle(), row, row);
}

void ListView::set_text(int row, int column, std::string text) {
  if (row < 0 || row >= row_count() || column < 0) return;
  std::vector<std::string>& texts = rows_[static_cast<size_t>(row)].texts;
  if (static_cast<size_t>(column) >= texts.size()) texts.resize(static_cast<size_t>(column) + 1);
  texts[static_cast<size_t>(column)] = std::move(text);
  if (batch_depth_ == 0 && handle_allocated()) ListView_RedrawItems(handle(), row, row);
}

ListView::Batch::~Batch() {
  if (--list_.batch_depth_ == 0 && list_.handle_allocated()) InvalidateRect(list_.handle(), nullptr, FALSE);
}

LPARAM ListView::data(int row) const {
  return row >= 0 && row < row_count() ? rows_[static_cast<size_t>(row)].data : 0;
}

void ListView::toggle(int row) {
  if (row < 0 || row >= row_count()) return;
  set_checked(row, !checked(row));
}

void ListView::answer_display_info(NMLVDISPINFOW& info) const {
  LVITEMW& item = info.item;
  if (item.iItem < 0 || item.iItem >= row_count()) return;
  if (item.mask & LVIF_TEXT) copy_bounded(widen(text(item.iItem, item.iSubItem)), item.pszText, item.cchTextMax);
  if (item.mask & LVIF_STATE) {
    item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(checked(item.iItem) ? 2 : 1);
    item.stateMask |= LVIS_STATEIMAGEMASK;
  }
}

int ListView::column_width(int column) { return ListView_GetColumnWidth(handle(), column); }
void ListView::set_column_width(int column, int width) { ListView_SetColumnWidth(handle(), column, width); }

LRESULT ListView::default_handler(Message& m) {
  switch (m.msg) {
    case kReflectNotify: {
      auto* header = reinterpret_cast<NMHDR*>(m.lparam);
      if (header->code == LVN_GETDISPINFOW) {
        answer_display_info(*reinterpret_cast<NMLVDISPINFOW*>(m.lparam));
        return 0;
      }
      if (header->code == LVN_ODFINDITEMW) return -1;  // no type-ahead search in the rows
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      // The control keeps no marks of owner-data rows: a press on a box is
      // ours to answer, and the control never sees it.
      LVHITTESTINFO hit{};
      hit.pt = {static_cast<short>(LOWORD(m.lparam)), static_cast<short>(HIWORD(m.lparam))};
      const int row = ListView_SubItemHitTest(handle(), &hit);
      if (row >= 0 && hit.iSubItem == 0 && (hit.flags & LVHT_ONITEMSTATEICON)) {
        SetFocus(handle());
        toggle(row);
        return 0;
      }
      break;
    }
    case WM_KEYDOWN:
      if (m.wparam == VK_SPACE) {
        toggle(ListView_GetNextItem(handle(), -1, LVNI_FOCUSED));
        return 0;
      }
      break;
    case WM_CHAR:
      if (m.wparam == L' ') return 0;
      break;
    case WM_SIZE: {
      LRESULT r = WinControl::default_handler(m);
      if (OnResize) OnResize();
      return r;
    }
    case WM_CONTEXTMENU:
      if (popup_menu) {
        RECT item{};
        const int focused = ListView_GetNextItem(handle(), -1, LVNI_FOCUSED);
        const bool shown = focused >= 0 && ListView_GetItemRect(handle(), focused, &item, LVIR_LABEL);
        const POINT at = context_menu_point(handle(), m.lparam, shown ? &item : nullptr);
        popup_menu->popup(handle(), at.x, at.y);
        return 0;
      }
      break;
    default:
      break;
  }
  return WinControl::default_handler(m);
}

namespace {
UINT next_command_id = 100;
PopupMenu::Tracker popup_tracker;
OpenDialog::Runner open_runner;
}  // namespace

MenuItem::MenuItem(Component* owner, std::string name, std::string caption, std::string shortcut)
    : Component(owner, std::move(name)), caption_(std::move(caption)), shortcut_(std::move(shortcut)),
      id_(next_command_id++) {}

MenuItem* MenuItem::add(std::string name, std::string caption, std::string shortcut) {
  MenuItem* item = make<MenuItem>(std::move(name), std::move(caption), std::move(shortcut));
  items_.push_back(item);
  return item;
}

void MenuItem::set_enabled(bool enabled) {
  enabled_ = enabled;
  sync();
}

void MenuItem::set_checked(bool checked) {
  checked_ = checked;
  sync();
}

void MenuItem::sync() {
  if (!in_menu_) return;
  EnableMenuItem(in_menu_, id_, MF_BYCOMMAND | (enabled_ ? MF_ENABLED : MF_GRAYED));
  CheckMenuItem(in_menu_, id_, MF_BYCOMMAND | (checked_ ? MF_CHECKED : MF_UNCHECKED));
}

bool MenuItem::accelerator(ACCEL& out) const {
  if (shortcut_.empty()) return false;
  out = {};
  out.fVirt = FVIRTKEY;
  std::string rest = shortcut_;
  for (;;) {
    if (rest.rfind("Alt+", 0) == 0) out.fVirt |= FALT, rest = rest.substr(4);
    else if (rest.rfind("Ctrl+", 0) == 0) out.fVirt |= FCONTROL, rest = rest.substr(5);
    else if (rest.rfind("Shift+", 0) == 0) out.fVirt |= FSHIFT, rest = rest.substr(6);
    else break;
  }
  if (rest.size() != 1) return false;
  out.key = static_cast<WORD>(toupper(static_cast<unsigned char>(rest[0])));
  out.cmd = static_cast<WORD>(id_);
  return true;
}

HMENU MenuItem::build() {
  if (menu_) return menu_;
  const bool popup = dynamic_cast<Menu*>(this) ? static_cast<Menu*>(this)->popup_kind : true;
  menu_ = popup ? CreatePopupMenu() : CreateMenu();
  for (MenuItem* item : items_) {
    item->in_menu_ = menu_;
    if (item->separator()) {
      // With its own id, so that an owner-drawn separator is found like any item.
      AppendMenuW(menu_, MF_SEPARATOR, item->id_, nullptr);
      continue;
    }
    std::wstring text = widen(item->caption_);
    if (!item->shortcut_.empty()) text += L"\t" + widen(item->shortcut_);
    if (!item->items_.empty())
      AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(item->build()), text.c_str());
    else
      AppendMenuW(menu_, MF_STRING, item->id_, text.c_str());
    item->sync();
  }
  return menu_;
}

MenuItem* MenuItem::find(UINT id) {
  if (id_ == id) return this;
  for (MenuItem* item : items_)
    if (MenuItem* found = item->find(id)) return found;
  return nullptr;
}

MenuItem* MenuItem::find_drawn(UINT id) {
  if (id_ == id || (menu_ && static_cast<UINT>(reinterpret_cast<UINT_PTR>(menu_)) == id)) return this;
  for (MenuItem* item : items_)
    if (MenuItem* found = item->find_drawn(id)) return found;
  return nullptr;
}

SIZE default_menu_item_size(HDC dc, std::wstring_view caption, std::wstring_view shortcut, bool separator) {
  if (separator) return {0, 9};
  auto measure = [dc](std::wstring_view text, UINT format) {
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.data(), static_cast<int>(text.size()), &r, format | DT_SINGLELINE | DT_CALCRECT);
    return SIZE{r.right - r.left, r.bottom - r.top};
  };
  const SIZE text = measure(caption.empty() ? std::wstring_view(L" ") : caption, 0);
  SIZE size{text.cx, std::max(static_cast<LONG>(16), text.cy) + 4};
  if (!shortcut.empty()) size.cx += 24 + measure(shortcut, DT_NOPREFIX).cx;
  return size;
}

namespace {
void mark_owner_drawn(MenuItem& parent, bool on) {
  HMENU menu = parent.menu_handle();
  if (!menu) return;
  for (UINT i = 0; i < parent.items().size(); ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE;
    if (!GetMenuItemInfoW(menu, i, TRUE, &info)) continue;
    info.fType = on ? (info.fType | MFT_OWNERDRAW) : (info.fType & ~UINT(MFT_OWNERDRAW));
    SetMenuItemInfoW(menu, i, TRUE, &info);
    mark_owner_drawn(*parent.items()[i], on);
  }
}

// Owner-drawn items whose owner gave no picture: the caption on the menu's
// colours, so the item still reads.
void draw_plain_item(const MenuItem& item, HDC dc, const RECT& rect, UINT state) {
  const bool selected = state & ODS_SELECTED;
  FillRect(dc, &rect, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
  if (item.separator()) {
    RECT rule = rect;
    rule.top += (rect.bottom - rect.top) / 2 - 1;
    DrawEdge(dc, &rule, EDGE_ETCHED, BF_TOP);
    return;
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(!item.enabled() ? COLOR_GRAYTEXT : selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
  RECT text = rect;
  text.left += 20;
  text.right -= 11;
  const std::wstring caption = widen(item.caption()), shortcut = widen(item.shortcut());
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_SINGLELINE | DT_VCENTER);
  DrawTextW(dc, shortcut.c_str(), static_cast<int>(shortcut.size()), &text,
            DT_SINGLELINE | DT_VCENTER | DT_RIGHT | DT_NOPREFIX);
}

}  // namespace

gdi_object<HFONT> create_menu_font(bool bold) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    // Systems before Vista reject the size that counts iPaddedBorderWidth.
    metrics.cbSize = sizeof(metrics) - sizeof(metrics.iPaddedBorderWidth);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return {};
  }
  if (bold) metrics.lfMenuFont.lfWeight = FW_BOLD;
  return gdi_object<HFONT>(CreateFontIndirectW(&metrics.lfMenuFont));
}

void Menu::set_owner_draw(bool on) {
  owner_draw_ = on;
  build();
  mark_owner_drawn(*this, on);
}

Menu::~Menu() {
  // A main menu belongs to its window and goes with it; a popup is ours.
  if (menu_ && (popup_kind || !IsMenu(menu_))) {
    if (IsMenu(menu_)) DestroyMenu(menu_);
  }
}

void PopupMenu::popup(HWND owner, int x, int y) {
  if (OnPopup) OnPopup();
  build();
  UINT id = 0;
  if (popup_tracker) {
    id = popup_tracker(*this, owner, x, y);
  } else {
    HWND form = GetAncestor(owner, GA_ROOT);
    id = TrackPopupMenuEx(menu_handle(), TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, form, nullptr);
  }
  MenuItem* item = id ? find(id) : nullptr;
  if (!item || !item->enabled() || !item->OnClick) return;
  // The command runs inside the control's own handling of the click (the
  // tree's NM_RCLICK, a WM_CONTEXTMENU); its failure stops here.
  std::function<void()> command = item->OnClick;
  guard(command);
}

void PopupMenu::set_tracker(Tracker tracker) { popup_tracker = std::move(tracker); }

Form::Form(Component* owner, std::string name) : CustomControl(owner, std::move(name)) {}

Form::~Form() {
  if (menu && handle_allocated()) SetMenu(handle(), nullptr);
}

CreateParams Form::create_params() {
  CreateParams p;
  p.class_name = widen(class_name());
  p.own_class = true;
  p.text = widen(caption);
  p.style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  if (border_icons == BorderIcons::all) p.style |= WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  return p;
}

bool Form::create() {
  visible_ = false;
  const CreateParams p = create_params();
  RECT frame{0, 0, client_width, client_height};
  AdjustWindowRectEx(&frame, p.style, menu != nullptr, p.ex_style);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  bounds_ = {0, 0, w, h};
  if (!own_font_ && !font()) {
    // "MS Sans Serif" 8 pt: 11 pixels high at 96 pixels per inch.
    own_font_.reset(CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
    set_font(own_font_.get());
  }
  HWND hwnd = handle();
  if (!hwnd) return false;
  if (owner_window) SetWindowLongPtrW(hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner_window));
  // The program's icon, when its resources carry one, for the caption and the
  // task bar. Shared icons belong to the module and are never destroyed.
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (auto [kind, width, height] : {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}, {ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
    if (HANDLE icon = LoadImageW(instance, kIconResource, IMAGE_ICON, GetSystemMetrics(width), GetSystemMetrics(height),
                                 LR_SHARED))
      SendMessageW(hwnd, WM_SETICON, kind, reinterpret_cast<LPARAM>(icon));
  }
  if (menu) {
    SetMenu(hwnd, menu->build());
    std::vector<ACCEL> table;
    std::function<void(MenuItem*)> collect = [&](MenuItem* item) {
      ACCEL a;
      if (item->accelerator(a)) table.push_back(a);
      for (MenuItem* sub : item->items()) collect(sub);
    };
    collect(menu);
    if (!table.empty()) accel_.reset(CreateAcceleratorTableW(table.data(), static_cast<int>(table.size())));
  }
  // The menu bar may wrap, so the frame is fitted to the client size again.
  RECT client;
  GetClientRect(hwnd, &client);
  RECT adjusted{0, 0, client_width, client_height};
  AdjustWindowRectEx(&adjusted, p.style, FALSE, p.ex_style);
  int fw = w + client_width - client.right, fh = h + client_height - client.bottom;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - fw) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - fh) / 2;
  SetWindowPos(hwnd, nullptr, left, top, fw, fh, SWP_NOZORDER | SWP_NOACTIVATE);
  bounds_ = {left, top, left + fw, top + fh};
  realign();
  return true;
}

void Form::show() {
  visible_ = true;
  ShowWindow(handle(), SW_SHOW);
  UpdateWindow(handle());
}

bool Form::focus_next(HWND focus, bool backward) {
  std::vector<HWND> stops;
  for (WinControl* control : tab_order) {
    if (!control || !control->handle_allocated()) continue;
    HWND hwnd = control->handle();
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) stops.push_back(hwnd);
  }
  if (stops.empty()) return false;
  const auto holds = [focus](HWND stop) { return focus == stop || IsChild(stop, focus); };
  const auto at = std::find_if(stops.begin(), stops.end(), holds);
  size_t next;
  if (at == stops.end()) {
    next = backward ? stops.size() - 1 : 0;
  } else {
    const size_t index = static_cast<size_t>(at - stops.begin());
    next = backward ? (index + stops.size() - 1) % stops.size() : (index + 1) % stops.size();
  }
  SetFocus(stops[next]);
  return true;
}

bool Form::dialog_key(WPARAM key) {
  GraphicControl* button = key == VK_RETURN ? default_button : key == VK_ESCAPE ? cancel_button : nullptr;
  if (!button || !button->visible()) return false;
  button->click();
  return true;
}

void Form::show_modal() {
  HWND owner = owner_window;
  if (owner) EnableWindow(owner, FALSE);
  modal_ = true;
  show();
  Application& app = Application::instance();
  while (modal_ && !app.terminated()) {
    if (!app.process_messages()) break;
    if (modal_) WaitMessage();
  }
  modal_ = false;
  if (owner) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
}

void Form::close() {
  // The owner takes input again before this window hides: Windows activates
  // the next window when the active one hides, and a disabled owner would be
  // passed over for some other program's window.
  if (modal_ && owner_window) EnableWindow(owner_window, TRUE);
  if (OnClose) {
    OnClose();
  } else {
    ShowWindow(handle(), SW_HIDE);
    visible_ = false;
  }
  modal_ = false;
}

MenuItem* Form::find_item(UINT id) { return menu ? menu->find(id) : nullptr; }

MenuItem* Form::find_drawn_item(UINT id) {
  MenuItem* item = menu ? menu->find_drawn(id) : nullptr;
  for_each_component([&](Component& c) {
    if (!item && c.is(Kind::menu) && static_cast<Menu&>(c).owner_draw()) item = static_cast<Menu&>(c).find_drawn(id);
  });
  return item;
}

LRESULT Form::default_handler(Message& m) {
  switch (m.msg) {
    case WM_CLOSE:
      close();
      return 0;
    case WM_COMMAND:
      if (m.lparam == 0) {
        MenuItem* item = find_item(LOWORD(m.wparam));
        if (!item) {
          // Items of the form's popup menus.
          for_each_component([&](Component& c) {
            if (!item && c.is(Kind::menu_item)) item = static_cast<MenuItem&>(c).find(LOWORD(m.wparam));
          });
        }
        if (item && item->enabled() && item->OnClick) {
          std::function<void()> command = item->OnClick;
          guard(command);
        }
        return 0;
      }
      break;
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(m.lparam);
      if (m.wparam != 0 || !measure || measure->CtlType != ODT_MENU) break;
      MenuItem* item = find_drawn_item(measure->itemID);
      if (!item) break;
      dc_scope dc(nullptr);
      gdi_object<HFONT> font = create_menu_font();
      HGDIOBJ previous = font ? SelectObject(dc.get(), font.get()) : nullptr;
      const SIZE size =
          default_menu_item_size(dc.get(), widen(item->caption()), widen(item->shortcut()), item->separator());
      int width = size.cx, height = size.cy;
      if (item->OnMeasureItem) {
        auto hook = item->OnMeasureItem;
        hook(*item, dc.get(), width, height);
      }
      if (previous) SelectObject(dc.get(), previous);
      measure->itemWidth = static_cast<UINT>(std::max(width, 0));
      measure->itemHeight = static_cast<UINT>(std::max(height, 0));
      return TRUE;
    }
    case WM_DRAWITEM: {
      auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(m.lparam);
      if (m.wparam != 0 || !draw || draw->CtlType != ODT_MENU) break;
      MenuItem* item = find_drawn_item(draw->itemID);
      if (!item) break;
      if (item->OnAdvancedDrawItem) {
        auto hook = item->OnAdvancedDrawItem;
        hook(*item, draw->hDC, draw->rcItem, draw->itemState);
      } else {
        const int saved = SaveDC(draw->hDC);
        draw_plain_item(*item, draw->hDC, draw->rcItem, draw->itemState);
        RestoreDC(draw->hDC, saved);
      }
      return TRUE;
    }
    default:
      break;
  }
  return CustomControl::default_handler(m);
}

namespace {
// Posted to the application's notice window when a failure is queued; also
// the id of the timer that retries while a menu or move loop runs.
constexpr UINT kShowFailures = WM_APP + 0x2F1;
constexpr UINT_PTR kRetryTimer = 1;
constexpr size_t kMaxPendingFailures = 16;

// True while the thread runs a menu's or a window move's own loop: a modal
// box opened from there would sit under the menu or fight the move.
bool in_system_loop() {
  GUITHREADINFO info{sizeof(info)};
  if (!GetGUIThreadInfo(GetCurrentThreadId(), &info)) return false;
  return info.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE | GUI_INMOVESIZE);
}

bool key_down(int key) { return (GetKeyState(key) & 0x8000) != 0; }
}  // namespace

Application::Application() {
  notice_.on(kShowFailures, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    show_failures();
    return 0;
  });
  notice_.on(WM_TIMER, [this](WPARAM id, LPARAM) -> std::optional<LRESULT> {
    if (id != kRetryTimer) return std::nullopt;
    KillTimer(notice_.hwnd(), kRetryTimer);
    show_failures();
    return 0;
  });
  WindowSpec plan;
  plan.class_name = L"TApplicationNotice";
  plan.style = 0;
  plan.bounds = {0, 0, 0, 0};
  plan.parent = HWND_MESSAGE;
  notice_.create(plan);
}

Application& Application::instance() {
  static Application app;
  return app;
}

bool Application::translate_keys(MSG& msg) {
  if (!msg.hwnd) return false;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  // The main window's shortcuts belong to it alone, and only while nothing
  // runs on top of it: not while a modal window has it disabled, and not in a
  // loop that a handler runs (a long command pumping messages, a modal
  // window's loop), where a shortcut would start a second command inside the
  // first.
  if (main_form_ && main_form_->handle_allocated() && main_form_->accelerators() && dispatch_depth_ == 0 &&
      root == main_form_->handle() && IsWindowEnabled(root) &&
      TranslateAcceleratorW(root, main_form_->accelerators(), &msg))
    return true;
  if (msg.message == WM_SYSKEYUP && msg.wParam == VK_F10 && swallow_f10_release_) {
    swallow_f10_release_ = false;
    return true;
  }
  if ((msg.message == WM_SYSKEYDOWN || msg.message == WM_KEYDOWN) && msg.wParam == VK_F10 && key_down(VK_SHIFT) &&
      !key_down(VK_CONTROL) && !key_down(VK_MENU)) {
    // Shift+F10 asks for the focused control's context menu, as the menu key
    // does. Its release must not then open the menu bar as a lone F10's does.
    swallow_f10_release_ = true;
    SendMessageW(msg.hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(msg.hwnd), -1);
    return true;
  }
  if (msg.message == WM_KEYDOWN && !key_down(VK_CONTROL) && !key_down(VK_MENU) &&
      (msg.wParam == VK_TAB || msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
    auto* form = dynamic_cast<Form*>(WinControl::from_handle(root));
    if (!form || !IsWindowEnabled(root)) return false;
    if (msg.wParam == VK_TAB) return form->focus_next(msg.hwnd, key_down(VK_SHIFT));
    bool used = false;
    guard([&] { used = form->dialog_key(msg.wParam); });
    return used;
  }
  return false;
}

bool Application::dispatch(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
  }
  if (translate_keys(msg)) return true;
  if (msg.message == WM_SYSCHAR && msg.hwnd) {
    // Alt + a character typed in a control is meant for the menu of its
    // top-level window. The default handling in the control would look for a
    // Windows menu there and so miss a painted menu bar, which only the
    // top-level window's procedure knows; that procedure passes what it does
    // not use on to the same default handling.
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (root && root != msg.hwnd) msg.hwnd = root;
  }
  TranslateMessage(&msg);
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  } depth{dispatch_depth_};
  DispatchMessageW(&msg);
  return true;
}

void Application::run() {
  MSG msg;
  while (!terminated_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      terminated_ = true;
      break;
    }
    dispatch(msg);
  }
}

bool Application::process_messages() {
  MSG msg;
  while (!terminated_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (!dispatch(msg)) break;
  return !terminated_;
}

void Application::terminate() {
  terminated_ = true;
  PostQuitMessage(0);
}

void Application::handle_exception(const std::exception& error) {
  message_box(error.what(), title, MB_OK | MB_ICONERROR);
}

void Application::post_failure(std::string text) noexcept {
  try {
    {
      std::lock_guard<std::mutex> lock(failures_mutex_);
      if (failures_.size() >= kMaxPendingFailures ||
          std::find(failures_.begin(), failures_.end(), text) != failures_.end())
        return;
      failures_.push_back(std::move(text));
    }
    PostMessageW(notice_.hwnd(), kShowFailures, 0, 0);
  } catch (...) {
    // Out of memory for the text: nothing more can be done from here.
  }
}

size_t Application::pending_failures() {
  std::lock_guard<std::mutex> lock(failures_mutex_);
  return failures_.size();
}

void Application::show_failures() {
  // A box's own loop may deliver the next notice; the box already showing
  // takes the rest in turn when it closes.
  if (showing_failures_) return;
  if (in_system_loop()) {
    SetTimer(notice_.hwnd(), kRetryTimer, 100, nullptr);
    return;
  }
  showing_failures_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{showing_failures_};
  for (;;) {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(failures_mutex_);
      if (failures_.empty()) break;
      text = std::move(failures_.front());
      failures_.pop_front();
    }
    message_box(text, title, MB_OK | MB_ICONERROR);
  }
}

void report_entry_failure(const std::exception* error) noexcept {
  try {
    const char* text = error ? error->what() : nullptr;
    Application::instance().post_failure(text && *text ? text : "程序内部错误");
  } catch (...) {
    // Nothing more can be done without unwinding into the system's frame.
  }
}

int Application::message_box(const std::string& text, const std::string& caption, UINT flags) {
  HWND owner = main_form_ && main_form_->handle_allocated() ? main_form_->handle() : nullptr;
  // While a modal window has the main window disabled, the box belongs to
  // that window: a box owned by the main window would enable it again when
  // it closes, under the modal window.
  if (owner && !IsWindowEnabled(owner)) {
    HWND popup = GetLastActivePopup(owner);
    if (popup && popup != owner && IsWindowEnabled(popup) && IsWindowVisible(popup)) owner = popup;
  }
  if (notifier_) return notifier_(owner, text, caption, flags);
  return MessageBoxW(owner, widen(text).c_str(), widen(caption).c_str(), flags);
}

bool OpenDialog::execute(HWND owner) {
  std::optional<std::string> chosen;
  if (open_runner) {
    chosen = open_runner(*this, owner);
  } else {
    std::wstring wide_filter = widen(filter);
    for (wchar_t& c : wide_filter)
      if (c == L'|') c = L'\0';
    wide_filter.push_back(L'\0');
    std::wstring buffer(32768, L'\0');
    OPENFILENAMEW ofn{sizeof(ofn)};
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = wide_filter.c_str();
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    // NOCHANGEDIR: browsing must not leave the process's current directory
    // on the evidence disk's folder.
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
    ofn.Flags |= save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
    const std::wstring extension = widen(default_extension);
    if (!extension.empty()) ofn.lpstrDefExt = extension.c_str();
    if (save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn)) chosen = narrow(buffer.c_str());
  }
  if (!chosen) return false;
  file_name = *chosen;
  return true;
}

void OpenDialog::set_runner(Runner runner) { open_runner = std::move(runner); }

ImageList::ImageList(Component* owner, std::string name, int width, int height)
    : Component(owner, std::move(name)), list_(ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 8, 0)) {}

ImageList::~ImageList() {
  if (list_) ImageList_Destroy(list_);
}

int ImageList::add_masked(const Bitmap& picture, COLORREF mask) {
  return ImageList_AddMasked(list_, picture.handle(), mask);
}

int ImageList::count() const { return ImageList_GetImageCount(list_); }

}  // namespace ui
