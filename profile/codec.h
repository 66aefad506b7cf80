// Profiles: the fifteen bytes of a settings file as readable TOML, every option of the
// block by name, and back. Together the options cover every bit of the fifteen bytes
// exactly once, so building the profile that show prints gives the same bytes again.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/settings_block.h"

namespace msr::profile {

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

// The whole profile, comments included.
std::string show(const Bytes& b);

struct Problem {
  int line = 0;  // 0: the problem is the text as a whole
  int column = 0;
  std::string message;
};
struct Built {
  std::optional<Bytes> bytes;  // only when the profile has no problem
  std::vector<Problem> problems;
};
// Options left out take the English default set. Problems come in the order of the text.
Built build(std::string_view text);

// Options whose bits differ, in profile order.
std::vector<const Option*> differences(const Bytes& a, const Bytes& b);

// Limits that keep a hostile profile from costing more than a profile can need.
inline constexpr std::size_t kMaxProfileBytes = 1024 * 1024;
inline constexpr int kMaxFullStops = 256;

}  // namespace msr::profile
