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

#include "settings/profile_text.h"

namespace msr::profile {

using msr::Bytes;
using msr::differences;
using msr::find_option;
using msr::Kind;
using msr::Option;
using msr::options;
using msr::raw;
using msr::show;
using msr::to_bytes;
using msr::toml_text;
using msr::Value;
using msr::value;

struct Problem {
  int line = 0;  // 0: the problem is the text as a whole
  int column = 0;
  std::string message;
};
struct Built {
  std::optional<Bytes> bytes;  // only when the profile has no problem
  std::vector<Problem> problems;
  // The profile does not set `interface`: the bytes hold the default, which a write does
  // not impose on a reader.
  bool interface_left_out = false;
};
// Options left out take the English default set. Problems come in the order of the text.
Built build(std::string_view text);

// Limits that keep a hostile profile from costing more than a profile can need.
inline constexpr std::size_t kMaxProfileBytes = 1024 * 1024;
inline constexpr int kMaxFullStops = 256;

}  // namespace msr::profile
