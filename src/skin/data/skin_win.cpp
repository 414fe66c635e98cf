#include "skin/data/skin_win.h"

#include <climits>

namespace clip::skin {

int DrawSkinText(HDC dc, std::wstring_view text, const RECT& rect, UINT format) {
  RECT copy = rect;
  const int length = text.size() > size_t(INT_MAX) ? INT_MAX : int(text.size());
  return DrawTextW(dc, text.data(), length, &copy, format);
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
