// The layout tables made from xkb-data, against rows measured on each host layout, and the
// dead keys as Windows types them.
#include "msrprofile/keyboard/layout_tables.h"

#include <gtest/gtest.h>

#include <string>

namespace msr::profile {
namespace {

// What a US reader's character becomes on a host layout: the character, or the accent of
// the dead key it lands on.
struct HostRow {
  int host;
  char32_t us;
  char32_t arrives;
  bool dead;
};

TEST(LayoutTables, AUsReadersKeysOnEachHostLayout) {
  const HostRow rows[] = {
      {1, U';', U'ł', false}, {1, U'Y', U'Z', false},  {1, U'[', U'ż', false},
      {1, U'"', U'ę', false}, {1, U'?', U'_', false},  {2, U'=', U'´', true},
      {2, U'+', U'`', true},  {2, U';', U'ö', false},  {2, U'\\', U'#', false},
      {2, U'-', U'ß', false}, {2, U'^', U'&', false},  {3, U'"', U'¨', true},
      {3, U'\'', U'´', true}, {3, U'[', U'`', true},   {3, U'+', U'¿', false},
      {3, U'=', U'¡', false}, {4, U'"', U'°', false},  {4, U'+', U'^', false},
      {4, U'#', U'£', false}, {4, U'[', U'è', false},  {5, U'1', U'&', false},
      {5, U'2', U'é', false}, {5, U'A', U'Q', false},  {5, U'M', U'?', false},
      {5, U'[', U'^', true},  {5, U'_', U'°', false},  {5, U'.', U':', false},
      {6, U'"', U'`', true},  {6, U'+', U'~', true},   {6, U'[', U'¨', true},
      {6, U':', U'±', false}, {6, U'\\', U'<', false}, {7, U'\\', U'~', true},
      {7, U']', U'´', true},  {7, U'[', U'+', false},  {7, U'=', U'«', false},
      {0, U'?', U'?', false}, {0, U'^', U'^', false},
  };
  for (const HostRow& r : rows) {
    const std::vector<Keystroke> keys = keys_for(0, r.us);
    ASSERT_EQ(keys.size(), 1u) << int(r.us);
    const KeyResult got = layout_key(r.host, keys[0]);
    EXPECT_EQ(got.ch, r.arrives) << "host " << r.host << " US " << char(r.us);
    EXPECT_EQ(got.dead, r.dead) << "host " << r.host << " US " << char(r.us);
  }
}

TEST(LayoutTables, EveryTrackCharacterHasKeysThatMakeItAgain) {
  for (int lang = 0; lang < 8; ++lang) {
    for (char32_t c = 0x20; c <= 0x5F; ++c) {
      const std::vector<Keystroke> keys = keys_for(lang, c);
      ASSERT_FALSE(keys.empty()) << "lang " << lang << " char " << char(c);
      EXPECT_EQ(type_keys(lang, keys), CardText(1, c)) << "lang " << lang << " " << char(c);
    }
  }
}

TEST(LayoutTables, KeysAReaderPresses) {
  struct Row {
    int lang;
    char32_t c;
    std::vector<Keystroke> keys;
  };
  const Row rows[] = {
      {0, U'<', {{0x33, true, false}}},           // Shift+comma, not the ISO key
      {2, U'^', {{0x29, false, false}, {0x39}}},  // the dead key, then Space
      {5, U'^', {{0x0A, false, true}}},           // AltGr rather than a dead key
      {2, U'â', {{0x29, false, false}, {0x1E}}},  // dead key and letter
      {0, U'ä', {}},
  };
  for (const Row& r : rows) {
    const std::vector<Keystroke> got = keys_for(r.lang, r.c);
    ASSERT_EQ(got.size(), r.keys.size()) << "lang " << r.lang << " U+" << std::hex << int(r.c);
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].scan, r.keys[i].scan);
      EXPECT_EQ(got[i].shift, r.keys[i].shift);
      EXPECT_EQ(got[i].altgr, r.keys[i].altgr);
    }
  }
}

TEST(LayoutTables, DeadKeysAsWindowsTypesThem) {
  const std::vector<Keystroke> equals_two = {{0x0D}, {0x03}};           // "=2" by US position
  const std::vector<Keystroke> quote_a = {{0x28, true}, {0x1E, true}};  // '"A'
  struct Row {
    int lang;
    std::vector<Keystroke> keys;
    CardText typed;
  } rows[] = {
      {2, equals_two, U"´2"},  // no combination: the accent, then the digit
      {3, quote_a, U"Ä"},      // Spanish dead diaeresis and A
      {6, {{0x28, true}, {0x39}}, U"`"},
      {5, {{0x1A}, {0x04, true}}, U"^3"},  // not the superscript X's Compose file makes
      {2, {{0x0D}}, U"´"},                 // left waiting at the end: its accent
      {3, {{0x1A}, {0x32, true}}, U"`M"},  // Spanish dead grave and M: nothing dropped
  };
  for (const Row& r : rows) EXPECT_EQ(type_keys(r.lang, r.keys), r.typed) << r.lang;
}

}  // namespace
}  // namespace msr::profile
