#include "msrprofile/swipe/swipe_report.h"

#include <algorithm>
#include <cstdio>

#include "msrprofile/profile/json.h"
#include "settings/settings_block.h"

namespace msr::profile {
namespace {

const Track* track(const Swipe& s, int number) {
  for (const Track& t : s.tracks) {
    if (t.number == number) return &t;
  }
  return nullptr;
}

bool any_end(const Swipe& s, Track::End end) {
  return std::any_of(s.tracks.begin(), s.tracks.end(),
                     [end](const Track& t) { return t.end == end; });
}

const char* const kInvisible = "one swipe's text does not show it";

// The options a swipe's text shows, put into `seen`; the names of those it showed.
std::vector<std::string> observe(const Swipe& s, Source source, SettingsBlock& seen,
                                 const Framing& profile) {
  std::vector<std::string> shown;
  auto show = [&shown](const char* name) { shown.push_back(name); };
  const char* const send[3] = {"send_track1", "send_track2", "send_track3"};
  const Bit off[3] = {Bit::t1off, Bit::t2off, Bit::t3off};
  std::uint8_t SettingsBlock::*const lead[3] = {&SettingsBlock::mr2, &SettingsBlock::mr3,
                                                &SettingsBlock::mr4};
  for (int n = 1; n <= 3; ++n) {
    const Track* t = track(s, n);
    if (t != nullptr) {
      set_bit(seen, off[n - 1], false);
      show(send[n - 1]);
    }
  }
  const bool framed = !s.tracks.empty() && s.seen.lecodes;
  const bool ended = any_end(s, Track::End::code) || any_end(s, Track::End::tab);
  if (!s.tracks.empty()) {
    set_bit(seen, Bit::lecodes, s.seen.lecodes);
    show("send_leading_ending_codes");
  }
  if (framed) {
    for (int n = 1; n <= 3; ++n) {
      const Track* t = track(s, n);
      if (t != nullptr && t->lead <= 0xFF) {
        seen.*lead[n - 1] = static_cast<std::uint8_t>(t->lead);
        show(n == 1   ? "leading_code_track1"
             : n == 2 ? "leading_code_track2"
                      : "leading_code_track3");
      }
    }
    if (ended) {
      set_bit(seen, Bit::tabend, any_end(s, Track::End::tab));
      set_bit(seen, Bit::lrc, s.seen.lrc);
      show("tab_to_end");
      show("send_lrc");
    }
    for (const Track& t : s.tracks) {
      if (t.end == Track::End::code && t.end_code <= 0xFF) {
        seen.mr5 = static_cast<std::uint8_t>(t.end_code);
        show("ending_code");
        break;
      }
    }
  }
  if (!s.tracks.empty()) {
    // One CR comes from the ending CR alone, or from an additional CR without it; the
    // profile's reading of it is the one that fits when it fits.
    const bool one_by_addcr = s.crs == 1 && profile.nocr && profile.addcr;
    set_bit(seen, Bit::nocr, s.crs == 0 || one_by_addcr);
    set_bit(seen, Bit::addcr, s.crs >= 2 || one_by_addcr);
    show("send_ending_cr");
    show("additional_cr");
  }
  set_bit(seen, Bit::vcomif, source == Source::vcom);
  show("interface");
  return shown;
}

std::string option_value(const Option& o, const Bytes& b) {
  return toml_text(o, b);
}

// The checks that passed on one line, each that failed or was not made on its own.
void append_checks(std::string& text, const Track& t) {
  std::string passed;
  std::string others;
  for (const Check& c : t.checks) {
    if (c.verdict == Verdict::ok) {
      passed += (passed.empty() ? "" : ", ") + c.name;
    } else {
      others += "    " + c.name + ": " + verdict_name(c.verdict) +
                (c.detail.empty() ? "" : " (" + c.detail + ")") + "\n";
    }
  }
  if (!passed.empty()) text += "    ok: " + passed + "\n";
  text += others;
}

std::string framing_text(const Track& t) {
  if (!t.lead_seen) return "no leading or ending code";
  std::string text = "leading code " + code_text(t.lead);
  if (t.end == Track::End::tab) text += ", TAB to end";
  if (t.end == Track::End::code) text += ", ending code " + code_text(t.end_code);
  if (t.end == Track::End::none) text += ", no ending code";
  if (t.lrc_seen) text += ", LRC";
  return text;
}

std::string pan_text(const Track& t) {
  if (t.pan_length < 0) return "";
  std::string text = "PAN " + std::to_string(t.pan_length) + " characters";
  if (!t.pan_last4.empty()) text += ", ending " + t.pan_last4;
  for (const Check& c : t.checks) {
    if (c.name == "PAN" && c.verdict == Verdict::failed) text += " (" + c.detail + ")";
  }
  return text;
}

nlohmann::ordered_json verdict_json(Verdict v) {
  return v == Verdict::ok ? "ok" : v == Verdict::failed ? "failed" : "not_checked";
}

nlohmann::ordered_json code_json(char32_t c) {
  return code_text(c);
}

}  // namespace

std::vector<OptionCheck> compare_swipe(const Swipe& swipe, Source source, const Bytes& profile,
                                       Bytes* seen_bytes, bool interface_left_out) {
  SettingsBlock seen;
  load_block(seen, profile.data());
  std::vector<OptionCheck> list;
  const std::vector<std::string> shown = observe(swipe, source, seen, framing_of(profile));
  store_block(seen, seen_bytes->data());
  static const char* const kShaping[] = {"send_track1",
                                         "send_track2",
                                         "send_track3",
                                         "send_leading_ending_codes",
                                         "leading_code_track1",
                                         "leading_code_track2",
                                         "leading_code_track3",
                                         "ending_code",
                                         "send_lrc",
                                         "additional_cr",
                                         "send_ending_cr",
                                         "tab_to_end",
                                         "inter_character_delay",
                                         "alt_num_emulation",
                                         "send_num_lock",
                                         "dos_mode",
                                         "vendor_class",
                                         "keyboard_language",
                                         "host_os",
                                         "send_ascii",
                                         "interface"};
  for (const Option& o : options()) {
    if (std::find_if(std::begin(kShaping), std::end(kShaping),
                     [&o](const char* n) { return o.name == n; }) == std::end(kShaping))
      continue;
    OptionCheck c;
    c.option = &o;
    if (interface_left_out && o.name == kInterfaceOption) {
      c.why = "the profile leaves it out: a write keeps the reader's own interface";
    } else if (std::find(shown.begin(), shown.end(), o.name) != shown.end()) {
      c.verdict = raw(o, profile) == raw(o, *seen_bytes) ? Verdict::ok : Verdict::failed;
    } else if (o.name.rfind("send_track", 0) == 0) {
      c.why = "the swipe has no such track: the card may have nothing on it";
    } else if (o.name == "keyboard_language") {
      c.why = source == Source::vcom ? "a virtual COM port sends bytes, not keys"
                                     : "see the layout diagnosis";
    } else if (o.name.rfind("leading_code", 0) == 0 || o.name == "ending_code" ||
               o.name == "send_lrc" || o.name == "tab_to_end") {
      c.why = swipe.tracks.empty() ? "the swipe has no track"
              : !swipe.seen.lecodes
                  ? "the reader sends no leading and ending codes, and so none of these"
              : o.name == "ending_code" && any_end(swipe, Track::End::tab)
                  ? "a TAB ends the tracks instead"
                  : "the swipe has no track that shows it";
    } else if (o.name == "send_ending_cr" || o.name == "additional_cr" ||
               o.name == "send_leading_ending_codes") {
      c.why = "the swipe has no track";
    } else {
      c.why = kInvisible;
    }
    list.push_back(std::move(c));
  }
  return list;
}

bool SwipeResult::matches() const {
  return swipe.valid() && std::none_of(options.begin(), options.end(), [](const OptionCheck& c) {
           return c.verdict == Verdict::failed;
         });
}

std::string swipe_text(const SwipeResult& r, int index, int count, const Bytes* profile,
                       const std::string& profile_name) {
  const Swipe& s = r.swipe;
  std::string text = "swipe";
  if (count > 1) text += " " + std::to_string(index) + " of " + std::to_string(count);
  text += ": " + std::to_string(s.characters) + " characters, " + std::to_string(s.tracks.size()) +
          (s.tracks.size() == 1 ? " track, " : " tracks, ") + std::to_string(s.crs) +
          (s.crs == 1 ? " carriage return" : " carriage returns") + " at the end\n";
  for (const Track& t : s.tracks) {
    text += "track " + std::to_string(t.number) + ": ";
    text += t.unreadable ? "unreadable" : t.empty ? "empty" : t.valid() ? "valid" : "not valid";
    text += "; " + framing_text(t) + "\n";
    std::string card = t.unreadable || t.empty ? "" : std::to_string(t.length) + " characters";
    const std::string pan = pan_text(t);
    if (!pan.empty()) card += "; " + pan;
    if (t.name_length >= 0) card += "; name " + std::to_string(t.name_length) + " characters";
    if (!card.empty()) text += "    " + card + "\n";
    append_checks(text, t);
  }
  for (const std::string& p : s.problems) text += "problem: " + p + "\n";
  if (r.layout && !r.layout->advice.empty()) {
    text += "keyboard layout: " + r.layout->advice + "\n";
  }
  if (profile != nullptr) {
    text += "against " + profile_name + ":\n";
    std::size_t width = 0;
    for (const OptionCheck& c : r.options) width = std::max(width, c.option->name.size());
    for (const OptionCheck& c : r.options) {
      std::string line = "  " + c.option->name + std::string(width - c.option->name.size(), ' ');
      line += "  profile " + option_value(*c.option, *profile);
      if (c.verdict == Verdict::ok) {
        line += ", swipe the same";
      } else if (c.verdict == Verdict::failed) {
        line += ", swipe " + option_value(*c.option, r.seen) + ": DIFFERS";
      } else {
        line += ": not checked (" + c.why + ")";
      }
      text += line + "\n";
    }
  }
  if (!s.valid()) {
    text += "the swipe is not valid track data\n";
  } else if (profile == nullptr) {
    text += "the swipe is valid track data\n";
  } else if (r.matches()) {
    text += "the swipe is valid and shows what " + profile_name + " says\n";
  } else {
    text += "the swipe is valid but differs from " + profile_name + "\n";
  }
  return text;
}

nlohmann::ordered_json swipe_json(const SwipeResult& r, const Bytes* profile) {
  const Swipe& s = r.swipe;
  nlohmann::ordered_json doc = {{"valid", s.valid()},
                                {"matches_profile", nullptr},
                                {"characters", s.characters},
                                {"carriage_returns", s.crs},
                                {"tracks", nlohmann::ordered_json::array()}};
  if (profile != nullptr) doc["matches_profile"] = r.matches();
  for (const Track& t : s.tracks) {
    nlohmann::ordered_json track = {
        {"track", t.number},
        {"status", t.unreadable ? "unreadable"
                   : t.empty    ? "empty"
                   : t.valid()  ? "valid"
                                : "invalid"},
        {"length", t.length},
        {"leading_code", t.lead_seen ? code_json(t.lead) : nullptr},
        {"ending", t.end == Track::End::tab    ? "tab"
                   : t.end == Track::End::code ? code_json(t.end_code)
                                               : nullptr},
        {"lrc_sent", t.lrc_seen},
        {"pan", nullptr},
        {"name_length", t.name_length >= 0 ? nlohmann::ordered_json(t.name_length) : nullptr},
        {"checks", nlohmann::ordered_json::array()}};
    if (t.pan_length >= 0) {
      track["pan"] = {{"length", t.pan_length},
                      {"last4", t.pan_last4.empty() ? nlohmann::ordered_json(nullptr)
                                                    : nlohmann::ordered_json(t.pan_last4)}};
    }
    for (const Check& c : t.checks) {
      track["checks"].push_back(
          {{"name", c.name}, {"result", verdict_json(c.verdict)}, {"detail", c.detail}});
    }
    doc["tracks"].push_back(std::move(track));
  }
  doc["problems"] = s.problems;
  doc["layout"] = nullptr;
  if (r.layout) {
    doc["layout"] = {{"finding", r.layout->finding},
                     {"host_layout", r.layout->host_layout.empty()
                                         ? nlohmann::ordered_json(nullptr)
                                         : nlohmann::ordered_json(r.layout->host_layout)},
                     {"advice", r.layout->advice}};
  }
  doc["options"] = nlohmann::ordered_json::array();
  if (profile != nullptr) {
    for (const OptionCheck& c : r.options) {
      nlohmann::ordered_json o = {{"name", c.option->name},
                                  {"result", c.verdict == Verdict::ok       ? "same"
                                             : c.verdict == Verdict::failed ? "differs"
                                                                            : "not_checked"},
                                  {"profile", side_json(*c.option, *profile)["value"]},
                                  {"swipe", nullptr},
                                  {"why", c.why}};
      if (c.verdict != Verdict::not_checked) o["swipe"] = side_json(*c.option, r.seen)["value"];
      doc["options"].push_back(std::move(o));
    }
  }
  return doc;
}

std::string swipe_layout(const Swipe& s) {
  auto hex = [](char32_t c) {
    char b[12];
    std::snprintf(b, sizeof b, c > 0xFF ? "U+%04X" : "%02X", static_cast<unsigned>(c));
    return std::string(b);
  };
  std::string text;
  auto put = [&text](const std::string& item) { text += (text.empty() ? "" : " ") + item; };
  int covered = 0;
  for (const Track& t : s.tracks) {
    if (t.lead_seen) put(hex(t.lead));
    put("<track " + std::to_string(t.number) + ": " + std::to_string(t.data_length) +
        (t.data_length == 1 ? " character>" : " characters>"));
    if (t.end != Track::End::none) put(hex(t.end_code));
    if (t.lrc_seen) put("<LRC>");
    covered += (t.lead_seen ? 1 : 0) + t.data_length + (t.end != Track::End::none ? 1 : 0) +
               (t.lrc_seen ? 1 : 0);
  }
  const int rest = s.characters - s.crs - covered;
  if (rest > 0) put("<" + std::to_string(rest) + " characters of no track>");
  for (int i = 0; i < s.crs; ++i) put("0D");
  return text;
}

}  // namespace msr::profile
