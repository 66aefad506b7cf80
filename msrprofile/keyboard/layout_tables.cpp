#include "msrprofile/keyboard/layout_tables.h"

#include <algorithm>
#include <tuple>

namespace msr::profile {
namespace {

struct Composition {
  int lang;
  char32_t accent, next, result;
};

#include "layout_tables_data.inc"

constexpr std::uint8_t kSpace = 0x39;
constexpr std::uint8_t kIsoKey = 0x56;  // missing on 104-key keyboards

int level(Keystroke k) {
  return (k.shift ? 1 : 0) | (k.altgr ? 2 : 0);
}

}  // namespace

KeyResult layout_key(int lang, Keystroke k) {
  if (lang < 0 || lang >= kLayoutTableCount || k.scan >= kScanCount) return {};
  return kKeyTable[lang][k.scan][level(k)];
}

char32_t compose(int lang, char32_t accent, char32_t next) {
  if (next == U' ') return accent;
  const Composition* end = std::end(kCompositions);
  const Composition* c = std::lower_bound(
      std::begin(kCompositions), end, Composition{lang, accent, next, 0},
      [](const Composition& a, const Composition& b) {
        return std::tie(a.lang, a.accent, a.next) < std::tie(b.lang, b.accent, b.next);
      });
  return c != end && c->lang == lang && c->accent == accent && c->next == next ? c->result : 0;
}

std::vector<Keystroke> keys_for(int lang, char32_t c) {
  if (lang < 0 || lang >= kLayoutTableCount || c == 0) return {};
  // The key every keyboard has and the fewest modifiers win: a US reader types "<" with
  // Shift and the comma, not with the ISO key.
  auto rank = [](Keystroke k) { return std::make_tuple(k.altgr, k.scan == kIsoKey, k.shift); };
  bool found = false;
  Keystroke best;
  std::vector<Keystroke> dead_keys;  // by their accent's key, for the fallbacks below
  for (int scan = 0; scan < kScanCount; ++scan) {
    for (int lv = 0; lv < 4; ++lv) {
      const Keystroke k{static_cast<std::uint8_t>(scan), (lv & 1) != 0, (lv & 2) != 0};
      const KeyResult r = kKeyTable[lang][scan][lv];
      if (r.dead) dead_keys.push_back(k);
      if (r.dead || r.ch != c) continue;
      if (!found || rank(k) < rank(best)) best = k;
      found = true;
    }
  }
  if (found) return {best};
  std::stable_sort(dead_keys.begin(), dead_keys.end(),
                   [&](Keystroke a, Keystroke b) { return rank(a) < rank(b); });
  for (Keystroke d : dead_keys) {
    if (layout_key(lang, d).ch == c) return {d, Keystroke{kSpace}};
  }
  // A character only a dead key and a letter make ("â" on a German host).
  for (Keystroke d : dead_keys) {
    const char32_t accent = layout_key(lang, d).ch;
    for (const Composition& m : kCompositions) {
      if (m.lang != lang || m.accent != accent || m.result != c) continue;
      std::vector<Keystroke> base = keys_for(lang, m.next);
      if (base.size() == 1) return {d, base[0]};
    }
  }
  return {};
}

namespace {

CardText type_through(int lang, std::span<const Keystroke> keys, char32_t* waiting) {
  CardText out;
  char32_t pending = 0;
  for (Keystroke k : keys) {
    const KeyResult r = layout_key(lang, k);
    if (r.ch == 0) continue;
    if (pending != 0) {
      // Windows: a second dead key that does not combine gives both accents.
      const char32_t both = compose(lang, pending, r.ch);
      if (both != 0 && !r.dead) {
        out += both;
      } else {
        out += pending;
        out += r.ch;
      }
      pending = 0;
    } else if (r.dead) {
      pending = r.ch;
    } else {
      out += r.ch;
    }
  }
  *waiting = pending;
  return out;
}

}  // namespace

CardText type_keys(int lang, std::span<const Keystroke> keys) {
  char32_t pending = 0;
  CardText out = type_through(lang, keys, &pending);
  if (pending != 0) out += pending;
  return out;
}

char32_t pending_accent(int lang, std::span<const Keystroke> keys) {
  char32_t pending = 0;
  CardText out = type_through(lang, keys, &pending);
  wipe(out);
  return pending;
}

}  // namespace msr::profile
