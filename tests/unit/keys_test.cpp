// The layout diagnosis on swipes typed by a reader set to one language into a host with
// another, from key events (exact) and from characters alone.
#include "msrprofile/keyboard/keys.h"

#include <gtest/gtest.h>

#include <optional>

#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/keyboard/layout_tables.h"
#include "msrprofile/swipe/swipe.h"

namespace msr::profile {
namespace {

using Kind = LayoutFinding::Kind;

constexpr int kUs = 0, kPl = 1, kDe = 2, kEs = 3, kIt = 4, kFr = 5, kNl = 6, kPt = 7;
constexpr int kCyrillic = -1;  // a host layout none of the eight: letters come out Cyrillic

const CardText kBoth = U"%B4111111111111111^DOE/JOHN^2512101?;4111111111111111=2512101?\r";
const CardText kTrack1 = U"%B4111111111111111^DOE/JOHN^2512101?\r";
const CardText kBadLuhn = U";4111111111111112=2512101?\r";
// The apostrophe is a dead key on Spanish and Dutch hosts; Windows types it before N as
// the accent, then N.
const CardText kOneil = U"%B4111111111111111^O'NEIL/JOHN^2512101?;4111111111111111=2512101?\r";

bool valid(std::u32string_view text) {
  return analyze(text, std::nullopt).valid();
}

// The console's events for `text` typed by a reader set to `reader` on a host with layout
// `host`: each key's down events carry what the host's layout has made of the keys so far
// (a dead key nothing, the key after it one or two characters).
KeyEvents typed(const CardText& text, int reader, int host) {
  KeyEvents events;
  std::vector<Keystroke> keys;
  CardText shown;
  bool pending = false;
  for (char32_t c : text) {
    std::vector<Keystroke> ks = c == U'\r' ? std::vector<Keystroke>{{0x1C}} : keys_for(reader, c);
    EXPECT_FALSE(ks.empty()) << "untypable " << int(c);
    for (const Keystroke& k : ks) {
      const std::uint32_t control =
          (k.shift ? kShiftPressed : 0) | (k.altgr ? kRightAltPressed | kLeftCtrlPressed : 0);
      if (k.shift) events.push_back({true, kVkShift, 0x2A, kShiftPressed, 0});
      CardText out;
      const int layout = host < 0 ? kUs : host;
      if (k.scan == 0x1C) {
        out = U"\r";
      } else {
        keys.push_back(k);
        // A dead key's own event carries nothing; the key after it gets what it makes.
        pending = layout_key(layout, k).dead && !pending;
        const CardText all = pending ? shown : type_keys(layout, keys);
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

constexpr Kind kFits = Kind::fits, kHost = Kind::host_layout, kNone = Kind::none_of_eight,
               kAmbiguous = Kind::ambiguous, kNot = Kind::not_layout;

TEST(Keys, DiagnosisFromEventsAndFromCharacters) {
  // From key events with the KLID GetKeyboardLayoutNameA gives ("": none), and from the
  // characters alone: the finding and the layout it names.
  struct Row {
    const char* name;
    CardText text;
    int reader, host;
    const char* klid;
    Kind keys_kind;
    int keys_host;
    Kind text_kind;
    int text_host;
  } rows[] = {
      // clang-format off
      {"layouts agree", kBoth, kUs, kUs, "00000409", kFits, -1, kFits, -1},
      {"German host", kBoth, kUs, kDe, "00000407", kHost, kDe, kHost, kDe},
      {"Polish host", kBoth, kUs, kPl, "00010415", kHost, kPl, kHost, kPl},
      {"Spanish host", kBoth, kUs, kEs, "00000C0A", kHost, kEs, kHost, kEs},
      {"O'NEIL, Spanish host", kOneil, kUs, kEs, "00000C0A", kHost, kEs, kHost, kEs},
      {"O'NEIL, Dutch host", kOneil, kUs, kNl, "", kHost, kNl, kHost, kNl},
      {"Italian host", kBoth, kUs, kIt, "", kHost, kIt, kHost, kIt},
      {"French host", kBoth, kUs, kFr, "", kHost, kFr, kHost, kFr},
      {"Dutch host", kBoth, kUs, kNl, "", kHost, kNl, kHost, kNl},
      {"Portuguese host", kBoth, kUs, kPt, "", kHost, kPt, kHost, kPt},
      {"German reader, US host", kBoth, kDe, kUs, "", kHost, kUs, kHost, kUs},
      {"French reader, German host", kBoth, kFr, kDe, "", kHost, kDe, kHost, kDe},
      // "^" "/" "?" come out alike on five layouts: only the KLID tells them apart.
      {"track 1, KLID known", kTrack1, kUs, kDe, "00000407", kHost, kDe, kAmbiguous, -1},
      {"track 1, no KLID", kTrack1, kUs, kDe, "", kAmbiguous, -1, kAmbiguous, -1},
      {"layout none of the eight", kBoth, kUs, kCyrillic, "00000419", kNone, -1, kNot, -1},
      {"unknown layout, no KLID", kBoth, kUs, kCyrillic, "", kNone, -1, kNot, -1},
      {"bad card on a German host", kBadLuhn, kUs, kDe, "", kNot, -1, kNot, -1},
      // clang-format on
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const KeyEvents events = typed(r.text, r.reader, r.host);
    const Typed t = decode_keys(events, r.reader);
    EXPECT_EQ(t.intended, r.text);
    const LayoutFinding k = diagnose_keys(events, r.reader, valid, r.klid);
    const LayoutFinding c = diagnose_text(t.received, r.reader, valid);
    EXPECT_EQ(finding_name(k.kind), std::string(finding_name(r.keys_kind)));
    EXPECT_EQ(finding_name(c.kind), std::string(finding_name(r.text_kind)));
    EXPECT_EQ(k.host_lang, r.keys_host);
    EXPECT_EQ(c.host_lang, r.text_host);
    for (const LayoutFinding* f : {&k, &c}) {
      EXPECT_EQ(f->repaired, f->kind == kHost ? r.text : U"");
      EXPECT_EQ(f->advice.empty(), f->kind == kFits) << f->advice;
    }
    // The advice names the terminal's layout by its KLID.
    EXPECT_TRUE(k.kind != kHost ||
                k.advice.find(keyboard_layout(k.host_lang).klid) != k.advice.npos);
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
  KeyEvents events;
  for (char32_t c : kBadLuhn.substr(0, kBadLuhn.size() - 1)) {
    events.push_back({true, kVkMenu, 0x38, kLeftAltPressed, 0});
    for (char d : std::to_string(static_cast<int>(c))) {
      events.push_back({true, 0, pad[d - '0'], kLeftAltPressed, 0});
      events.push_back({false, 0, pad[d - '0'], kLeftAltPressed, 0});
    }
    events.push_back({false, kVkMenu, 0x38, 0, c});
  }
  events.push_back({true, 0x0D, 0x1C, 0, U'\r'});  // and Enter, as it is
  const Typed t = decode_keys(events, kDe);
  EXPECT_EQ(t.intended, kBadLuhn);
  EXPECT_EQ(t.received, kBadLuhn);
  EXPECT_EQ(diagnose_keys(events, kDe, valid, "00000407").kind, kNot);
}

}  // namespace
}  // namespace msr::profile
