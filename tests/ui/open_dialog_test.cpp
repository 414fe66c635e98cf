// The real file-open dialog, driven from a timer inside its own loop.
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <gtest/gtest.h>

#include <string>

#include "ui/controls.h"
#include "ui/message_pump.h"
#include "ui/timer.h"
#include "ui/wide.h"

namespace {

std::wstring temp_folder(const wchar_t* stem) {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  wchar_t unique[MAX_PATH];
  GetTempFileNameW(base, stem, 0, unique);  // makes a unique file...
  DeleteFileW(unique);                       // ...whose name becomes the folder
  CreateDirectoryW(unique, nullptr);
  return unique;
}

// A procedure of the system's calling convention, not a converted lambda: on
// 32-bit Windows the two differ.
BOOL CALLBACK visible_dialog(HWND hwnd, LPARAM out) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (std::wstring(name) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(out) = hwnd;
  return FALSE;
}

HWND find_dialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), visible_dialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST(OpenDialog, BrowsingElsewhereLeavesTheCurrentDirectory) {
  const std::wstring start = temp_folder(L"cwd"), evidence = temp_folder(L"evd");
  const std::wstring image = evidence + L"\\disk.img";
  HANDLE file = CreateFileW(image.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(SetCurrentDirectoryW(start.c_str()));

  ui::Component root(nullptr, "root");
  auto* dialog = root.make<ui::OpenDialog>("OpenDialog1");
  dialog->filter = "镜像文件(*.IMG)|*.IMG|所有文件(*.*)|*.*";
  // As a user browses: types the evidence folder where a file name goes and
  // presses Open, which moves the dialog into that folder; then types the
  // image's name there and presses Open again. Gives up (Cancel) after a while.
  int ticks = 0;
  auto* driver = root.make<ui::Timer>("Driver");
  driver->set_interval(50);
  driver->OnTimer = [&] {
    HWND dlg = find_dialog();
    if (!dlg) return;
    ++ticks;
    if (ticks > 100) {
      PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    } else if (ticks == 3) {
      SendMessageW(dlg, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(evidence.c_str()));
      PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    } else if (ticks == 8) {
      SendMessageW(dlg, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(L"disk.img"));
      PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    }
  };
  const bool chosen = dialog->execute(nullptr);
  driver->set_enabled(false);
  wchar_t after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, after);
  SetCurrentDirectoryW(before);
  EXPECT_TRUE(chosen);
  EXPECT_EQ(ui::widen(dialog->file_name), image);
  EXPECT_EQ(std::wstring(after), start) << "the process must not stay in the evidence folder";
  DeleteFileW(image.c_str());
  RemoveDirectoryW(evidence.c_str());
  RemoveDirectoryW(start.c_str());
}

}  // namespace
