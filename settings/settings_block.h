// The reader's configuration as the tool holds it: base block p2j, mr1..mr7 and
// extended block kq1..kq7, their named bits, the default sets and the firmware values
// derived from mr7.
#pragma once

#include <cstdint>
#include <string>

namespace msr {

struct SettingsBlock {
  std::uint8_t p2j = 0xC6;
  std::uint8_t mr1 = 0x08;
  std::uint8_t mr2 = 0x25;  // '%' track 1 leading code
  std::uint8_t mr3 = 0x3B;  // ';' track 2 leading code
  std::uint8_t mr4 = 0x3B;  // ';' track 3 leading code
  std::uint8_t mr5 = 0x3F;  // '?' ending code
  std::uint8_t mr6 = 0x01;  // inter-character delay, 0..32
  std::uint8_t mr7 = 0x00;  // firmware version; 0 = no reader read
  std::uint8_t kq1 = 0, kq2 = 0, kq3 = 0, kq4 = 0, kq5 = 0, kq6 = 0, kq7 = 0;
};

// The fifteen bytes in the order they travel and stand in a settings file: p2j,
// mr1..mr7 (the base block), kq1..kq7 (the extended block).
struct Field {
  const char* name;  // as the log and the profiles name it
  std::uint8_t SettingsBlock::*member;
};
inline constexpr int kBlockSize = 15;
inline constexpr int kBaseBlockSize = 8;
inline constexpr Field kFields[kBlockSize] = {
    {"p2j", &SettingsBlock::p2j}, {"mr1", &SettingsBlock::mr1}, {"mr2", &SettingsBlock::mr2},
    {"mr3", &SettingsBlock::mr3}, {"mr4", &SettingsBlock::mr4}, {"mr5", &SettingsBlock::mr5},
    {"mr6", &SettingsBlock::mr6}, {"mr7", &SettingsBlock::mr7}, {"kq1", &SettingsBlock::kq1},
    {"kq2", &SettingsBlock::kq2}, {"kq3", &SettingsBlock::kq3}, {"kq4", &SettingsBlock::kq4},
    {"kq5", &SettingsBlock::kq5}, {"kq6", &SettingsBlock::kq6}, {"kq7", &SettingsBlock::kq7}};

// The base block as it travels: p2j, mr1..mr7, eight bytes in that order.
void load_base_block(SettingsBlock& b, const unsigned char* bytes);
void store_base_block(const SettingsBlock& b, unsigned char* bytes);
// All fifteen bytes, in the order of a settings file.
void load_block(SettingsBlock& b, const unsigned char* bytes);
void store_block(const SettingsBlock& b, unsigned char* bytes);

// The named single bits of the block.
enum class Bit {
  altnum,     // p2j bit 7
  tabend,     // p2j bit 3
  t1off,      // mr1 bit 0
  t2off,      // mr1 bit 1
  t3off,      // mr1 bit 2
  lecodes,    // mr1 bit 3
  lrc,        // mr1 bit 4
  addcr,      // mr1 bit 5
  vcomif,     // kq1 bit 0
  dosmode,    // kq1 bit 4
  vendorcls,  // kq1 bit 5
  numlock,    // kq1 bit 6
  nocr,       // kq1 bit 7
  android,    // kq2 bit 6
  sendascii,  // kq2 bit 7
};

bool get_bit(const SettingsBlock& b, Bit bit);
void set_bit(SettingsBlock& b, Bit bit, bool on);

// Where a named bit lives: its byte and its number in it (0 is the least significant).
struct BitPlace {
  std::uint8_t SettingsBlock::*field;
  int bit;
};
BitPlace bit_place(Bit bit);

// kq2 bits 0..3: keyboard language index.
inline constexpr std::uint8_t kLangMask = 0x0F;
inline int lang(const SettingsBlock& b) {
  return b.kq2 & kLangMask;
}
inline void set_lang(SettingsBlock& b, int index) {
  b.kq2 = static_cast<std::uint8_t>((b.kq2 & ~kLangMask) | (index & kLangMask));
}
// The languages by index, as the window lists them; indexes 8..15 have no name.
inline constexpr const char* kLanguageNames[] = {"USA",     "Poland(214)", "German",  "Spanish",
                                                 "Italian", "French",      "Holland", "Portugal"};
// The host OS by the android bit: clear, set.
inline constexpr const char* kHostOsNames[] = {"Windows", "Android"};

enum class DefaultSet { english, jis2, non_english };

// What the reset buttons write: the set's p2j and mr1..mr6 (mr7 kept); the
// Non-English set for a virtual COM reader has no delay and p2j 46h; kq1 keeps only
// its interface bit; kq2..kq7 are kept.
void reset_to_defaults(SettingsBlock& b, DefaultSet set, bool vcom);
// A default set as a whole block: the reset applied to the initial block, so mr7 is 0
// and the extended block is all zero.
SettingsBlock default_block(DefaultSet set);

// "." followed by mr7 in lower-case hexadecimal.
std::string make_fwtext(std::uint8_t mr7);
// The hexadecimal digits of fwtext read as a decimal number (stops at the first
// non-decimal character): 13h gives 13, 1Ah gives 1.
std::int32_t make_fwnum(const std::string& fwtext);

struct SettingsState {
  SettingsBlock blk;
  std::string fwtext;
  std::int32_t fwnum = 0;
  std::string fn;  // name of the settings file readf opened
};
inline SettingsState g_settings;

inline SettingsBlock& blk() {
  return g_settings.blk;
}

}  // namespace msr
