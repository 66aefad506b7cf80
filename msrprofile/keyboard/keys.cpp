#include "msrprofile/keyboard/keys.h"

#include <algorithm>

#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/keyboard/layout_tables.h"

namespace msr::profile {
namespace {

constexpr std::uint8_t kEnter = 0x1C, kTab = 0x0F, kSpace = 0x39;

bool modifier(const KeyEvent& e) {
  switch (e.vk) {
    case kVkShift:
    case kVkControl:
    case kVkMenu:
    case 0x14:
    case 0x90:
    case 0x91:  // Caps Lock, Num Lock, Scroll Lock
    case 0x5B:
    case 0x5C:  // the Windows keys
    case 0xA0:
    case 0xA1:
    case 0xA2:
    case 0xA3:
    case 0xA4:
    case 0xA5:
      return true;
    default:
      return false;
  }
}

constexpr std::uint32_t kEnhancedKey = 0x100;

// A key pressed, or a character typed as an Alt code (Alt held, the character's number on
// the keypad), which no layout changes.
struct Press {
  Keystroke key;
  char32_t code = 0;
};

// The keypad's digit on `scan`, or -1.
int keypad_digit(const KeyEvent& e) {
  if ((e.control & kEnhancedKey) != 0) return -1;
  static constexpr std::uint16_t kPad[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B,
                                             0x4C, 0x4D, 0x47, 0x48, 0x49};
  for (int d = 0; d < 10; ++d) {
    if (kPad[d] == e.scan) return d;
  }
  return -1;
}

// The keys pressed, in order, with the modifiers held at each. A key that gives two
// characters (a dead key's accent, then its own) comes as two down events before its up
// event: that is one press. A reader never holds a key down long enough to repeat it.
// A reader set to emulate Alt codes types each character as its number on the keypad with
// left Alt held; ASCII is the same in every code page, and beyond it the host's own
// character for the code is taken.
CardVector<Press> strokes_of(const KeyEvents& events) {
  CardVector<Press> keys;
  std::uint16_t held = 0;
  bool alt_code = false;
  int digits = 0;
  unsigned value = 0;
  for (const KeyEvent& e : events) {
    if (e.vk == kVkMenu && (e.control & kRightAltPressed) == 0) {
      if (e.down && !alt_code) {
        alt_code = true;
        digits = 0;
        value = 0;
      } else if (!e.down && alt_code) {
        alt_code = false;
        const char32_t c = value >= 1 && value < 0x80 ? value : e.ch;
        if (digits > 0 && c != 0) keys.push_back(Press{{}, c});
      }
      continue;
    }
    if (alt_code && keypad_digit(e) >= 0) {
      if (e.down) {
        value = (value * 10 + static_cast<unsigned>(keypad_digit(e))) % 256;
        ++digits;
      }
      continue;
    }
    if (modifier(e) || e.scan == 0 || e.scan > 0xFF) continue;
    if (!e.down) {
      if (e.scan == held) held = 0;
      continue;
    }
    if (e.scan == held) continue;
    held = e.scan;
    const bool alt = (e.control & (kRightAltPressed | kLeftAltPressed)) != 0;
    const bool ctrl = (e.control & (kRightCtrlPressed | kLeftCtrlPressed)) != 0;
    keys.push_back(Press{Keystroke{static_cast<std::uint8_t>(e.scan),
                                   (e.control & kShiftPressed) != 0, alt && ctrl}});
  }
  return keys;
}

// Keystrokes read through a layout, as Windows types them, with Enter, Tab and Alt codes
// (the same on every layout) between the runs of keys the layout tables hold.
CardText type_through(int lang, const CardVector<Press>& keys) {
  CardText out;
  CardVector<Keystroke> run;
  for (const Press& p : keys) {
    const Keystroke& k = p.key;
    if (p.code != 0 || ((k.scan == kEnter || k.scan == kTab) && !k.altgr)) {
      out += type_keys(lang, run);
      run.clear();
      out += p.code != 0 ? p.code : k.scan == kEnter ? U'\r' : U'\t';
    } else {
      run.push_back(k);
    }
  }
  out += type_keys(lang, run);
  return out;
}

bool single_plain_key(int lang, const std::vector<Keystroke>& keys) {
  return keys.size() == 1 && !layout_key(lang, keys[0]).dead;
}

// The keys that made `received` on a host with layout `host`, read again through the
// reader's language: the text the reader meant, if that host is the explanation. False
// when the host's layout can't have made some character. A dead key's accent followed by a
// character it doesn't combine with was that dead key and that character's key, as Windows
// gives them; alone, it was the dead key and Space.
bool read_back(std::u32string_view received, int host, int reader, CardText* meant) {
  CardVector<Press> keys;
  for (std::size_t i = 0; i < received.size(); ++i) {
    const char32_t c = received[i];
    if (c == U'\r' || c == U'\t') {
      keys.push_back(Press{Keystroke{c == U'\r' ? kEnter : kTab}});
      continue;
    }
    std::vector<Keystroke> k = keys_for(host, c);
    if (k.empty()) return false;
    if (k.size() == 2 && k[1].scan == kSpace && i + 1 < received.size()) {
      const std::vector<Keystroke> next = keys_for(host, received[i + 1]);
      if (single_plain_key(host, next) && compose(host, c, received[i + 1]) == 0) {
        k[1] = next[0];
        ++i;
      }
    }
    for (const Keystroke& one : k) keys.push_back(Press{one});
  }
  *meant = type_through(reader, keys);
  return true;
}

std::string unknown_advice(std::string_view klid, int reader_lang) {
  return unknown_layout_advice(klid.empty() ? std::string_view("not known") : klid, reader_lang);
}

std::string names_of(const std::vector<int>& langs) {
  std::string text;
  for (std::size_t i = 0; i < langs.size(); ++i) {
    if (i > 0) text += i + 1 == langs.size() ? " or " : ", ";
    text += keyboard_layout(langs[i]).windows;
  }
  return text;
}

bool has(const std::vector<int>& v, int x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

}  // namespace

const char* finding_name(LayoutFinding::Kind k) {
  switch (k) {
    case LayoutFinding::Kind::fits:
      return "fits";
    case LayoutFinding::Kind::host_layout:
      return "host_layout";
    case LayoutFinding::Kind::none_of_eight:
      return "none_of_eight";
    case LayoutFinding::Kind::ambiguous:
      return "ambiguous";
    case LayoutFinding::Kind::not_layout:
      return "not_layout";
  }
  return "?";
}

Typed decode_keys(const KeyEvents& events, int reader_lang) {
  Typed t;
  t.intended = type_through(reader_lang, strokes_of(events));
  for (const KeyEvent& e : events) {
    // An Alt code's character comes with the release of Alt.
    if ((e.down || e.vk == kVkMenu) && e.ch != 0) t.received += e.ch;
  }
  return t;
}

char32_t pending_accent(const KeyEvents& events, int host) {
  const CardVector<Press> keys = strokes_of(events);
  // Enter, Tab and Alt codes end what a dead key waits for.
  auto last = std::find_if(keys.rbegin(), keys.rend(), [](const Press& p) {
    return p.code != 0 || ((p.key.scan == kEnter || p.key.scan == kTab) && !p.key.altgr);
  });
  CardVector<Keystroke> run;
  for (auto it = last.base(); it != keys.end(); ++it) run.push_back(it->key);
  return pending_accent(host, run);
}

LayoutFinding diagnose_keys(const KeyEvents& events, int reader_lang, const Validity& valid,
                            std::string_view host_klid) {
  using Kind = LayoutFinding::Kind;
  LayoutFinding f;
  Typed t = decode_keys(events, reader_lang);
  struct Wiper {
    Typed& t;
    ~Wiper() {
      wipe(t.intended);
      wipe(t.received);
    }
  } wiper{t};
  if (valid(t.received)) return f;
  const KeyboardLayout* named = host_klid.empty() ? nullptr : layout_for_klid(host_klid);
  if (!host_klid.empty() && named == nullptr) {
    f.kind = Kind::none_of_eight;
    f.advice = unknown_advice(host_klid, reader_lang);
    return f;
  }
  // The scan codes don't depend on the host's layout: the layouts that turn these keys
  // into exactly these characters are the host's.
  const CardVector<Press> keys = strokes_of(events);
  std::vector<int> hosts;
  for (int h = 0; h < kLayoutCount; ++h) {
    CardText typed = type_through(h, keys);
    // A dead key left waiting at the end is in what the layout types, not yet in what
    // arrived.
    if (typed == t.received ||
        (pending_accent(events, h) != 0 && typed.substr(0, typed.size() - 1) == t.received)) {
      hosts.push_back(h);
    }
    wipe(typed);
  }
  if (hosts.empty()) {
    f.kind = Kind::none_of_eight;
    f.advice = unknown_advice(host_klid, reader_lang);
    return f;
  }
  if (has(hosts, reader_lang)) {
    f.kind = Kind::not_layout;
    f.advice =
        "what arrived is not valid track data, and the terminal's layout types the reader's "
        "keys as the reader means them: the keyboard layout is not the problem";
    return f;
  }
  if (named != nullptr && has(hosts, named->lang)) {
    f.host_lang = named->lang;
  } else if (hosts.size() == 1) {
    f.host_lang = hosts[0];
  } else {
    f.kind = Kind::ambiguous;
    f.advice = "the reader types for " + language_name(reader_lang) +
               " but the terminal makes other characters of its keys, as the " + names_of(hosts) +
               " layout does: set keyboard_language to the terminal's layout and write it";
    return f;
  }
  const std::string advice = layout_advice(keyboard_layout(f.host_lang), reader_lang);
  if (!valid(t.intended)) {
    f.kind = Kind::not_layout;
    f.advice =
        "what arrived is not valid track data even as the reader meant it, so the layout "
        "is not the whole problem; besides, " +
        advice;
    f.host_lang = -1;
    return f;
  }
  f.kind = Kind::host_layout;
  f.repaired = t.intended;
  f.advice = advice;
  return f;
}

LayoutFinding diagnose_text(std::u32string_view received, int reader_lang, const Validity& valid,
                            std::string_view host_klid) {
  using Kind = LayoutFinding::Kind;
  LayoutFinding f;
  if (valid(received)) return f;
  const KeyboardLayout* named = host_klid.empty() ? nullptr : layout_for_klid(host_klid);
  if (!host_klid.empty() && named == nullptr) {
    f.kind = Kind::none_of_eight;
    f.advice = unknown_advice(host_klid, reader_lang);
    return f;
  }
  std::vector<int> hosts;
  std::vector<CardText> meant(kLayoutCount);
  for (int h = 0; h < kLayoutCount; ++h) {
    if (h == reader_lang) continue;
    if (read_back(received, h, reader_lang, &meant[h]) && valid(meant[h])) hosts.push_back(h);
  }
  int host = -1;
  if (named != nullptr) {
    if (has(hosts, named->lang)) host = named->lang;
  } else if (hosts.size() == 1) {
    host = hosts[0];
  } else if (hosts.size() > 1) {
    f.kind = Kind::ambiguous;
    f.advice = "what arrived becomes valid track data when read back through the " +
               names_of(hosts) +
               " layout, but the characters alone don't tell which: set "
               "keyboard_language to the terminal's layout and write it";
  }
  if (host >= 0) {
    f.kind = Kind::host_layout;
    f.host_lang = host;
    f.repaired = meant[host];
    f.advice = layout_advice(keyboard_layout(host), reader_lang);
  } else if (f.kind != Kind::ambiguous) {
    f.kind = Kind::not_layout;
    f.advice =
        "what arrived is not valid track data, and reading it back through another "
        "keyboard layout doesn't make it valid: the keyboard layout is not the problem";
  }
  for (CardText& m : meant) wipe(m);
  return f;
}

}  // namespace msr::profile
