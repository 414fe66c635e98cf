// Pictures that travel inside the program as resources.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

#include "ui/controls.h"

namespace ui {

// The bytes of a resource of the module (the program when null); empty when
// it is missing.
std::span<const uint8_t> resource_bytes(const wchar_t* name, const wchar_t* type, HMODULE module = nullptr);

// An RCDATA resource holding a JPEG, decoded; an empty bitmap when the
// resource is missing or is no JPEG.
Bitmap load_jpeg_resource(const wchar_t* name, HMODULE module = nullptr);

// A BITMAP resource as a 24-bit bitmap; empty when missing.
Bitmap load_bitmap_resource(const wchar_t* name, HMODULE module = nullptr);

}  // namespace ui
