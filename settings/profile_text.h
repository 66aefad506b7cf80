// The fifteen bytes of a settings file as a readable profile (TOML text), every option of
// the block by name. Together the options cover every bit of the fifteen bytes exactly
// once, so building the profile that show prints gives the same bytes again. Reading a
// profile back is msrprofile's (msrprofile/profile/codec.h); the window keeps its history entries
// in this text as well.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/settings_block.h"

namespace msr {

using Bytes = std::array<std::uint8_t, kBlockSize>;

Bytes to_bytes(const SettingsBlock& b);

enum class Kind {
  flag,        // one named bit: true or false
  choice,      // one named bit between two names
  language,    // the language index: a name, or a number for the indexes without one
  code,        // a whole byte: a printable character, or a number
  number,      // a whole byte, a count or a version
  other_bits,  // the bits of a byte that no option names, kept as they stand
};

struct Option {
  std::string name;     // the key in a profile and the name in JSON
  std::string comment;  // one line, where the bits live included
  Kind kind;
  int field;                            // index into kFields
  std::uint8_t mask;                    // the bits of that byte the option stands for
  bool inverted = false;                // flag: true stands for a clear bit
  bool hex = false;                     // numbers are written in hexadecimal
  std::vector<std::string> names = {};  // choice: clear, set; language: by index
};

// In the order a profile lists them.
const std::vector<Option>& options();
const Option* find_option(std::string_view name);

// An option's value as a profile gives it.
using Value = std::variant<bool, int, std::string>;
std::uint8_t raw(const Option& o, const Bytes& b);  // the option's bits, in place
Value value(const Option& o, const Bytes& b);
std::string toml_text(const Option& o, const Bytes& b);  // the value as TOML writes it

// The whole profile, comments included. With `interface_left_out` the interface line is
// a comment that says the value is the default, so the text builds the same way again.
std::string show(const Bytes& b, bool interface_left_out = false);
inline constexpr const char kInterfaceOption[] = "interface";

// Options whose bits differ, in profile order.
std::vector<const Option*> differences(const Bytes& a, const Bytes& b);

// Small renderings shared with the profile parser's messages.
std::string hex_byte(unsigned v);             // "0x0D"
std::string bit_list(std::uint8_t mask);      // "7, 6"
bool printable_code(unsigned code);           // " " to "~"
std::string quoted_text(std::string_view s);  // in double quotes, escaped, cut at 24

}  // namespace msr
