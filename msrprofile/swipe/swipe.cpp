#include "msrprofile/swipe/swipe.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "settings/settings_block.h"

namespace msr::profile {
namespace {

using Text = std::u32string_view;

// Track 1 carries 6-bit characters from 0x20, tracks 2 and 3 4-bit ones from 0x30.
char32_t base_of(int number) {
  return number == 1 ? 0x20 : 0x30;
}
char32_t start_sentinel(int number) {
  return number == 1 ? U'%' : U';';
}

bool in_charset(int number, char32_t c) {
  const char32_t lo = base_of(number), hi = number == 1 ? 0x5F : 0x3F;
  if (c < lo || c > hi) return false;
  // The sentinels mark the data's ends and never stand inside it.
  return c != U'?' && c != start_sentinel(number);
}

bool digit(char32_t c) {
  return c >= U'0' && c <= U'9';
}
bool digits(Text t) {
  return !t.empty() && std::all_of(t.begin(), t.end(), digit);
}

bool luhn(Text pan) {
  int sum = 0;
  bool twice = false;
  for (auto it = pan.rbegin(); it != pan.rend(); ++it) {
    int d = static_cast<int>(*it - U'0');
    if (twice) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
    twice = !twice;
  }
  return sum % 10 == 0;
}

std::string count(std::size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

void add(Track& t, std::string name, bool ok, std::string detail = {}) {
  t.checks.push_back({std::move(name), ok ? Verdict::ok : Verdict::failed, std::move(detail)});
}
void skip(Track& t, std::string name, std::string why) {
  t.checks.push_back({std::move(name), Verdict::not_checked, std::move(why)});
}

// The PAN: digits, 19 at most, passing the Luhn check. Only its length and, for a PAN
// long enough that four digits leave most of it hidden, its last four are kept.
void check_pan(Track& t, Text pan) {
  t.pan_length = static_cast<int>(pan.size());
  const bool all_digits = digits(pan);
  add(t, "PAN", all_digits && pan.size() <= 19,
      all_digits ? count(pan.size(), "digit") + (pan.size() > 19 ? ", at most 19" : "")
                 : count(pan.size(), "character") + ", not all digits");
  if (all_digits) {
    add(t, "Luhn", luhn(pan));
  } else {
    skip(t, "Luhn", "the PAN is not all digits");
  }
  if (pan.size() >= 12 && digits(pan.substr(pan.size() - 4))) {
    for (char32_t c : pan.substr(pan.size() - 4)) t.pan_last4 += static_cast<char>(c);
  }
}

// Expiry YYMM and service code (three digits), each of which the card may leave out by
// putting the field separator in its place.
void check_expiry_service(Track& t, Text rest, char32_t separator) {
  if (!rest.empty() && rest[0] == separator) {
    add(t, "expiry", false, "not on the card (a separator in its place)");
    rest.remove_prefix(1);
  } else {
    const Text yymm = rest.substr(0, 4);
    const bool ok = yymm.size() == 4 && digits(yymm) &&
                    (yymm[2] - U'0') * 10 + (yymm[3] - U'0') >= 1 &&
                    (yymm[2] - U'0') * 10 + (yymm[3] - U'0') <= 12;
    add(t, "expiry", ok, ok ? "" : "not a year and month (YYMM)");
    rest.remove_prefix(yymm.size());
  }
  if (!rest.empty() && rest[0] == separator) {
    add(t, "service code", false, "not on the card (a separator in its place)");
    return;
  }
  const Text code = rest.substr(0, 3);
  const bool ok = code.size() == 3 && digits(code);
  add(t, "service code", ok, ok ? "" : "not three digits");
}

// %B PAN ^ NAME ^ YYMM SSS discretionary ?
void check_track1_layout(Track& t, Text data) {
  if (data.empty() || data[0] != U'B') {
    skip(t, "layout", "the format code is not B, the financial format: the issuer's own layout");
    return;
  }
  data.remove_prefix(1);
  const std::size_t first = data.find(U'^');
  const std::size_t second = first == Text::npos ? Text::npos : data.find(U'^', first + 1);
  add(t, "separators", second != Text::npos,
      second != Text::npos ? "" : "fewer than two field separators \"^\"");
  check_pan(t, data.substr(0, first));
  if (second == Text::npos) return;
  const Text name = data.substr(first + 1, second - first - 1);
  t.name_length = static_cast<int>(name.size());
  add(t, "name", name.size() >= 2 && name.size() <= 26,
      count(name.size(), "character") + (name.size() >= 2 && name.size() <= 26 ? "" : ", 2 to 26"));
  check_expiry_service(t, data.substr(second + 1), U'^');
}

// ; PAN = YYMM SSS discretionary ?
void check_track2_layout(Track& t, Text data) {
  const std::size_t sep = data.find(U'=');
  add(t, "separators", sep != Text::npos, sep != Text::npos ? "" : "no field separator \"=\"");
  check_pan(t, data.substr(0, sep));
  if (sep != Text::npos) check_expiry_service(t, data.substr(sep + 1), U'=');
}

// ; format code (2 digits) PAN = ... ?  Only the PAN's part is checked: the rest is the
// issuer's.
void check_track3_layout(Track& t, Text data) {
  const std::size_t sep = data.find(U'=');
  if (data.size() < 3 || !digits(data.substr(0, 2)) || sep == Text::npos || sep < 3) {
    skip(t, "layout", "no format code and PAN before a separator: the issuer's own layout");
    return;
  }
  check_pan(t, data.substr(2, sep - 2));
}

Track make_track(int number, int start, Text data, std::optional<char32_t> lrc, bool framed,
                 const Framing& f) {
  Track t;
  t.number = number;
  t.start = start;
  t.data_length = static_cast<int>(data.size());
  if (data == U"E") {
    t.unreadable = true;
    add(t, "readable", false, "the reader sent \"E\": it could not read this track");
  } else if (data.empty()) {
    t.empty = true;
  }
  std::size_t bad = Text::npos;
  for (std::size_t i = 0; i < data.size() && bad == Text::npos; ++i) {
    if (!in_charset(number, data[i])) bad = i;
  }
  if (!t.unreadable) {
    add(t, "character set", bad == Text::npos,
        bad == Text::npos ? ""
                          : "character " + std::to_string(bad + 2) +
                                " of the track is not one "
                                "that track " +
                                std::to_string(number) + " can hold");
  }
  // Without an LRC on the wire the card's own length is data, sentinels and LRC.
  const int on_card = static_cast<int>(data.size()) + 3;
  t.length = on_card;
  add(t, "length", on_card <= kTrackLimit[number - 1],
      std::to_string(on_card) + " characters with sentinels and LRC, at most " +
          std::to_string(kTrackLimit[number - 1]));
  if (!framed) {
    skip(t, "codes", "the reader sends no leading and ending codes");
  } else if (f.lrc) {
    add(t, "LRC", lrc.has_value() && *lrc == card_lrc(number, data),
        lrc ? "" : "the swipe ends before the LRC");
  } else {
    skip(t, "LRC", "the reader does not send it");
  }
  if (t.unreadable || t.empty || bad != Text::npos) return t;
  if (number == 1) check_track1_layout(t, data);
  if (number == 2) check_track2_layout(t, data);
  if (number == 3) check_track3_layout(t, data);
  return t;
}

struct Reading {
  Swipe swipe;
  int cost = 0;  // what the framing leaves unexplained, failed checks aside
};

// A character that no track can hold is as unexplained as one outside every track.
int failures(const Swipe& s) {
  int n = 0;
  for (const Track& t : s.tracks) {
    for (const Check& c : t.checks) {
      if (c.verdict == Verdict::failed) n += c.name == "character set" ? 10 : 1;
    }
  }
  return n;
}

// Track 2 begins with the PAN, track 3 with a two-digit format code and then the PAN:
// the reading whose PAN passes the Luhn check tells them apart.
bool pan_passes(Text data, std::size_t skip) {
  const std::size_t sep = data.find(U'=');
  if (sep == Text::npos || sep <= skip) return false;
  const Text pan = data.substr(skip, sep - skip);
  return pan.size() >= 8 && pan.size() <= 19 && digits(pan) && luhn(pan);
}

int numeric_track(Text data) {
  const bool as2 = pan_passes(data, 0), as3 = pan_passes(data, 2);
  if (as2 != as3) return as2 ? 2 : 3;
  return data.size() + 3 > kTrackLimit[1] ? 3 : 2;
}

// Tracks framed by their leading code and ending code (or TAB), each perhaps with its LRC.
Reading read_framed(Text text, const Framing& f) {
  Reading r;
  r.swipe.seen = f;
  std::size_t pos = 0;
  int next = 1;
  const char32_t end = f.tab ? U'\t' : f.end;
  while (pos < text.size()) {
    // A track is named by its start sentinel and where it stands, whatever its data: a
    // reader that sends "+" for track 3 does so whatever its settings say.
    int number = 0;
    for (int n = next; n <= 3 && number == 0; ++n) {
      if (text[pos] == f.lead[n - 1] || (n == 3 && text[pos] == U'+')) number = n;
    }
    // Tracks 2 and 3 often share a start sentinel: the first such track is track 2, unless
    // the reader sends no track 2.
    if (number == 2 && f.lead[2] == f.lead[1] && !f.send[1] && f.send[2]) number = 3;
    if (number == 0) {
      r.swipe.problems.push_back(count(text.size() - pos, "character") + " from position " +
                                 std::to_string(pos + 1) + " belong to no track");
      r.cost += 10;
      break;
    }
    const std::size_t close = text.find(end, pos + 1);
    const std::size_t stop = close == Text::npos ? text.size() : close;
    const Text data = text.substr(pos + 1, stop - pos - 1);
    std::optional<char32_t> lrc;
    std::size_t after = stop;
    if (close != Text::npos) {
      ++after;
      if (f.lrc && after < text.size()) lrc = text[after++];
    }
    Track t = make_track(number, static_cast<int>(pos), data, lrc, true, f);
    t.lead_seen = true;
    t.lead = text[pos];
    if (close == Text::npos) {
      add(t, "codes", false, "the track has no ending code");
      r.cost += 10;
    } else {
      t.end = f.tab ? Track::End::tab : Track::End::code;
      t.end_code = end;
      t.lrc_seen = lrc.has_value();
    }
    r.swipe.tracks.push_back(std::move(t));
    next = number + 1;
    pos = after;
  }
  return r;
}

// Where `field` stands in `text` from `from` on, followed by "=" (no copy of the card's data
// is made to search with).
std::size_t find_field(Text text, Text field, std::size_t from) {
  for (std::size_t at = text.find(field, from); at != Text::npos; at = text.find(field, at + 1)) {
    if (at + field.size() < text.size() && text[at + field.size()] == U'=') return at;
  }
  return Text::npos;
}

// Without codes the tracks run together; they are told apart by the PAN that tracks 2
// and 3 repeat after track 1's, and by the track 1 format code, a letter.
Reading read_unframed(Text text) {
  Reading r;
  r.swipe.seen.lecodes = false;
  Framing f = r.swipe.seen;
  std::vector<std::pair<int, std::size_t>> starts;  // track, position
  std::size_t pos = 0;
  Text pan;
  if (!text.empty() && text[0] >= U'A' && text[0] <= U'Z') {
    starts.push_back({1, 0});
    if (text[0] == U'E' && text.size() > 1 && digit(text[1])) {
      pos = 1;  // "E", then the numeric tracks
    } else {
      const std::size_t sep = text.find(U'^');
      if (sep != Text::npos) pan = text.substr(1, sep - 1);
      const std::size_t name_end = sep == Text::npos ? Text::npos : text.find(U'^', sep + 1);
      pos = text.size();
      if (name_end != Text::npos && !pan.empty()) {
        const std::size_t at = find_field(text, pan, name_end + 1);
        if (at != Text::npos) pos = at;
        // A track 3 right after track 1: its two-digit format code comes first.
        const std::size_t at3 = find_field(text, pan, name_end + 3);
        if (at == Text::npos && at3 != Text::npos && at3 >= 2 && digits(text.substr(at3 - 2, 2)))
          pos = at3 - 2;
      }
    }
  }
  if (pos < text.size()) {
    const std::size_t sep = text.find(U'=', pos);
    if (pan.empty() && sep != Text::npos) pan = text.substr(pos, sep - pos);
    std::size_t at3 = Text::npos;
    if (!pan.empty() && sep != Text::npos) {
      const std::size_t again = find_field(text, pan, sep + 1);
      if (again != Text::npos && again >= pos + 2 && digits(text.substr(again - 2, 2)))
        at3 = again - 2;
    }
    const int number = at3 == Text::npos ? numeric_track(text.substr(pos)) : 2;
    starts.push_back({number, pos});
    if (at3 != Text::npos) starts.push_back({3, at3});
  }
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t from = starts[i].second;
    const std::size_t to = i + 1 < starts.size() ? starts[i + 1].second : text.size();
    r.swipe.tracks.push_back(make_track(starts[i].first, static_cast<int>(from),
                                        text.substr(from, to - from), std::nullopt, false, f));
  }
  return r;
}

void add_candidate(std::vector<Framing>& list, const Framing& f) {
  for (const Framing& g : list) {
    if (g.lecodes == f.lecodes && g.lead == f.lead && g.end == f.end && g.tab == f.tab &&
        g.lrc == f.lrc)
      return;
  }
  list.push_back(f);
}

}  // namespace

const char* verdict_name(Verdict v) {
  return v == Verdict::ok ? "ok" : v == Verdict::failed ? "failed" : "not checked";
}

bool Track::valid() const {
  return std::none_of(checks.begin(), checks.end(),
                      [](const Check& c) { return c.verdict == Verdict::failed; });
}

bool Swipe::valid() const {
  const bool data = std::any_of(tracks.begin(), tracks.end(),
                                [](const Track& t) { return !t.empty && !t.unreadable; });
  return problems.empty() && data &&
         std::all_of(tracks.begin(), tracks.end(), [](const Track& t) { return t.valid(); });
}

Framing framing_of(const Bytes& b) {
  SettingsBlock block;
  load_block(block, b.data());
  Framing f;
  f.send = {!get_bit(block, Bit::t1off), !get_bit(block, Bit::t2off), !get_bit(block, Bit::t3off)};
  f.lecodes = get_bit(block, Bit::lecodes);
  f.lead = {block.mr2, block.mr3, block.mr4};
  f.end = block.mr5;
  f.tab = get_bit(block, Bit::tabend);
  f.lrc = get_bit(block, Bit::lrc);
  f.nocr = get_bit(block, Bit::nocr);
  f.addcr = get_bit(block, Bit::addcr);
  return f;
}

char32_t card_lrc(int number, Text data) {
  // In 8-bit arithmetic, so that a character outside the track's set (the "E" of an
  // unreadable track 2) still has one definite LRC; within the set it is the card's.
  const unsigned base = base_of(number);
  unsigned x = ((start_sentinel(number) - base) ^ (U'?' - base)) & 0xFFu;
  for (char32_t c : data) x ^= (static_cast<unsigned>(c) - base) & 0xFFu;
  return (base + x) & 0xFFu;
}

std::string code_text(char32_t c) {
  if (c >= 0x21 && c <= 0x7E) return std::string(1, static_cast<char>(c));
  char text[12];
  std::snprintf(text, sizeof text, c > 0xFF ? "U+%04X" : "0x%02X", static_cast<unsigned>(c));
  return text;
}

bool swipe_complete(Text text, const Framing& f) {
  const int crs = f.crs();
  if (crs == 0 || static_cast<int>(text.size()) <= crs) return false;
  for (int i = 1; i <= crs; ++i) {
    if (text[text.size() - i] != U'\r') return false;
  }
  return text[text.size() - crs - 1] != U'\r';
}

Swipe analyze(Text text, const std::optional<Framing>& expected) {
  const int characters = static_cast<int>(text.size());
  int crs = 0;
  while (!text.empty() && text.back() == U'\r') {
    text.remove_suffix(1);
    ++crs;
  }
  std::vector<Framing> candidates;
  if (expected && expected->lecodes) add_candidate(candidates, *expected);
  Framing english;
  Framing jis2 = english;
  jis2.lead[1] = U'?';
  jis2.end = U';';
  std::vector<Framing> codes{english, jis2};
  if (expected) {
    Framing own = english;
    own.lead = expected->lead;
    own.end = expected->end;
    codes.insert(codes.begin(), own);
  }
  for (const Framing& c : codes) {
    for (bool tab : {false, true}) {
      for (bool lrc : {false, true}) {
        Framing f = c;
        f.tab = tab;
        f.lrc = lrc;
        add_candidate(candidates, f);
      }
    }
  }
  // Sentinels name the tracks: a framing that finds a track where the swipe begins wins
  // whatever the tracks' checks say, and of several the one that leaves least unexplained,
  // then whose tracks pass most. A reader without codes begins with a format code or a
  // digit, which is no start sentinel: only then is the unframed reading weighed, and it
  // is taken only outright.
  Reading best = read_unframed(text);
  best.cost += failures(best.swipe);
  std::optional<Reading> framed;
  int framed_failures = 0;
  for (const Framing& f : candidates) {
    Reading r = read_framed(text, f);
    const int n = failures(r.swipe);
    if (!framed || std::make_pair(r.cost, n) < std::make_pair(framed->cost, framed_failures)) {
      framed = std::move(r);
      framed_failures = n;
    }
  }
  if (framed && (!framed->swipe.tracks.empty() || framed->cost + framed_failures <= best.cost)) {
    best = std::move(*framed);
  }
  Swipe s = std::move(best.swipe);
  s.characters = characters;
  s.crs = crs;
  s.seen.nocr = crs == 0;
  s.seen.addcr = crs >= 2;
  if (text.empty()) {
    s.tracks.clear();
    s.problems = {"no track: nothing but carriage returns arrived"};
  } else if (s.tracks.empty()) {
    s.problems.push_back("no track found");
  }
  if (crs > 2) s.problems.push_back(count(crs, "carriage return") + " at the end, at most 2");
  return s;
}

}  // namespace msr::profile
