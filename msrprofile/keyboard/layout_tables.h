// What each of the reader's eight keyboard languages makes of a key, and the other way
// round: the keys that make a character. The tables are made at build time from xkb-data
// (profile/layout_gen), so that they need no Windows to run on; the dead keys behave as
// Windows makes them behave (profile/layout_gen/windows_rules.h). Usable without any of
// msrprofile's state (the stand-in that types a swipe into a console links them).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "msrprofile/card_memory.h"

namespace msr::profile {

// A key as the reader presses it: its PC scan code (set 1; Windows' wVirtualScanCode,
// and Linux's evdev key code for the main block) and the modifiers held.
struct Keystroke {
  std::uint8_t scan = 0;
  bool shift = false;
  bool altgr = false;
};

// What a layout makes of a key: a character (0: none), or a dead key whose spacing
// accent is `ch`.
struct KeyResult {
  char32_t ch = 0;
  bool dead = false;
};

// lang: a reader keyboard language index 0..7 (keyboard_layout(lang) in
// keyboard_layouts.h names its Windows layout, KLID and xkb name). Any other
// index, or a key outside the main block, gives nothing.
KeyResult layout_key(int lang, Keystroke k);

// The keystrokes that make `c` in layout `lang`, preferring no AltGr and no dead key; a
// character that only a dead key gives (German "^") is the dead key then Space.
// Empty: the layout can't type it.
std::vector<Keystroke> keys_for(int lang, char32_t c);

// A dead key of layout `lang` (spacing accent `accent`) followed by a key that makes
// `next`: the composed character, or 0 when the two don't combine there (Windows then
// gives the accent, then `next`). Followed by Space, a dead key gives its accent.
char32_t compose(int lang, char32_t accent, char32_t next);

// Keystrokes read through layout `lang` as Windows types them: a dead key waits for the
// next key, which it combines with or follows; a dead key left waiting at the end is
// given as its accent, so that nothing typed is lost from what is shown.
CardText type_keys(int lang, std::span<const Keystroke> keys);

// The accent of a dead key that `keys` leave waiting on layout `lang` (Windows shows
// nothing for it until the next key), or 0.
char32_t pending_accent(int lang, std::span<const Keystroke> keys);

}  // namespace msr::profile
