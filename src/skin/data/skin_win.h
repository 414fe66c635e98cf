// Win32 glue of the skin data: the skin text drawing, and the skin stream and
// menu glyphs carried as resources of the program.
#pragma once

#include <windows.h>

#include <string_view>

#include "skin/data/skin_data.h"
#include "ui/handles.h"

namespace clip::skin {

// Draws wide text with DrawText semantics on a copy of rect, so the caller's
// rectangle never changes (a DT_CALCRECT call gets nothing back); returns
// what DrawTextW returns.
int DrawSkinText(HDC dc, std::wstring_view text, const RECT& rect, UINT format);

// A skin bitmap as a top-down 32-bit DIB section; empty for an empty one.
ui::gdi_object<HBITMAP> bitmap_from_pixels(const Pixels24& pixels);

// Reads the "SKINSTREAM" RCDATA resource (a 32-bit count, then the skin
// stream) into data and loads it. False when the resource is missing or the
// skin is rejected.
bool load_skin_stream_resource(TSkinData& data, HMODULE module = nullptr);

// The 64 x 16 monochrome "MERIVALMENU" bitmap of four 16 x 16 menu glyphs
// (white is transparent); the caller owns the handle.
HBITMAP load_menu_glyphs(HMODULE module = nullptr);

}  // namespace clip::skin
