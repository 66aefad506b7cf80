// msrprofile layouts: what a reader set to one keyboard language types on a terminal with
// another layout, before a card is swiped; from the same tables the swipe check reads.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <ostream>
#include <vector>

#include "msrprofile/commands/command.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/keyboard/layout_tables.h"

namespace msr::profile {
namespace {

struct LayoutsArgs {
  std::string reader, host, type;
  bool json = false;
};

std::string languages() {
  std::string names;
  for (int lang = 0; lang < kLayoutCount; ++lang) {
    names += (lang == 0 ? "" : ", ") + language_name(lang);
  }
  return names;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string utf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) append_utf8(out, c);
  return out;
}

// The text's characters, decoded from UTF-8 (the command line's, as the host gives it);
// false for bytes that are no UTF-8.
bool decode(const std::string& in, std::u32string* out) {
  for (std::size_t i = 0; i < in.size();) {
    const auto b = static_cast<unsigned char>(in[i]);
    const int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : -1;
    if (n < 0 || i + n >= in.size()) return false;
    char32_t c = n == 0 ? b : b & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
      const auto t = static_cast<unsigned char>(in[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    *out += c;
    i += n + 1;
  }
  return true;
}

// A run of five or more digits, which may be grouped by spaces or hyphens as card numbers
// are printed: this command never takes a card's data.
bool looks_like_card_number(std::u32string_view text) {
  int run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= U'0' && c <= U'9') {
      if (++run >= 5) return true;
    } else if (!((c == U' ' || c == U'-') && run > 0 && i + 1 < text.size() &&
                 text[i + 1] >= U'0' && text[i + 1] <= U'9')) {
      run = 0;
    }
  }
  return false;
}

// A character as a person reads it on any console: ASCII as it is (a space named),
// anything else with its code point, since a console's code page may not show it.
std::string shown(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (!out.empty()) out += ' ';
    if (c == U' ') {
      out += "space";
    } else if (c > 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char code[12];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      append_utf8(out, c);
      out += std::string(" (") + code + ")";
    }
  }
  return out;
}

struct Change {
  char32_t from;
  CardText to;        // what arrives for it alone; empty: the reader has no key for it
  bool dead = false;  // the host's key for it is a dead key, which waits for the next
};

// The track character set (track 1's, which holds tracks 2 and 3's) as `reader` types it
// and `host` receives it, character by character.
std::vector<Change> changes(int reader, int host) {
  std::vector<Change> list;
  for (char32_t c = 0x20; c <= 0x5F; ++c) {
    const std::vector<Keystroke> keys = keys_for(reader, c);
    Change ch{c, {}, false};
    if (!keys.empty()) {
      ch.to = type_keys(host, keys);
      ch.dead = layout_key(host, keys.back()).dead;
    }
    if (ch.to != CardText(1, c) || ch.dead) list.push_back(ch);
  }
  return list;
}

int cmd_layouts(Io io, const LayoutsArgs& a) {
  const int reader_lang = language_named(a.reader), host_lang = language_named(a.host);
  if (reader_lang < 0 || host_lang < 0) {
    return usage(io, "layouts: \"" + (reader_lang >= 0 ? a.host : a.reader) +
                         "\" is no keyboard language; the languages are: " + languages());
  }
  std::u32string text;
  if (!decode(a.type, &text)) return usage(io, "layouts: --type is not UTF-8 text");
  if (looks_like_card_number(text)) {
    return usage(io,
                 "layouts: --type: this looks like a card number; give text without "
                 "a run of five or more digits");
  }
  const std::string reader_name = language_name(reader_lang), host_name = language_name(host_lang);
  if (!a.type.empty()) {
    std::vector<Keystroke> keys;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const std::vector<Keystroke> k = keys_for(reader_lang, text[i]);
      if (k.empty()) {
        return usage(io, "layouts: a reader typing for " + reader_name + " has no key for " +
                             shown(text.substr(i, 1)) + ", character " + std::to_string(i + 1) +
                             " of --type");
      }
      keys.insert(keys.end(), k.begin(), k.end());
    }
    const CardText received = type_keys(host_lang, keys);
    if (a.json) {
      print_json(io, {{"reader", reader_name}, {"host", host_name}, {"received", utf8(received)}});
    } else {
      io.out << "a " << reader_name << " reader typing \"" << a.type << "\" on a " << host_name
             << " terminal gives \"" << utf8(received) << "\"\n";
    }
    return kExitOk;
  }
  const std::vector<Change> list = changes(reader_lang, host_lang);
  if (a.json) {
    nlohmann::ordered_json table = nlohmann::ordered_json::array();
    for (const Change& c : list) {
      table.push_back({{"character", utf8(std::u32string(1, c.from))},
                       {"received", c.to.empty() ? nlohmann::ordered_json(nullptr)
                                                 : nlohmann::ordered_json(utf8(c.to))},
                       {"dead_key", c.dead}});
    }
    print_json(io, {{"reader", reader_name}, {"host", host_name}, {"table", table}});
    return kExitOk;
  }
  io.out << "what a " << reader_name << " reader's track characters become on a " << host_name
         << " terminal";
  if (list.empty()) {
    io.out << ": every one arrives as it is\n";
    return kExitOk;
  }
  io.out << " (only those that change; \"dead key\": the terminal waits for the next key, "
            "and gives the accent before anything it doesn't combine with):\n";
  for (const Change& c : list) {
    io.out << "  " << shown(std::u32string(1, c.from)) << "  ->  "
           << (c.to.empty() ? std::string("(the reader has no key for it)") : shown(c.to))
           << (c.dead ? "  dead key" : "") << "\n";
  }
  return kExitOk;
}

}  // namespace

void add_layouts(CLI::App& app, Commands& commands) {
  auto args = std::make_shared<LayoutsArgs>();
  LayoutsArgs& a = *args;
  CLI::App* cmd = app.add_subcommand(
      "layouts",
      "What a reader typing for one keyboard language gives on a terminal with another "
      "layout: the track characters that change, or what arrives for --type TEXT");
  cmd->add_option("--reader", a.reader, "the reader's keyboard language (USA, German, ...)")
      ->required();
  cmd->add_option("--host", a.host, "the terminal's keyboard layout, by the same names")
      ->required();
  cmd->add_option("--type", a.type,
                  "the text the reader types (never card data: a run of five digits is "
                  "refused)");
  cmd->add_flag("--json", a.json, "print one JSON document");
  commands.push_back({cmd, [args](const Invocation& inv) { return cmd_layouts(inv.io, *args); }});
}

}  // namespace msr::profile
