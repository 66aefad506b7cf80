// The eight keyboard languages a reader can type for, the Windows layout each one matches
// and its layout identifier (KLID), and what to tell a technician when the terminal's
// layout and the reader's language disagree.
#pragma once

#include <string>
#include <string_view>

namespace msr::profile {

struct KeyboardLayout {
  int lang;             // the reader's keyboard language index (kq2 bits 0..3)
  const char* windows;  // the Windows layout's name
  const char* klid;     // its KLID, as GetKeyboardLayoutNameA gives it
  const char* xkb;      // the same layout in xkb-data: "layout" or "layout(variant)"
};

inline constexpr int kLayoutCount = 8;

// By language index: USA, Poland(214), German, Spanish, Italian, French, Holland, Portugal.
const KeyboardLayout& keyboard_layout(int lang);

// The layout a KLID names, or null for a layout none of the eight matches. Case does not
// matter; Wine's 00000C0A (Spanish, modern sort) is Spanish too.
const KeyboardLayout* layout_for_klid(std::string_view klid);

// The language a person names: as profiles name it ("Holland") or by its Windows layout
// ("Dutch"), in any case; -1 for none of the eight.
int language_named(std::string_view name);

// The reader's language name ("German"), or "index N" for the indexes without a name.
std::string language_name(int lang);

// "this terminal types with the German layout (00000407) but the reader types for USA:
// set keyboard_language = "German" in the profile (or choose German in the window) and
// write it"
std::string layout_advice(const KeyboardLayout& host, int reader_lang);

// For a terminal whose layout is none of the eight.
std::string unknown_layout_advice(std::string_view klid, int reader_lang);

}  // namespace msr::profile
