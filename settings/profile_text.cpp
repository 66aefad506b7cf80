#include "settings/profile_text.h"

#include <cstdio>

namespace msr {

std::string hex_byte(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v & 0xFFu);
  return text;
}

std::string bit_list(std::uint8_t mask) {
  std::string list;
  for (int bit = 7; bit >= 0; --bit) {
    if ((mask >> bit) & 1) list += (list.empty() ? "" : ", ") + std::to_string(bit);
  }
  return list;
}

bool printable_code(unsigned code) {
  return code >= 0x20 && code <= 0x7E;
}

std::string quoted_text(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size() && i < 24; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (printable_code(c)) {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    }
  }
  return out + (s.size() > 24 ? "...\"" : "\"");
}

namespace {

int field_index(std::uint8_t SettingsBlock::*member) {
  for (int i = 0; i < kBlockSize; ++i) {
    if (kFields[i].member == member) return i;
  }
  return 0;  // unreachable: kFields lists every member
}

struct FlagRow {
  const char* name;
  Bit bit;
  bool inverted;
  const char* comment;
};

Option flag(const FlagRow& row) {
  BitPlace p = bit_place(row.bit);
  Option o{row.name, row.comment, Kind::flag, field_index(p.field),
           static_cast<std::uint8_t>(1u << p.bit)};
  o.inverted = row.inverted;
  o.comment += std::string("; ") + kFields[o.field].name + " bit " + std::to_string(p.bit) +
               (row.inverted ? ", set when false" : "");
  return o;
}

Option choice(const char* name, Bit bit, std::vector<std::string> names, const char* comment) {
  Option o = flag({name, bit, false, comment});
  o.kind = Kind::choice;
  o.names = std::move(names);
  return o;
}

Option whole_byte(const char* name, Kind kind, std::uint8_t SettingsBlock::*member, bool hex,
                  const std::string& comment) {
  Option o{name, comment, kind, field_index(member), 0xFF};
  o.hex = hex;
  o.comment += std::string("; ") + kFields[o.field].name;
  return o;
}

std::vector<Option> make_options() {
  const char* const code_rule = ": a character, or a number 0x00..0xFF for any other code";
  std::vector<Option> all = {
      flag({"send_track1", Bit::t1off, true, "Track 1 is sent (\"Enable MSR Track 1\")"}),
      flag({"send_track2", Bit::t2off, true, "Track 2 is sent (\"Enable MSR Track 2\")"}),
      flag({"send_track3", Bit::t3off, true, "Track 3 is sent (\"Enable MSR Track 3\")"}),
      flag({"send_leading_ending_codes", Bit::lecodes, false,
            "Each track's leading code and the ending code are sent"}),
      whole_byte("leading_code_track1", Kind::code, &SettingsBlock::mr2, true,
                 std::string("Sent before track 1") + code_rule),
      whole_byte("leading_code_track2", Kind::code, &SettingsBlock::mr3, true,
                 std::string("Sent before track 2") + code_rule),
      whole_byte("leading_code_track3", Kind::code, &SettingsBlock::mr4, true,
                 std::string("Sent before track 3") + code_rule),
      whole_byte("ending_code", Kind::code, &SettingsBlock::mr5, true,
                 std::string("Sent after the track data") + code_rule),
      flag({"send_lrc", Bit::lrc, false, "The LRC character is sent (\"Send LRC\")"}),
      flag({"additional_cr", Bit::addcr, false,
            "An additional carriage return is sent (\"Additional CR\")"}),
      flag({"send_ending_cr", Bit::nocr, true,
            "A carriage return follows the ending code (\"Send Ending CR\")"}),
      flag({"tab_to_end", Bit::tabend, false,
            "A TAB keystroke ends the data instead of the ending code (\"TAB to end\")"}),
      whole_byte("inter_character_delay", Kind::number, &SettingsBlock::mr6, false,
                 "Delay between characters, 0 to 32 in the reader's unit; the window turns a "
                 "larger value into 0"),
      flag({"alt_num_emulation", Bit::altnum, false,
            "Characters are typed as ALT plus number-pad keystrokes (\"Use ALT-num emulation\")"}),
      flag({"send_num_lock", Bit::numlock, false, "The reader sends Num-Lock (\"Send Num-Lock\")"}),
      flag({"dos_mode", Bit::dosmode, false, "DOS mode (\"Use DOS Mode\")"}),
      flag({"vendor_class", Bit::vendorcls, false, "Vendor class (\"Vender Class\")"}),
  };

  Option language{"keyboard_language", "Keyboard language: ", Kind::language,
                  field_index(&SettingsBlock::kq2), kLangMask};
  for (const char* name : kLanguageNames) {
    language.comment += std::string(language.names.empty() ? "\"" : ", \"") + name + "\"";
    language.names.push_back(name);
  }
  language.comment += ", or an index " + std::to_string(language.names.size()) + " to " +
                      std::to_string(kLangMask) + "; kq2 bits " + bit_list(kLangMask);
  all.push_back(language);

  all.push_back(choice("host_os", Bit::android, {kHostOsNames[0], kHostOsNames[1]},
                       "Host operating system: \"Windows\" or \"Android\""));
  all.push_back(flag({"send_ascii", Bit::sendascii, false, "\"Send Ascii\""}));
  all.push_back(choice("interface", Bit::vcomif, {"USB HID keyboard", "virtual COM port"},
                       "Interface the reader presents: \"USB HID keyboard\" or \"virtual COM "
                       "port\""));
  all.push_back(whole_byte("firmware", Kind::number, &SettingsBlock::mr7, true,
                           "Firmware version the reader reported; 0 when the block was never "
                           "read from a reader"));

  // Whatever no option above names is kept as it stands, byte by byte.
  std::uint8_t named[kBlockSize] = {};
  for (const Option& o : all) named[o.field] |= o.mask;
  for (int i = 0; i < kBlockSize; ++i) {
    std::uint8_t rest = static_cast<std::uint8_t>(~named[i]);
    if (rest == 0) continue;
    const std::string field = kFields[i].name;
    if (rest == 0xFF) {
      all.push_back(Option{field, field + ", a byte that no option names, kept as it stands",
                           Kind::other_bits, i, rest, false, true});
    } else {
      all.push_back(
          Option{field + "_other_bits",
                 field + " bits " + bit_list(rest) + ", which no option names, kept as they stand",
                 Kind::other_bits, i, rest, false, true});
    }
  }
  return all;
}

}  // namespace

