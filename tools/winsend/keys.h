// Key names for winsend: a portable parser from text such as "alt+f down*2
// enter" to the virtual-key codes to press. No <windows.h> here, so the
// parser is tested natively; winsend.cpp checks the codes against the SDK's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace winsend {

// Virtual-key codes the parser hands out by name (the rest are ASCII letters,
// digits and F-keys).
inline constexpr uint8_t kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12, kVkLeftWin = 0x5B;

// One key press: the modifiers are held down, in order, around the key.
struct Chord {
  std::vector<uint8_t> modifiers;
  uint8_t key = 0;
  // Keys of the navigation block share scan codes with the number pad and
  // need the extended flag to be told apart from it.
  bool extended = false;

  bool operator==(const Chord&) const = default;
};

struct KeysResult {
  std::vector<Chord> chords;
  std::string error;  // empty when the whole text parsed
};

// SPEC: chords separated by spaces; a chord is key names joined by '+', every
// name but the last a modifier (ctrl, alt, shift, win), optionally followed by
// "*N" (1 to 99) to press it N times. Names are case-insensitive. A modifier
// may stand alone ("alt" taps Alt, which selects a menu bar).
KeysResult parse_keys(std::string_view spec);

}  // namespace winsend
