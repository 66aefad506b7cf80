// A swipe as the host receives it: the tracks found in it with their framing, each
// validated as the card formats require, and what may be shown of the card (the PAN as
// its length and last four digits, everything else as checks that passed or failed).
//
// The framing read here is the one the stand-ins send (sim/swipe/framing.h documents it):
// per track the leading code, the data between the card's sentinels, the ending code or a
// TAB and the LRC, then one carriage return and perhaps a second. Nothing here keeps a
// copy of the card's data: results hold counts, verdicts and positions only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msrprofile/card_memory.h"
#include "msrprofile/profile/codec.h"

namespace msr::profile {

// How a reader frames a swipe: the options of the block that shape its text.
struct Framing {
  std::array<bool, 3> send{true, true, true};  // tracks 1..3
  bool lecodes = true;
  std::array<char32_t, 3> lead{U'%', U';', U';'};
  char32_t end = U'?';
  bool tab = false;  // a TAB instead of the ending code
  bool lrc = false;
  bool nocr = false, addcr = false;
  int crs() const { return (nocr ? 0 : 1) + (addcr ? 1 : 0); }
};
Framing framing_of(const Bytes& b);

// The card formats' limits: most characters per track, sentinels and LRC included.
inline constexpr int kTrackLimit[3] = {79, 40, 107};
// A burst longer than this is no swipe (three full tracks and their framing are ~240).
inline constexpr std::size_t kMaxSwipe = 2048;

enum class Verdict { ok, failed, not_checked };
const char* verdict_name(Verdict v);  // "ok", "failed", "not checked"

struct Check {
  std::string name;  // "character set", "LRC", "Luhn", ...
  Verdict verdict = Verdict::ok;
  std::string detail;  // for a person; positions and counts, never a character of the card
};

struct Track {
  int number = 0;           // 1..3
  int start = 0;            // position of its first character in the swipe
  int data_length = 0;      // the characters between the card's sentinels
  int length = 0;           // data, start and end sentinel and LRC: as on the card
  bool unreadable = false;  // the reader sent "E" for it
  bool empty = false;       // the reader sent the codes with nothing between them
  // Framing as the swipe showed it.
  bool lead_seen = false;
  char32_t lead = 0;
  enum class End { none, code, tab } end = End::none;
  char32_t end_code = 0;
  bool lrc_seen = false;
  std::vector<Check> checks;
  // What may be shown of the card (track 1 and 2, or a track 3 that carries a PAN).
  int pan_length = -1;    // -1: no PAN found
  std::string pan_last4;  // empty when the PAN is shorter than 12 or its end isn't digits
  int name_length = -1;   // track 1: -1 when no name field
  bool valid() const;
};

struct Swipe {
  int characters = 0;  // what arrived, CRs included
  std::vector<Track> tracks;
  int crs = 0;                        // carriage returns at the end
  Framing seen;                       // the framing that reads it best
  std::vector<std::string> problems;  // about the swipe as a whole
  bool valid() const;
};

// Reads `text` with the framing that explains it best: `expected` (the profile's) first,
// then the default sets' codes, with and without LRC, TAB or codes at all.
Swipe analyze(std::u32string_view text, const std::optional<Framing>& expected);

// True once `text` ends as `f` ends a swipe: its carriage returns after a track. With no
// CR in the framing only the quiet time after the last character ends it.
bool swipe_complete(std::u32string_view text, const Framing& f);

// The LRC a card carries for `data` between its sentinels on track `number`.
char32_t card_lrc(int number, std::u32string_view data);

// A code as a person reads it: the character where it is printable ASCII, else "0x0D".
std::string code_text(char32_t c);

}  // namespace msr::profile