Bytes to_bytes(const SettingsBlock& b) {
  Bytes out{};
  store_block(b, out.data());
  return out;
}

const std::vector<Option>& options() {
  static const std::vector<Option> all = make_options();
  return all;
}

const Option* find_option(std::string_view name) {
  for (const Option& o : options()) {
    if (o.name == name) return &o;
  }
  return nullptr;
}

std::uint8_t raw(const Option& o, const Bytes& b) {
  return static_cast<std::uint8_t>(b[o.field] & o.mask);
}

Value value(const Option& o, const Bytes& b) {
  std::uint8_t r = raw(o, b);
  switch (o.kind) {
    case Kind::flag:
      return (r != 0) != o.inverted;
    case Kind::choice:
      return o.names[r != 0 ? 1 : 0];
    case Kind::language:
      if (r < o.names.size()) return o.names[r];
      return static_cast<int>(r);
    case Kind::code:
      if (printable_code(r)) return std::string(1, static_cast<char>(r));
      return static_cast<int>(r);
    case Kind::number:
    case Kind::other_bits:
      return static_cast<int>(r);
  }
  return 0;
}

std::string toml_text(const Option& o, const Bytes& b) {
  Value v = value(o, b);
  if (const bool* flag = std::get_if<bool>(&v)) return *flag ? "true" : "false";
  if (const std::string* s = std::get_if<std::string>(&v)) return quoted_text(*s);
  int n = std::get<int>(v);
  return o.hex || o.kind == Kind::code ? hex_byte(n) : std::to_string(n);
}

std::string show(const Bytes& b, bool interface_left_out) {
  std::string text =
      "# Reader configuration: the fifteen bytes p2j, mr1..mr7, kq1..kq7 of a settings file.\n"
      "# \"msrprofile build THIS.toml -o FILE\" makes the settings file; an option left out\n"
      "# takes its value from the English default set.\n";
  for (const Option& o : options()) {
    text += "\n# " + o.comment + ".\n";
    // Written as a comment, so that building this text again still leaves it out.
    if (interface_left_out && o.name == kInterfaceOption) {
      text += "# Left out: " + o.name + " = " + toml_text(o, b) +
              " is only the default a settings file holds; write keeps the reader's own "
              "interface.\n";
      continue;
    }
    text += o.name + " = " + toml_text(o, b) + "\n";
  }
  return text;
}

std::vector<const Option*> differences(const Bytes& a, const Bytes& b) {
  std::vector<const Option*> differ;
  for (const Option& o : options()) {
    if (raw(o, a) != raw(o, b)) differ.push_back(&o);
  }
  return differ;
}

}  // namespace msr
