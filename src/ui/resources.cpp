#include "ui/resources.h"

namespace ui {

std::span<const uint8_t> resource_bytes(const wchar_t* name, const wchar_t* type, HMODULE module) {
  if (!module) module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, name, type);
  if (!info) return {};
  HGLOBAL handle = LoadResource(module, info);
  const void* bytes = handle ? LockResource(handle) : nullptr;
  if (!bytes) return {};
  return {static_cast<const uint8_t*>(bytes), SizeofResource(module, info)};
}

Bitmap load_jpeg_resource(const wchar_t* name, HMODULE module) {
  const std::span<const uint8_t> bytes = resource_bytes(name, MAKEINTRESOURCEW(10) /* RT_RCDATA */, module);
  if (bytes.empty()) return Bitmap();
  return decode_jpeg(bytes.data(), bytes.size());
}

Bitmap load_bitmap_resource(const wchar_t* name, HMODULE module) {
  if (!module) module = GetModuleHandleW(nullptr);
  gdi_object<HBITMAP> loaded(static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!loaded) return Bitmap();
  BITMAP info{};
  if (!GetObjectW(loaded.get(), sizeof(info), &info) || info.bmWidth <= 0 || info.bmHeight == 0) return Bitmap();
  Bitmap out(info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight);
  if (out.empty()) return out;
  // Copied through a DC, which converts any depth to the 24-bit top-down rows.
  HDC screen = GetDC(nullptr);
  HDC from = CreateCompatibleDC(screen);
  HDC to = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old_from = SelectObject(from, loaded.get());
  HGDIOBJ old_to = SelectObject(to, out.handle());
  BitBlt(to, 0, 0, out.width(), out.height(), from, 0, 0, SRCCOPY);
  SelectObject(from, old_from);
  SelectObject(to, old_to);
  DeleteDC(from);
  DeleteDC(to);
  return out;
}

}  // namespace ui
