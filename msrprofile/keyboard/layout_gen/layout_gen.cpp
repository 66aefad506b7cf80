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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) fail("usage: layout_gen OUTPUT.inc");
  xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (ctx == nullptr) fail("no xkb context");
  xkb_compose_table* compose =
      xkb_compose_table_new_from_locale(ctx, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
  if (compose == nullptr) fail("no en_US.UTF-8 Compose file (install libx11-data)");

  const int layouts = msr::profile::kLayoutCount;
  std::vector<std::vector<std::vector<Entry>>> keys(
      layouts, std::vector<std::vector<Entry>>(kScanCount, std::vector<Entry>(4)));
  std::set<xkb_keysym_t> dead_syms;
  std::vector<std::set<xkb_keysym_t>> dead_in(layouts);
  std::map<xkb_keysym_t, char32_t> accent_of;

  for (int l = 0; l < layouts; ++l) {
    std::string xkb_name = msr::profile::keyboard_layout(l).xkb, layout = xkb_name, variant;
    if (auto p = xkb_name.find('('); p != std::string::npos) {
      layout = xkb_name.substr(0, p);
      variant = xkb_name.substr(p + 1, xkb_name.size() - p - 2);
    }
    xkb_rule_names names{"evdev", "pc105", layout.c_str(), variant.c_str(), ""};
    xkb_keymap* map = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (map == nullptr) fail("xkb-data has no layout " + xkb_name);
    for (int level = 0; level < 4; ++level) {
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
        Entry& e = keys[l][scan][level];
        e.sym = syms[0];
        if (is_dead(e.sym)) {
          e.dead = true;
          dead_syms.insert(e.sym);
          dead_in[l].insert(e.sym);
        } else {
          e.ch = xkb_state_key_get_utf32(st, kc);
        }
      }
      xkb_state_unref(st);
    }
    xkb_keymap_unref(map);
  }

  for (const msr::layout_gen::KeyOverride& o : msr::layout_gen::kKeyOverrides) {
    Entry& e = keys[layout_index(o.xkb)][o.scan][o.level];
    if (e.dead || e.ch == 0) fail("an override for a key xkb gives no character");
    e.ch = o.ch;
  }

  // The spacing accent of a dead key: what pressing it twice gives, as Compose writes it
  // (dead_diaeresis twice is "¨"); Compose's dead key + Space is X's choice ("'" for the
  // acute), not the accent Windows gives.
  for (xkb_keysym_t d : dead_syms) {
    char32_t a = compose_pair(compose, d, d);
    if (a == 0) a = compose_pair(compose, d, XKB_KEY_space);
    char name[64];
    xkb_keysym_get_name(d, name, sizeof name);
    // Some exotic dead keys have no such entry; the keysym of the same name without
    // "dead_" is the accent for them ("dead_belowdot" and the like have none: they are
    // X's own, on AltGr levels, and are left out).
    if (a == 0) a = xkb_keysym_to_utf32(xkb_keysym_from_name(name + 5, XKB_KEYSYM_NO_FLAGS));
    if (a != 0) accent_of[d] = a;
  }
  for (auto& layout : keys) {
    for (auto& key : layout) {
      for (Entry& e : key) {
        if (e.dead && accent_of.count(e.sym) == 0) {
          if (&e == &key[0] || &e == &key[1]) fail("a dead key without its accent");
          e = Entry{};
        }
      }
    }
  }
  // What each layout's dead keys combine with on Windows.
  std::map<std::tuple<int, char32_t, char32_t>, char32_t> pairs;
  for (const msr::layout_gen::DeadKeyRule& rule : msr::layout_gen::kDeadKeyRules) {
    const int l = layout_index(rule.xkb);
    const xkb_keysym_t d = xkb_keysym_from_name(rule.dead_key, XKB_KEYSYM_NO_FLAGS);
    if (d == XKB_KEY_NoSymbol) fail(std::string("no keysym ") + rule.dead_key);
    // A rule for a dead key xkb doesn't put on this layout has nothing to act on.
    if (dead_in[l].count(d) == 0 || accent_of.count(d) == 0) continue;
    for (const char* b = rule.bases; *b != 0;) {
      const char32_t base = next_code_point(&b);
      const char32_t r = compose_pair(compose, d, xkb_utf32_to_keysym(base));
      if (r == 0) fail(std::string("Compose has no ") + rule.dead_key + " with " + rule.bases);
      pairs[{l, accent_of[d], base}] = r;
    }
  }

  FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) fail(std::string("can't write ") + argv[1]);
  std::fprintf(out, "// Made by layout_gen from xkb-data and the en_US.UTF-8 Compose file.\n");
  std::fprintf(out, "constexpr int kLayoutTableCount = %d;\nconstexpr int kScanCount = %d;\n",
               layouts, kScanCount);
  std::fprintf(out, "// [language][scan code][plain, Shift, AltGr, Shift+AltGr]\n");
  std::fprintf(out, "constexpr KeyResult kKeyTable[%d][%d][4] = {\n", layouts, kScanCount);
  for (int l = 0; l < layouts; ++l) {
    std::fprintf(out, "  { // %s\n", msr::profile::keyboard_layout(l).xkb);
    for (int scan = 0; scan < kScanCount; ++scan) {
      std::fprintf(out, "    {");
      for (const Entry& e : keys[l][scan]) {
        char32_t c = e.dead ? accent_of[e.sym] : e.ch;
        std::fprintf(out, "{0x%04X, %s}, ", static_cast<unsigned>(c), e.dead ? "true" : "false");
      }
      std::fprintf(out, "},\n");
    }
    std::fprintf(out, "  },\n");
  }
  std::fprintf(out, "};\n");

  std::fprintf(out, "// {language, accent, character, result}, sorted\n");
  std::fprintf(out, "constexpr Composition kCompositions[] = {\n");
  for (const auto& [k, r] : pairs) {
    std::fprintf(out, "  {%d, 0x%04X, 0x%04X, 0x%04X},\n", std::get<0>(k),
                 static_cast<unsigned>(std::get<1>(k)), static_cast<unsigned>(std::get<2>(k)),
                 static_cast<unsigned>(r));
  }
  std::fprintf(out, "};\n");
  if (std::fclose(out) != 0) fail(std::string("can't write ") + argv[1]);
  xkb_compose_table_unref(compose);
  xkb_context_unref(ctx);
  return 0;
}
