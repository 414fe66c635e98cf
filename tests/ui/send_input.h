// Keys through the system's input queue, as a keyboard gives them: key
// states (GetKeyState), accelerators and the message loop see real input.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <vector>

namespace clip::test {

inline INPUT key_input(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}

// Presses the keys in order and releases them in reverse: {VK_SHIFT, VK_TAB}
// is Shift+Tab.
inline void chord(std::initializer_list<WORD> keys) {
  std::vector<INPUT> inputs;
  for (WORD k : keys) inputs.push_back(key_input(k, false));
  for (auto it = keys.end(); it != keys.begin();) inputs.push_back(key_input(*--it, true));
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace clip::test
