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

// The base block as it travels: p2j, mr1..mr7, eight bytes in that order.
void load_base_block(SettingsBlock& b, const unsigned char* bytes);
void store_base_block(const SettingsBlock& b, unsigned char* bytes);

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

// kq2 bits 0..3: keyboard language index.
inline int lang(const SettingsBlock& b) {
  return b.kq2 & 0x0F;
}
inline void set_lang(SettingsBlock& b, int index) {
  b.kq2 = static_cast<std::uint8_t>((b.kq2 & 0xF0) | (index & 0x0F));
}

enum class DefaultSet { english, jis2, non_english };

// What the reset buttons write: the set's p2j and mr1..mr6 (mr7 kept); the
// Non-English set for a virtual COM reader has no delay and p2j 46h; kq1 keeps only
// its interface bit; kq2..kq7 are kept.
void reset_to_defaults(SettingsBlock& b, DefaultSet set, bool vcom);

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
