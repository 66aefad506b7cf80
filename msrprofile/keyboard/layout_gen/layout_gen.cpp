// Writes the keyboard-layout tables msrprofile carries: for each of the reader's eight
// keyboard languages, what every key of the main block gives plain, with Shift, with AltGr
// and with Shift+AltGr, and what a dead key makes of the character that follows it.
//
// The layouts are read from the machine's xkb-data through libxkbcommon (model pc105),
// the compositions from the en_US.UTF-8 Compose file, so that no layout is ever typed in
// by hand; windows_rules.h narrows them to what a Windows host does. Windows and Wine
// can't be asked: under Wine every layout answers as US.
//
//   layout_gen OUTPUT.inc
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/keyboard/layout_gen/windows_rules.h"

namespace {

// Set-1 scan codes of the keys a reader presses, which are also the evdev key codes; an
// xkb keycode is the evdev code plus 8. Modifiers, the keypad and the function keys are
// left out: a reader presses none of them for a character, and keeping the keypad in
// would offer "*" and "+" without Shift.
bool main_block(int scan) {
  if (scan == 0x56) return true;  // the key between left Shift and Z on 105-key keyboards
  if (scan < 0x01 || scan > 0x39) return false;
  return scan != 0x1D && scan != 0x2A && scan != 0x36 && scan != 0x37 && scan != 0x38;
}
constexpr int kScanCount = 0x57;
constexpr int kKeyLeftShift = 42 + 8, kKeyRightAlt = 100 + 8, kKeySpace = 57 + 8;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "layout_gen: %s\n", what.c_str());
  std::exit(1);
}

