#include "msrprofile/profile/codec.h"

#include <toml++/toml.h>

#include <algorithm>

namespace msr::profile {
namespace {

std::string allowed(const Option& o) {
  switch (o.kind) {
    case Kind::flag:
      return "true or false";
    case Kind::choice:
      return "\"" + o.names[0] + "\" or \"" + o.names[1] + "\"";
    case Kind::language: {
      std::string list;
      for (const std::string& n : o.names) list += "\"" + n + "\", ";
      return list + "or an integer 0 to " + std::to_string(o.mask);
    }
    case Kind::code:
      return "one character (\" \" to \"~\", or any ASCII character) or an integer 0 to 255 "
             "(0x00 to 0xFF)";
    case Kind::number:
      return "an integer 0 to 255";
    case Kind::other_bits:
      return o.mask == 0xFF ? "an integer 0 to 255 (0x00 to 0xFF)"
                            : "an integer whose set bits lie within " + hex_byte(o.mask) +
                                  " (bits " + bit_list(o.mask) + ")";
  }
  return "";
}

const char* type_name(const toml::node& v) {
  switch (v.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a floating-point number";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    default:
      return "a date or time";
  }
}

struct Reading {
  std::optional<std::uint8_t> raw;  // the option's bits, in place
  std::string trouble;              // why not, when raw is empty
};

Reading out_of_range(const std::string& given) {
  return {std::nullopt, given + " is not allowed"};
}

// The bits an option's value in a profile stands for.
Reading read_value(const Option& o, const toml::node& v) {
  const auto* s = v.as_string();
  const auto* i = v.as_integer();
  const auto* b = v.as_boolean();
  switch (o.kind) {
    case Kind::flag:
      if (b == nullptr) break;
      return {static_cast<std::uint8_t>(b->get() != o.inverted ? o.mask : 0), {}};
    case Kind::choice:
      if (s == nullptr) break;
      for (std::size_t n = 0; n < o.names.size(); ++n) {
        if (s->get() == o.names[n]) return {static_cast<std::uint8_t>(n != 0 ? o.mask : 0), {}};
      }
      return out_of_range(quoted_text(s->get()));
    case Kind::language:
      if (s != nullptr) {
        for (std::size_t n = 0; n < o.names.size(); ++n) {
          if (s->get() == o.names[n]) return {static_cast<std::uint8_t>(n), {}};
        }
        return out_of_range(quoted_text(s->get()));
      }
      if (i == nullptr) break;
      if (i->get() < 0 || i->get() > o.mask) return out_of_range(std::to_string(i->get()));
      return {static_cast<std::uint8_t>(i->get()), {}};
    case Kind::code:
      if (s != nullptr) {
        const std::string& text = s->get();
        if (text.size() != 1 || static_cast<unsigned char>(text[0]) > 0x7F) {
          return {std::nullopt, quoted_text(text) + " is not one ASCII character"};
        }
        return {static_cast<std::uint8_t>(text[0]), {}};
      }
      [[fallthrough]];
    case Kind::number:
    case Kind::other_bits:
      if (i == nullptr) break;
      if (i->get() < 0 || i->get() > 0xFF || (i->get() & ~o.mask) != 0) {
        return out_of_range(o.hex && i->get() >= 0 && i->get() <= 0xFF ? hex_byte(i->get())
                                                                       : std::to_string(i->get()));
      }
      return {static_cast<std::uint8_t>(i->get()), {}};
  }
  return {std::nullopt, std::string("found ") + type_name(v)};
}

Problem at(const toml::source_region& where, std::string message) {
  return {static_cast<int>(where.begin.line), static_cast<int>(where.begin.column),
          std::move(message)};
}

std::string key_list() {
  std::string list;
  for (const Option& o : options()) list += (list.empty() ? "" : ", ") + o.name;
  return list;
}

// Nesting costs the parser stack, one level per dotted key part; only full stops outside
// comment lines can make one, so they are bounded before any parsing.
std::optional<Problem> too_deep(std::string_view text) {
  int stops = 0, line = 1;
  bool line_start = true, comment = false;
  for (char c : text) {
    if (c == '\n') {
      ++line, line_start = true, comment = false;
      continue;
    }
    if (line_start && c != ' ' && c != '\t' && c != '\r') {
      line_start = false;
      comment = c == '#';
    }
    if (c == '.' && !comment && ++stops > kMaxFullStops) {
      return Problem{line, 0,
                     "more than " + std::to_string(kMaxFullStops) +
                         " full stops outside comment lines: keys nested this deep make no "
                         "profile"};
    }
  }
  return std::nullopt;
}

// The key a line gives a value to, as written before its "=", without the quotes of a
// quoted key: the parser's messages name the line, and the key only in their own rendering
// of it.
std::string key_on_line(std::string_view text, int line) {
  std::size_t start = 0;
  for (int n = 1; n < line && start != std::string_view::npos; ++n) {
    start = text.find('\n', start);
    if (start != std::string_view::npos) ++start;
  }
  if (start == std::string_view::npos) return "";
  std::string_view rest = text.substr(start, text.find('\n', start) - start);
  const std::size_t first = rest.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  rest.remove_prefix(first);
  if (rest[0] == '"' || rest[0] == '\'') {
    const std::size_t close = rest.find(rest[0], 1);
    if (close == std::string_view::npos) return "";
    const std::size_t eq = rest.find_first_not_of(" \t", close + 1);
    if (eq == std::string_view::npos || rest[eq] != '=') return "";
    return std::string(rest.substr(1, close - 1));
  }
  const std::size_t eq = rest.find('=');
  if (eq == std::string_view::npos) return "";
  std::string_view key = rest.substr(0, eq);
  key = key.substr(0, key.find_last_not_of(" \t") + 1);
  if (key.empty() || key.find_first_of(" \t\"'#[") != std::string_view::npos) return "";
  return std::string(key);
}

std::optional<Problem> not_a_profile_text(std::string_view text) {
  if (text.size() > kMaxProfileBytes) {
    return Problem{0, 0, "larger than " + std::to_string(kMaxProfileBytes) + " bytes: no profile"};
  }
  if (text.size() >= 2 &&
      ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
    return Problem{0, 0,
                   "UTF-16 text (as PowerShell's > writes it); a profile is UTF-8: save it as "
                   "UTF-8, or let msrprofile show -o write it"};
  }
  return too_deep(text);
}

}  // namespace

Built build(std::string_view text) {
  Built result;
  if (auto problem = not_a_profile_text(text)) {
    result.problems.push_back(*problem);
    return result;
  }
  toml::table table;
  try {
    table = toml::parse(text);
  } catch (const toml::parse_error& e) {
    const toml::source_region& where = e.source();
    const std::string key = key_on_line(text, static_cast<int>(where.begin.line));
    std::string what(e.description());
    if (what.find("cannot redefine existing") != std::string::npos && !key.empty()) {
      what = "key " + quoted_text(key) + " is given more than once; each key may appear once";
    } else if (!key.empty()) {
      // The parser's own words name the value but not the key it was given for.
      what = "key " + quoted_text(key) + ": " + what;
      if (const Option* o = find_option(key)) what += "; allowed: " + allowed(*o);
    }
    result.problems.push_back(at(where, "not a valid profile: " + what));
    return result;
  }
  if (table.empty()) {
    result.problems.push_back(
        {0, 0,
         "the profile sets no option; an empty file is not taken for the English default set: "
         "name at least one option (msrprofile show prints them all)"});
    return result;
  }

  Bytes bytes = to_bytes(default_block(DefaultSet::english));
  for (auto&& [key, node] : table) {
    const std::string name(key.str());
    const Option* o = find_option(name);
    if (o == nullptr) {
      result.problems.push_back(
          at(key.source(), "unknown key " + quoted_text(name) + "; the keys are: " + key_list()));
      continue;
    }
    Reading r = read_value(*o, node);
    if (!r.raw) {
      result.problems.push_back(at(node.source(), "key " + quoted_text(name) + ": " + r.trouble +
                                                      "; allowed: " + allowed(*o)));
      continue;
    }
    bytes[o->field] = static_cast<std::uint8_t>((bytes[o->field] & ~o->mask) | *r.raw);
  }
  std::stable_sort(result.problems.begin(), result.problems.end(),
                   [](const Problem& a, const Problem& b) {
                     return a.line != b.line ? a.line < b.line : a.column < b.column;
                   });
  result.interface_left_out = !table.contains(kInterfaceOption);
  if (result.problems.empty()) result.bytes = bytes;
  return result;
}

}  // namespace msr::profile
