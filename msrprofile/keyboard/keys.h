// Key events, read two ways: what the reader meant (the keys it pressed, read through its
// keyboard language) and what the host received (the characters its layout made of them),
// and which of the eight layouts explains a swipe that arrived garbled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "msrprofile/card_memory.h"

namespace msr::profile {

// dwControlKeyState bits, with their Win32 values.
inline constexpr std::uint32_t kRightAltPressed = 0x01;
inline constexpr std::uint32_t kLeftAltPressed = 0x02;
inline constexpr std::uint32_t kRightCtrlPressed = 0x04;
inline constexpr std::uint32_t kLeftCtrlPressed = 0x08;
inline constexpr std::uint32_t kShiftPressed = 0x10;

// Virtual-key codes of the modifiers, which press no character of their own.
inline constexpr std::uint16_t kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12;

// A key event as ReadConsoleInputW gives it; the evdev decoder makes the same.
struct KeyEvent {
  bool down = true;
  std::uint16_t vk = 0;       // wVirtualKeyCode
  std::uint16_t scan = 0;     // wVirtualScanCode
  std::uint32_t control = 0;  // dwControlKeyState; AltGr is right Alt and left Ctrl
  char32_t ch = 0;            // uChar: what the host's layout made of it; 0 nothing
};
using KeyEvents = CardVector<KeyEvent>;

// What the reader meant (its keys read through its keyboard language) and what the host
// received (the events' characters, dead keys as Windows gives them).
struct Typed {
  CardText intended, received;
};
Typed decode_keys(const KeyEvents& events, int reader_lang);

struct LayoutFinding {
  enum class Kind {
    fits,           // what arrived is valid as it is
    host_layout,    // valid once read back through the layout host_lang: advice says so
    none_of_eight,  // the host's layout is none of the eight (klid known, or no fit)
    ambiguous,      // characters alone: more than one layout fits (none is named)
    not_layout      // no layout makes it valid: not a layout problem
  } kind = Kind::fits;
  int host_lang = -1;
  CardText repaired;   // host_layout: the text the reader meant
  std::string advice;  // for a person; layout_advice() / unknown_layout_advice()
};
const char* finding_name(LayoutFinding::Kind k);  // "fits", "host_layout", ...

using Validity = std::function<bool(std::u32string_view)>;  // the swipe parser's verdict

// host_klid: the host's layout as GetKeyboardLayoutNameA names it, where the platform
// tells; empty where it doesn't. It names the layout when the keys alone fit several, and
// a layout that is none of the eight is reported as such.
// The accent of a dead key the events end with, still waiting on the host layout `host`
// (the console has shown nothing for it), or 0.
char32_t pending_accent(const KeyEvents& events, int host);

LayoutFinding diagnose_keys(const KeyEvents& events, int reader_lang, const Validity& valid,
                            std::string_view host_klid = {});
LayoutFinding diagnose_text(std::u32string_view received, int reader_lang, const Validity& valid,
                            std::string_view host_klid = {});

}  // namespace msr::profile
