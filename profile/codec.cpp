#include "profile/codec.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdio>

namespace msr::profile {
namespace {

int field_index(std::uint8_t SettingsBlock::*member) {
  for (int i = 0; i < kBlockSize; ++i) {
    if (kFields[i].member == member) return i;
  }
  return 0;  // unreachable: kFields lists every member
}

std::string hex2(unsigned v) {
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

bool printable(unsigned code) {
  return code >= 0x20 && code <= 0x7E;
}

// A short, printable rendering of what a profile gave, for messages.
std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size() && i < 24; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (printable(c)) {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    }
  }
  return out + (s.size() > 24 ? "...\"" : "\"");
}

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
                            : "an integer whose set bits lie within " + hex2(o.mask) + " (bits " +
                                  bit_list(o.mask) + ")";
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
      return out_of_range(quoted(s->get()));
    case Kind::language:
      if (s != nullptr) {
        for (std::size_t n = 0; n < o.names.size(); ++n) {
          if (s->get() == o.names[n]) return {static_cast<std::uint8_t>(n), {}};
        }
        return out_of_range(quoted(s->get()));
      }
      if (i == nullptr) break;
      if (i->get() < 0 || i->get() > o.mask) return out_of_range(std::to_string(i->get()));
      return {static_cast<std::uint8_t>(i->get()), {}};
    case Kind::code:
      if (s != nullptr) {
        const std::string& text = s->get();
        if (text.size() != 1 || static_cast<unsigned char>(text[0]) > 0x7F) {
          return {std::nullopt, quoted(text) + " is not one ASCII character"};
        }
        return {static_cast<std::uint8_t>(text[0]), {}};
      }
      [[fallthrough]];
    case Kind::number:
    case Kind::other_bits:
      if (i == nullptr) break;
      if (i->get() < 0 || i->get() > 0xFF || (i->get() & ~o.mask) != 0) {
        return out_of_range(o.hex && i->get() >= 0 && i->get() <= 0xFF ? hex2(i->get())
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
      if (printable(r)) return std::string(1, static_cast<char>(r));
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
  if (const std::string* s = std::get_if<std::string>(&v)) return quoted(*s);
  int n = std::get<int>(v);
  return o.hex || o.kind == Kind::code ? hex2(n) : std::to_string(n);
}

std::string show(const Bytes& b) {
  std::string text =
      "# Reader configuration: the fifteen bytes p2j, mr1..mr7, kq1..kq7 of a settings file.\n"
      "# \"msrprofile build THIS.toml -o FILE\" makes the settings file; an option left out\n"
      "# takes its value from the English default set.\n";
  for (const Option& o : options()) {
    text += "\n# " + o.comment + ".\n" + o.name + " = " + toml_text(o, b) + "\n";
  }
  return text;
}

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
      what = "key " + quoted(key) + " is given more than once; each key may appear once";
    } else if (!key.empty()) {
      // The parser's own words name the value but not the key it was given for.
      what = "key " + quoted(key) + ": " + what;
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
          at(key.source(), "unknown key " + quoted(name) + "; the keys are: " + key_list()));
      continue;
    }
    Reading r = read_value(*o, node);
    if (!r.raw) {
      result.problems.push_back(at(
          node.source(), "key " + quoted(name) + ": " + r.trouble + "; allowed: " + allowed(*o)));
      continue;
    }
    bytes[o->field] = static_cast<std::uint8_t>((bytes[o->field] & ~o->mask) | *r.raw);
  }
  std::stable_sort(result.problems.begin(), result.problems.end(),
                   [](const Problem& a, const Problem& b) {
                     return a.line != b.line ? a.line < b.line : a.column < b.column;
                   });
  if (result.problems.empty()) result.bytes = bytes;
  return result;
}

std::vector<const Option*> differences(const Bytes& a, const Bytes& b) {
  std::vector<const Option*> differ;
  for (const Option& o : options()) {
    if (raw(o, a) != raw(o, b)) differ.push_back(&o);
  }
  return differ;
}

}  // namespace msr::profile
