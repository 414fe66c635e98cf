// winsend: sends keyboard and mouse input to a top-level window, for scripts
// that drive a program running under Wine (screenshots of menus and dialogs).
//
//   winsend.exe [--desktop NAME] [--class NAME] [--title TEXT] [--timeout SECONDS]
//               ACTION...
//
// Actions, run in order, each followed by a pause of 300 ms:
//   --keys SPEC        key chords such as "alt+f", "down*2 enter" (see keys.h)
//   --click X,Y        left click at X,Y from the window's top-left corner
//   --right-click X,Y  the same with the right button
//   --sleep MS         a further pause
// The window (visible, with that class and/or exact title) is brought to the
// foreground first. The input goes through SendInput, as from the hardware,
// so menus and dialogs react as to a user.
// Exit status 0 when all was sent, 1 when no such window appeared before the
// timeout or input could not be sent, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "winsend/keys.h"
#include "winwait/find_window.h"

static_assert(winsend::kVkShift == VK_SHIFT && winsend::kVkControl == VK_CONTROL && winsend::kVkMenu == VK_MENU &&
              winsend::kVkLeftWin == VK_LWIN);

namespace {

using winwait::match;
using winwait::Query;

struct Action {
  enum Kind { keys, click, right_click, sleep } kind;
  std::vector<winsend::Chord> chords;
  POINT point{};
  DWORD milliseconds = 0;
};

std::string narrow(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<size_t>(size - 1) : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  return out;
}

bool parse_point(const std::wstring& text, POINT& point) {
  int x = 0, y = 0;
  wchar_t rest = 0;
  if (swscanf(text.c_str(), L"%d,%d%lc", &x, &y, &rest) != 2) return false;
  point = {x, y};
  return true;
}

INPUT key_input(const winsend::Chord& chord, uint8_t vk, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  if (vk == chord.key && chord.extended) input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  return input;
}

bool send(std::vector<INPUT>& inputs) {
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

bool send_chord(const winsend::Chord& chord) {
  std::vector<INPUT> inputs;
  for (uint8_t modifier : chord.modifiers) inputs.push_back(key_input(chord, modifier, false));
  inputs.push_back(key_input(chord, chord.key, false));
  inputs.push_back(key_input(chord, chord.key, true));
  for (auto it = chord.modifiers.rbegin(); it != chord.modifiers.rend(); ++it)
    inputs.push_back(key_input(chord, *it, true));
  return send(inputs);
}

bool send_click(HWND window, POINT offset, bool right) {
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return false;
  const POINT target{rect.left + offset.x, rect.top + offset.y};
  // An absolute move in the 0..65535 range over the primary screen, rounded
  // up so that the hardware's scaling back lands on the target pixel. The
  // pointer moves in its own event first, as a hand would move it.
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return false;
  std::vector<INPUT> inputs(3);
  for (INPUT& input : inputs) input.type = INPUT_MOUSE;
  inputs[0].mi.dx = static_cast<LONG>((target.x * 65536LL + width - 1) / width);
  inputs[0].mi.dy = static_cast<LONG>((target.y * 65536LL + height - 1) / height);
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  inputs[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
  inputs[2].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
  std::vector<INPUT> move(inputs.begin(), inputs.begin() + 1), buttons(inputs.begin() + 1, inputs.end());
  // Under Wine the first move after the display started can be undone by the
  // X pointer's own motion event; the move is repeated until it holds.
  for (int attempt = 0;; ++attempt) {
    if (!send(move)) return false;
    Sleep(50);
    POINT at{};
    if (GetCursorPos(&at) && at.x == target.x && at.y == target.y) break;
    if (attempt == 20) {
      std::fprintf(stderr, "winsend: the pointer stays at %ld,%ld instead of %ld,%ld\n", at.x, at.y, target.x,
                   target.y);
      return false;
    }
  }
  return send(buttons);
}

int usage(const std::string& message) {
  std::fprintf(stderr, "winsend: %s\n", message.c_str());
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Query query;
  double timeout_seconds = 60;
  std::wstring desktop;
  std::vector<Action> actions;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (i + 1 >= argc) return usage("missing value after " + narrow(arg));
    const std::wstring value = argv[++i];
    if (arg == L"--desktop") {
      desktop = value;
    } else if (arg == L"--class") {
      query.class_name = value;
    } else if (arg == L"--title") {
      query.title = value;
    } else if (arg == L"--timeout") {
      timeout_seconds = std::wcstod(value.c_str(), nullptr);
    } else if (arg == L"--keys") {
      winsend::KeysResult parsed = winsend::parse_keys(narrow(value));
      if (!parsed.error.empty()) return usage(parsed.error);
      actions.push_back({Action::keys, std::move(parsed.chords)});
    } else if (arg == L"--click" || arg == L"--right-click") {
      Action action{arg == L"--click" ? Action::click : Action::right_click};
      if (!parse_point(value, action.point)) return usage("bad point '" + narrow(value) + "' (want X,Y)");
      actions.push_back(action);
    } else if (arg == L"--sleep") {
      Action action{Action::sleep};
      action.milliseconds = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
      actions.push_back(action);
    } else {
      return usage("unknown option " + narrow(arg));
    }
  }
  if (query.class_name.empty() && query.title.empty()) return usage("say which window (--class or --title)");
  if (actions.empty()) return usage("nothing to send");

  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_seconds * 1000);
  if (!desktop.empty()) {
    // Input goes to the desktop of the sending thread, which has no windows
    // yet and so may still move to the program's desktop.
    HDESK handle = nullptr;
    while (!(handle = OpenDesktopW(desktop.c_str(), 0, FALSE, GENERIC_ALL))) {
      if (GetTickCount64() >= deadline) return 1;
      Sleep(100);
    }
    if (!SetThreadDesktop(handle)) return 1;
  }
  while (!query.found) {
    EnumWindows(&match, reinterpret_cast<LPARAM>(&query));
    if (query.found) break;
    if (GetTickCount64() >= deadline) {
      std::fprintf(stderr, "winsend: no such window\n");
      return 1;
    }
    Sleep(100);
  }
  SetForegroundWindow(query.found);
  Sleep(100);

  for (const Action& action : actions) {
    bool sent = true;
    switch (action.kind) {
      case Action::keys:
        for (const winsend::Chord& chord : action.chords) {
          sent = sent && send_chord(chord);
          // Each chord gets its own turn: a key that opens a menu must have
          // opened it before the next one arrives.
          Sleep(150);
        }
        break;
      case Action::click: sent = send_click(query.found, action.point, false); break;
      case Action::right_click: sent = send_click(query.found, action.point, true); break;
      case Action::sleep: Sleep(action.milliseconds); break;
    }
    if (!sent) {
      std::fprintf(stderr, "winsend: input was not sent (error %lu)\n", GetLastError());
      return 1;
    }
    Sleep(300);
  }
  return 0;
}
