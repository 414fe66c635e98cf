// The system's own words for an error code, in the user's language.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

// "拒绝访问。" on a Chinese system for ERROR_ACCESS_DENIED; "错误 N" when the
// system has no text for the code.
std::string system_message(DWORD code);

}  // namespace ui
