#include "skin/data/skin_win.h"

#include <climits>

#include "skin/paint/paint_win.h"

namespace clip::skin {

int DrawSkinText(HDC dc, std::wstring_view text, const RECT& rect, UINT format) {
  RECT copy = rect;
  const int length = text.size() > size_t(INT_MAX) ? INT_MAX : int(text.size());
  return DrawTextW(dc, text.data(), length, &copy, format);
}

ui::gdi_object<HBITMAP> bitmap_from_pixels(const Pixels24& pixels) {
  if (pixels.empty()) return {};
  uint32_t* out = nullptr;
  ui::gdi_object<HBITMAP> bitmap = paint::create_dib(pixels.width, pixels.height, &out);
  if (!bitmap || !out) return {};
  for (int y = 0; y < pixels.height; ++y)
    for (int x = 0; x < pixels.width; ++x) out[size_t(y) * size_t(pixels.width) + size_t(x)] = pixels.rgb(x, y);
  return bitmap;
}

bool load_skin_stream_resource(TSkinData& data, HMODULE module) {
  if (!module) module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, L"SKINSTREAM", MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!info) return false;
  HGLOBAL handle = LoadResource(module, info);
  const DWORD size = SizeofResource(module, info);
  const void* bytes = handle ? LockResource(handle) : nullptr;
  if (!bytes) return false;
  return data.read_skin_stream_property(std::span(static_cast<const uint8_t*>(bytes), size));
}

HBITMAP load_menu_glyphs(HMODULE module) {
  if (!module) module = GetModuleHandleW(nullptr);
  return static_cast<HBITMAP>(LoadImageW(module, L"MERIVALMENU", IMAGE_BITMAP, 0, 0, LR_MONOCHROME));
}

}  // namespace clip::skin
