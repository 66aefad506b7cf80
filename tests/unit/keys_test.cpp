// The layout diagnosis on swipes typed by a reader set to one language into a host with
// another, from key events (exact) and from characters alone.
#include "profile/keys.h"

#include <gtest/gtest.h>

#include <optional>

#include "profile/keyboard_layouts.h"
#include "profile/layout_tables.h"
#include "profile/swipe.h"

namespace msr::profile {
namespace {

using Kind = LayoutFinding::Kind;

constexpr int kUs = 0, kPl = 1, kDe = 2, kEs = 3, kIt = 4, kFr = 5, kNl = 6, kPt = 7;
constexpr int kCyrillic = -1;  // a host layout none of the eight: letters come out Cyrillic

const std::u32string kBoth = U"%B4111111111111111^DOE/JOHN^2512101?;4111111111111111=2512101?\r";
const std::u32string kTrack1 = U"%B4111111111111111^DOE/JOHN^2512101?\r";
const std::u32string kBadLuhn = U";4111111111111112=2512101?\r";

bool valid(std::u32string_view text) {
  return analyze(text, std::nullopt).valid();
}

// The console's events for `text` typed by a reader set to `reader` on a host with layout
// `host`: each key's down events carry what the host's layout has made of the keys so far
// (a dead key nothing, the key after it one or two characters).
std::vector<KeyEvent> typed(const std::u32string& text, int reader, int host) {
  std::vector<KeyEvent> events;
  std::vector<Keystroke> keys;
  std::u32string shown;
  for (char32_t c : text) {
    std::vector<Keystroke> ks = c == U'\r' ? std::vector<Keystroke>{{0x1C}} : keys_for(reader, c);
    EXPECT_FALSE(ks.empty()) << "untypable " << int(c);
    for (const Keystroke& k : ks) {
      const std::uint32_t control =
          (k.shift ? kShiftPressed : 0) | (k.altgr ? kRightAltPressed | kLeftCtrlPressed : 0);
      if (k.shift) events.push_back({true, kVkShift, 0x2A, kShiftPressed, 0});
      std::u32string out;
      if (k.scan == 0x1C) {
        out = U"\r";
      } else {
        keys.push_back(k);
        const std::u32string all = type_keys(host < 0 ? kUs : host, keys);
        out = all.substr(shown.size());
        shown = all;
        for (char32_t& o : out) {
          if (host == kCyrillic && o >= U'A' && o <= U'Z') o += 0x3D0;
        }
      }
      if (out.empty()) events.push_back({true, 0, k.scan, control, 0});
      for (char32_t o : out) events.push_back({true, 0, k.scan, control, o});
      events.push_back({false, 0, k.scan, control, 0});
      if (k.shift) events.push_back({false, kVkShift, 0x2A, 0, 0});
    }
  }
  return events;
}

struct Row {
  const char* name;
  std::u32string text;
  int reader, host;
  const char* klid;  // what GetKeyboardLayoutNameA says; "" where nothing does
  Kind keys_kind;
  int keys_host;
  Kind text_kind;  // characters alone, without the KLID
  int text_host;
};

TEST(Keys, DiagnosisFromEventsAndFromCharacters) {
  const Row rows[] = {
      {"layouts agree", kBoth, kUs, kUs, "00000409", Kind::fits, -1, Kind::fits, -1},
      {"German host", kBoth, kUs, kDe, "00000407", Kind::host_layout, kDe, Kind::host_layout, kDe},
      {"Polish host", kBoth, kUs, kPl, "00010415", Kind::host_layout, kPl, Kind::host_layout, kPl},
      {"Spanish host", kBoth, kUs, kEs, "00000C0A", Kind::host_layout, kEs, Kind::host_layout, kEs},
      {"Italian host", kBoth, kUs, kIt, "", Kind::host_layout, kIt, Kind::host_layout, kIt},
      {"French host", kBoth, kUs, kFr, "", Kind::host_layout, kFr, Kind::host_layout, kFr},
      {"Dutch host", kBoth, kUs, kNl, "", Kind::host_layout, kNl, Kind::host_layout, kNl},
      {"Portuguese host", kBoth, kUs, kPt, "", Kind::host_layout, kPt, Kind::host_layout, kPt},
      {"German reader, US host", kBoth, kDe, kUs, "", Kind::host_layout, kUs, Kind::host_layout,
       kUs},
      {"French reader, German host", kBoth, kFr, kDe, "", Kind::host_layout, kDe, Kind::host_layout,
       kDe},
      // "^" "/" "?" come out alike on five layouts: only the KLID tells them apart.
      {"track 1, KLID known", kTrack1, kUs, kDe, "00000407", Kind::host_layout, kDe,
       Kind::ambiguous, -1},
      {"track 1, no KLID", kTrack1, kUs, kDe, "", Kind::ambiguous, -1, Kind::ambiguous, -1},
      {"layout none of the eight", kBoth, kUs, kCyrillic, "00000419", Kind::none_of_eight, -1,
       Kind::not_layout, -1},
      {"unknown layout, no KLID", kBoth, kUs, kCyrillic, "", Kind::none_of_eight, -1,
       Kind::not_layout, -1},
      {"bad card on a matching host", kBadLuhn, kUs, kUs, "", Kind::not_layout, -1,
       Kind::not_layout, -1},
      {"bad card on a German host", kBadLuhn, kUs, kDe, "", Kind::not_layout, -1, Kind::not_layout,
       -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::vector<KeyEvent> events = typed(r.text, r.reader, r.host);
    const Typed t = decode_keys(events, r.reader);
    EXPECT_EQ(t.intended, r.text);
    const LayoutFinding k = diagnose_keys(events, r.reader, valid, r.klid);
    EXPECT_EQ(finding_name(k.kind), std::string(finding_name(r.keys_kind)));
    EXPECT_EQ(k.host_lang, r.keys_host);
    if (k.kind == Kind::host_layout) {
      EXPECT_EQ(k.repaired, r.text);
      EXPECT_NE(k.advice.find(keyboard_layout(r.keys_host).klid), std::string::npos) << k.advice;
    }
    const LayoutFinding c = diagnose_text(t.received, r.reader, valid);
    EXPECT_EQ(finding_name(c.kind), std::string(finding_name(r.text_kind)));
    EXPECT_EQ(c.host_lang, r.text_host);
    if (c.kind == Kind::host_layout) {
      EXPECT_EQ(c.repaired, r.text);
    }
    if (c.kind != Kind::fits) {
      EXPECT_FALSE(c.advice.empty());
    }
  }
}

// What the measured German host makes of a US reader's swipe, as Windows delivers it.
TEST(Keys, GermanHostReceives) {
  const Typed t = decode_keys(typed(U"%B4^A/?;4=25?\r", kUs, kDe), kUs);
  EXPECT_EQ(t.received, U"%B4&A-_ö4´25_\r");
}

// A reader that emulates Alt codes types each character as its number on the keypad with
// Alt held; the character comes with Alt's release, and no layout changes it.
TEST(Keys, AltCodesAreTheSameOnEveryLayout) {
  const std::uint16_t pad[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};
  std::vector<KeyEvent> events;
  for (char32_t c : kBadLuhn.substr(0, kBadLuhn.size() - 1)) {
    events.push_back({true, kVkMenu, 0x38, kLeftAltPressed, 0});
    for (char d : std::to_string(static_cast<int>(c))) {
      events.push_back({true, 0, pad[d - '0'], kLeftAltPressed, 0});
      events.push_back({false, 0, pad[d - '0'], kLeftAltPressed, 0});
    }
    events.push_back({false, kVkMenu, 0x38, 0, c});
  }
  events.push_back({true, 0x0D, 0x1C, 0, U'\r'});
  const Typed t = decode_keys(events, kDe);
  EXPECT_EQ(t.intended, kBadLuhn);
  EXPECT_EQ(t.received, kBadLuhn);
  EXPECT_EQ(diagnose_keys(events, kDe, valid, "00000407").kind, Kind::not_layout);
}

}  // namespace
}  // namespace msr::profile
