#include "common/text.h"
#include "settings/settings_block.h"

#include <cstdio>

namespace msr {

BitPlace bit_place(Bit bit) {
  switch (bit) {
    case Bit::altnum:
      return {&SettingsBlock::p2j, 7};
    case Bit::tabend:
      return {&SettingsBlock::p2j, 3};
    case Bit::t1off:
      return {&SettingsBlock::mr1, 0};
    case Bit::t2off:
      return {&SettingsBlock::mr1, 1};
    case Bit::t3off:
      return {&SettingsBlock::mr1, 2};
    case Bit::lecodes:
      return {&SettingsBlock::mr1, 3};
    case Bit::lrc:
      return {&SettingsBlock::mr1, 4};
    case Bit::addcr:
      return {&SettingsBlock::mr1, 5};
    case Bit::vcomif:
      return {&SettingsBlock::kq1, 0};
    case Bit::dosmode:
      return {&SettingsBlock::kq1, 4};
    case Bit::vendorcls:
      return {&SettingsBlock::kq1, 5};
    case Bit::numlock:
      return {&SettingsBlock::kq1, 6};
    case Bit::nocr:
      return {&SettingsBlock::kq1, 7};
    case Bit::android:
      return {&SettingsBlock::kq2, 6};
    case Bit::sendascii:
      return {&SettingsBlock::kq2, 7};
  }
  return {&SettingsBlock::kq7, 0};  // unreachable: every enumerator is listed above
}

void load_base_block(SettingsBlock& b, const unsigned char* bytes) {
  for (int i = 0; i < kBaseBlockSize; ++i) b.*kFields[i].member = bytes[i];
}

void store_base_block(const SettingsBlock& b, unsigned char* bytes) {
  for (int i = 0; i < kBaseBlockSize; ++i) bytes[i] = b.*kFields[i].member;
}

void load_block(SettingsBlock& b, const unsigned char* bytes) {
  for (int i = 0; i < kBlockSize; ++i) b.*kFields[i].member = bytes[i];
}

void store_block(const SettingsBlock& b, unsigned char* bytes) {
  for (int i = 0; i < kBlockSize; ++i) bytes[i] = b.*kFields[i].member;
}

bool get_bit(const SettingsBlock& b, Bit bit) {
  BitPlace p = bit_place(bit);
  return ((b.*p.field >> p.bit) & 1) != 0;
}

void set_bit(SettingsBlock& b, Bit bit, bool on) {
  BitPlace p = bit_place(bit);
  std::uint8_t mask = static_cast<std::uint8_t>(1u << p.bit);
  b.*p.field = static_cast<std::uint8_t>(on ? (b.*p.field | mask) : (b.*p.field & ~mask));
}

void reset_to_defaults(SettingsBlock& b, DefaultSet set, bool vcom) {
  switch (set) {
    case DefaultSet::english:
      b.p2j = 0x46, b.mr1 = 0x08, b.mr2 = '%', b.mr3 = ';', b.mr4 = ';', b.mr5 = '?', b.mr6 = 0;
      break;
    case DefaultSet::jis2:
      b.p2j = 0xC6, b.mr1 = 0x08, b.mr2 = '%', b.mr3 = '?', b.mr4 = ';', b.mr5 = ';', b.mr6 = 2;
      break;
    case DefaultSet::non_english:
      b.p2j = 0xC6, b.mr1 = 0x08, b.mr2 = '%', b.mr3 = ';', b.mr4 = ';', b.mr5 = '?', b.mr6 = 2;
      if (vcom) b.mr6 = 0, b.p2j = 0x46;
      break;
  }
  b.kq1 &= 0x01;
}

SettingsBlock default_block(DefaultSet set) {
  SettingsBlock b{};
  reset_to_defaults(b, set, false);
  return b;
}

std::string make_fwtext(std::uint8_t mr7) {
  char text[8];
  std::snprintf(text, sizeof text, ".%x", static_cast<unsigned>(mr7));
  return text;
}

std::int32_t make_fwnum(const std::string& fwtext) {
  return atol32(fwtext.size() > 1 ? fwtext.c_str() + 1 : "");
}

}  // namespace msr