// The one character `s` holds in UTF-8; 0 for none or more than one (a letter and a
// combining accent is no character a key gives).
char32_t one_code_point(const char* s) {
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  if (u[0] < 0x80) return u[0] != 0 && u[1] == 0 ? u[0] : 0;
  int n = u[0] >= 0xF0 ? 3 : u[0] >= 0xE0 ? 2 : 1;
  char32_t c = u[0] & (0x3F >> n);
  for (int i = 1; i <= n; ++i) {
    if ((u[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (u[i] & 0x3F);
  }
  return u[n + 1] == 0 ? c : 0;  // one character, or none
}

bool is_dead(xkb_keysym_t ks) {
  char name[64];
  return xkb_keysym_get_name(ks, name, sizeof name) > 0 && std::strncmp(name, "dead_", 5) == 0;
}

// What the Compose file makes of two keysyms, as one character (0: nothing, or more).
char32_t compose_pair(xkb_compose_table* table, xkb_keysym_t a, xkb_keysym_t b) {
  xkb_compose_state* st = xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS);
  xkb_compose_state_feed(st, a);
  xkb_compose_state_feed(st, b);
  char32_t c = 0;
  if (xkb_compose_state_get_status(st) == XKB_COMPOSE_COMPOSED) {
    char buf[16];
    if (xkb_compose_state_get_utf8(st, buf, sizeof buf) > 0) c = one_code_point(buf);
  }
  xkb_compose_state_unref(st);
  return c;
}

// The next character of a UTF-8 string, moving past it.
char32_t next_code_point(const char** s) {
  const auto* u = reinterpret_cast<const unsigned char*>(*s);
  const int n = u[0] < 0x80 ? 0 : u[0] >= 0xF0 ? 3 : u[0] >= 0xE0 ? 2 : 1;
  char32_t c = n == 0 ? u[0] : u[0] & (0x3F >> n);
  for (int i = 1; i <= n; ++i) c = (c << 6) | (u[i] & 0x3F);
  *s += n + 1;
  return c;
}

int layout_index(const char* xkb) {
  for (int l = 0; l < msr::profile::kLayoutCount; ++l) {
    if (std::strcmp(msr::profile::keyboard_layout(l).xkb, xkb) == 0) return l;
  }
  fail(std::string("no layout ") + xkb);
}

struct Entry {
  char32_t ch = 0;
  bool dead = false;
  xkb_keysym_t sym = 0;
};

constexpr int kLayouts = msr::profile::kLayoutCount;

using KeyLevels = std::vector<Entry>;       // plain, Shift, AltGr, Shift+AltGr
using LayoutKeys = std::vector<KeyLevels>;  // by scan code

// Everything the generator learns before it writes, filled in step by step.
struct Tables {
  std::vector<LayoutKeys> keys =
      std::vector<LayoutKeys>(kLayouts, LayoutKeys(kScanCount, KeyLevels(4)));
  std::set<xkb_keysym_t> dead_syms;  // the dead keys of every layout
  std::vector<std::set<xkb_keysym_t>> dead_in = std::vector<std::set<xkb_keysym_t>>(kLayouts);
  std::map<xkb_keysym_t, char32_t> accent_of;                     // a dead key's spacing accent
  std::map<std::tuple<int, char32_t, char32_t>, char32_t> pairs;  // {layout, accent, base}
};

struct Xkb {
  xkb_context* ctx = nullptr;
  xkb_compose_table* compose = nullptr;
};

Xkb open_xkb() {
  Xkb x;
  x.ctx = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (x.ctx == nullptr) fail("no xkb context");
  x.compose = xkb_compose_table_new_from_locale(x.ctx, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
  if (x.compose == nullptr) fail("no en_US.UTF-8 Compose file (install libx11-data)");
  return x;
}

// The keymap of a layout named as xkb names it, "layout" or "layout(variant)".
xkb_keymap* load_keymap(xkb_context* ctx, const std::string& xkb_name) {
  std::string layout = xkb_name, variant;
  if (auto p = xkb_name.find('('); p != std::string::npos) {
    layout = xkb_name.substr(0, p);
    variant = xkb_name.substr(p + 1, xkb_name.size() - p - 2);
  }
  xkb_rule_names names{"evdev", "pc105", layout.c_str(), variant.c_str(), ""};
  xkb_keymap* map = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (map == nullptr) fail("xkb-data has no layout " + xkb_name);
  return map;
}

// What every main-block key of layout `l` gives at one level (bit 0 Shift, bit 1 AltGr).
void read_level(xkb_keymap* map, int l, int level, Tables& t) {
  const bool shift = (level & 1) != 0, altgr = (level & 2) != 0;
  xkb_state* st = xkb_state_new(map);
  xkb_mod_mask_t before = xkb_state_serialize_mods(st, XKB_STATE_MODS_EFFECTIVE);
  if (altgr) xkb_state_update_key(st, kKeyRightAlt, XKB_KEY_DOWN);
  // What AltGr adds; a layout whose right Alt is plain Alt (US) adds no level with it.
  xkb_mod_mask_t altgr_mods = xkb_state_serialize_mods(st, XKB_STATE_MODS_EFFECTIVE) & ~before;
  if (shift) xkb_state_update_key(st, kKeyLeftShift, XKB_KEY_DOWN);
  for (int scan = 0; scan < kScanCount; ++scan) {
    if (!main_block(scan)) continue;
    const xkb_keycode_t kc = scan + 8;
    // Windows gives nothing for Ctrl+Alt with a key that has no AltGr level.
    if (altgr &&
        (xkb_state_key_get_consumed_mods2(st, kc, XKB_CONSUMED_MODE_XKB) & altgr_mods) == 0) {
      continue;
    }
    const xkb_keysym_t* syms = nullptr;
    if (xkb_state_key_get_syms(st, kc, &syms) != 1) continue;
    Entry& e = t.keys[l][scan][level];
    e.sym = syms[0];
    if (is_dead(e.sym)) {
      e.dead = true;
      t.dead_syms.insert(e.sym);
      t.dead_in[l].insert(e.sym);
    } else {
      e.ch = xkb_state_key_get_utf32(st, kc);
    }
  }
  xkb_state_unref(st);
}

void read_layouts(xkb_context* ctx, Tables& t) {
  for (int l = 0; l < kLayouts; ++l) {
    xkb_keymap* map = load_keymap(ctx, msr::profile::keyboard_layout(l).xkb);
    for (int level = 0; level < 4; ++level) read_level(map, l, level, t);
    xkb_keymap_unref(map);
  }
}

void apply_overrides(Tables& t) {
  for (const msr::layout_gen::KeyOverride& o : msr::layout_gen::kKeyOverrides) {
    Entry& e = t.keys[layout_index(o.xkb)][o.scan][o.level];
    if (e.dead || e.ch == 0) fail("an override for a key xkb gives no character");
    e.ch = o.ch;
  }
}

// The spacing accent of a dead key: what pressing it twice gives, as Compose writes it
// (dead_diaeresis twice is "¨"); Compose's dead key + Space is X's choice ("'" for the
// acute), not the accent Windows gives. 0 for none.
char32_t accent(xkb_compose_table* compose, xkb_keysym_t d) {
  char32_t a = compose_pair(compose, d, d);
  if (a == 0) a = compose_pair(compose, d, XKB_KEY_space);
  char name[64];
  xkb_keysym_get_name(d, name, sizeof name);
  // Some exotic dead keys have no such entry; the keysym of the same name without
  // "dead_" is the accent for them ("dead_belowdot" and the like have none: they are
  // X's own, on AltGr levels, and are left out).
  if (a == 0) a = xkb_keysym_to_utf32(xkb_keysym_from_name(name + 5, XKB_KEYSYM_NO_FLAGS));
  return a;
}

void find_accents(xkb_compose_table* compose, Tables& t) {
  for (xkb_keysym_t d : t.dead_syms) {
    if (char32_t a = accent(compose, d); a != 0) t.accent_of[d] = a;
  }
}

// The dead keys without an accent are X's own on AltGr levels and are left out; one on a
// plain or Shift level would be a key the table can't give, so it stops the build.
void drop_dead_keys_without_accent(Tables& t) {
  for (auto& layout : t.keys) {
    for (auto& key : layout) {
      for (Entry& e : key) {
        if (e.dead && t.accent_of.count(e.sym) == 0) {
          if (&e == &key[0] || &e == &key[1]) fail("a dead key without its accent");
          e = Entry{};
        }
      }
    }
  }
}

// What each layout's dead keys combine with on Windows.
void collect_compositions(xkb_compose_table* compose, Tables& t) {
  for (const msr::layout_gen::DeadKeyRule& rule : msr::layout_gen::kDeadKeyRules) {
    const int l = layout_index(rule.xkb);
    const xkb_keysym_t d = xkb_keysym_from_name(rule.dead_key, XKB_KEYSYM_NO_FLAGS);
    if (d == XKB_KEY_NoSymbol) fail(std::string("no keysym ") + rule.dead_key);
    // A rule for a dead key xkb doesn't put on this layout has nothing to act on.
    if (t.dead_in[l].count(d) == 0 || t.accent_of.count(d) == 0) continue;
    for (const char* b = rule.bases; *b != 0;) {
      const char32_t base = next_code_point(&b);
      const char32_t r = compose_pair(compose, d, xkb_utf32_to_keysym(base));
      if (r == 0) fail(std::string("Compose has no ") + rule.dead_key + " with " + rule.bases);
      t.pairs[{l, t.accent_of.at(d), base}] = r;
    }
  }
}

void write_key_table(FILE* out, const Tables& t) {
  std::fprintf(out, "// [language][scan code][plain, Shift, AltGr, Shift+AltGr]\n");
  std::fprintf(out, "constexpr KeyResult kKeyTable[%d][%d][4] = {\n", kLayouts, kScanCount);
  for (int l = 0; l < kLayouts; ++l) {
    std::fprintf(out, "  { // %s\n", msr::profile::keyboard_layout(l).xkb);
    for (int scan = 0; scan < kScanCount; ++scan) {
      std::fprintf(out, "    {");
      for (const Entry& e : t.keys[l][scan]) {
        char32_t c = e.dead ? t.accent_of.at(e.sym) : e.ch;
        std::fprintf(out, "{0x%04X, %s}, ", static_cast<unsigned>(c), e.dead ? "true" : "false");
      }
      std::fprintf(out, "},\n");
    }
    std::fprintf(out, "  },\n");
  }
  std::fprintf(out, "};\n");
}

void write_compositions(FILE* out, const Tables& t) {
  std::fprintf(out, "// {language, accent, character, result}, sorted\n");
  std::fprintf(out, "constexpr Composition kCompositions[] = {\n");
  for (const auto& [k, r] : t.pairs) {
    std::fprintf(out, "  {%d, 0x%04X, 0x%04X, 0x%04X},\n", std::get<0>(k),
                 static_cast<unsigned>(std::get<1>(k)), static_cast<unsigned>(std::get<2>(k)),
                 static_cast<unsigned>(r));
  }
  std::fprintf(out, "};\n");
}

void write_inc(const char* path, const Tables& t) {
  FILE* out = std::fopen(path, "w");
  if (out == nullptr) fail(std::string("can't write ") + path);
  std::fprintf(out, "// Made by layout_gen from xkb-data and the en_US.UTF-8 Compose file.\n");
  std::fprintf(out, "constexpr int kLayoutTableCount = %d;\nconstexpr int kScanCount = %d;\n",
               kLayouts, kScanCount);
  write_key_table(out, t);
  write_compositions(out, t);
  if (std::fclose(out) != 0) fail(std::string("can't write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) fail("usage: layout_gen OUTPUT.inc");
  const Xkb xkb = open_xkb();
  Tables t;
  read_layouts(xkb.ctx, t);
  apply_overrides(t);
  find_accents(xkb.compose, t);
  drop_dead_keys_without_accent(t);
  collect_compositions(xkb.compose, t);
  write_inc(argv[1], t);
  xkb_compose_table_unref(xkb.compose);
  xkb_context_unref(xkb.ctx);
  return 0;
}
