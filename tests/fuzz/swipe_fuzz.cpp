// Whatever a reader sends as a swipe, read with whatever profile: the parser and every
// form of its report stay within their buffers, and none of them shows a card's number
// beyond its last four digits, nor its name or discretionary data. Inputs often carry a
// test card's tracks, framed as the profile frames them, spliced into the fuzzer's bytes,
// so that the masking is tried on swipes that parse as well as on broken ones.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "msrprofile/profile/codec.h"
#include "msrprofile/swipe/swipe.h"
#include "msrprofile/swipe/swipe_report.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

using msr::fuzz::check;
using msr::profile::Bytes;
using msr::profile::Framing;

// Test cards only: numbers no issuer gives out, a name and discretionary data that say so.
constexpr std::string_view kPans[] = {"4111111111111111", "5555555555554444", "378282246310005",
                                      "6011000990139424", "4012888888881881", "3566002020360505"};
constexpr std::string_view kName = "TESTCARD/VISA";
constexpr std::string_view kDiscretionary = "1019876543210";

std::u32string wide(std::string_view s) {
  return {s.begin(), s.end()};
}

// One track as the reader frames it: its code, the data, the end and the card's LRC.
std::u32string framed(const Framing& f, int number, std::string_view data) {
  std::u32string t;
  if (f.lecodes) t += f.lead[static_cast<std::size_t>(number - 1)];
  t += wide(data);
  if (f.lecodes) {
    t += f.tab ? U'\t' : f.end;
    if (f.lrc) t += msr::profile::card_lrc(number, wide(data));
  }
  return t;
}

// A test card's swipe: which tracks from `kind`, framed by `f`.
std::u32string card(const Framing& f, std::string_view pan, unsigned kind) {
  const std::string expiry_and_more = "2512" + std::string(kDiscretionary);
  std::u32string s;
  if (kind & 1) {
    s += framed(f, 1, "B" + std::string(pan) + "^" + std::string(kName) + "^" + expiry_and_more);
  }
  if (kind & 2) s += framed(f, 2, std::string(pan) + "=" + expiry_and_more);
  if (kind & 4) s += framed(f, 3, "01" + std::string(pan) + "=" + expiry_and_more);
  if (kind == 0) s += wide(pan);  // bare digits, in no track
  for (int i = 0; i < f.crs(); ++i) s += U'\r';
  return s;
}

bool contains_digits_of(std::string_view report, std::string_view secret, std::size_t window) {
  for (std::size_t i = 0; i + window <= secret.size(); ++i) {
    if (report.find(secret.substr(i, window)) != std::string_view::npos) return true;
  }
  return false;
}

// The same as bytes the way --show-bin would write them ("34 31 31 31 31"), upper or lower
// case, with or without the spaces.
bool contains_hex_of(std::string_view report, std::string_view secret, std::size_t window) {
  for (const char* format : {"%02X", "%02x"}) {
    for (const std::size_t gap : {1, 0}) {
      std::string hex;
      char two[3];
      for (char c : secret) {
        std::snprintf(two, sizeof two, format, static_cast<unsigned char>(c));
        hex += std::string(hex.empty() ? 0 : gap, ' ') + two;
      }
      for (std::size_t i = 0; i + window <= secret.size(); ++i) {
        const std::string_view run =
            std::string_view(hex).substr(i * (2 + gap), window * (2 + gap) - gap);
        if (report.find(run) != std::string_view::npos) return true;
      }
    }
  }
  return false;
}

// A report leaks when it holds five characters of the number in a row (the last four
// are all it may show), or any stretch of the name or discretionary data.
void check_masked(const std::string& report, const std::u32string& text) {
  for (std::string_view pan : kPans) {
    if (text.find(wide(pan)) == std::u32string::npos) continue;
    check(!contains_digits_of(report, pan, 5));
    check(!contains_hex_of(report, pan, 5));
    check(!contains_digits_of(report, kName, 5));
    check(!contains_digits_of(report, kDiscretionary, 5));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  // Set-up: a flags byte, then the profile's bytes; the rest is what the reader sent.
  msr::fuzz::SwipeSetup set;
  if (!set.take(data, size)) return 0;
  const std::uint8_t flags = set.flags;
  const Bytes& profile = set.profile;
  const bool with_profile = flags & 1;
  const auto source = static_cast<msr::profile::Source>((flags >> 1 & 3) % 3);
  const std::optional<Framing> framing =
      with_profile ? std::optional<Framing>(set.framing) : std::nullopt;

  // The reader's characters: a byte each; 0xFF takes the next two as one wider character,
  // as a keyboard source can give.
  std::u32string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      text += static_cast<char32_t>(data[i + 1] << 8 | data[i + 2]);
      i += 2;
    } else {
      text += static_cast<char32_t>(data[i]);
    }
  }
  // Bits 3..7: a test card spliced in where the first of the reader's bytes says.
  const unsigned splice = flags >> 3;
  if (splice != 0) {
    const std::string_view pan = kPans[splice % std::size(kPans)];
    const std::size_t at = text.empty() ? 0 : text[0] % (text.size() + 1);
    const Framing f = framing.value_or(Framing{});
    text.insert(at, card(f, pan, splice >> 2 & 7));
  }

  msr::profile::SwipeResult result;
  result.swipe = msr::profile::analyze(text, framing);
  check(result.swipe.characters == static_cast<int>(text.size()));
  for (const msr::profile::Track& t : result.swipe.tracks) {
    check(t.number >= 1 && t.number <= 3);
    check(t.pan_last4.empty() || t.pan_last4.size() == 4);
  }
  if (with_profile) {
    result.options = msr::profile::compare_swipe(result.swipe, source, profile, &result.seen);
  }
  (void)msr::profile::swipe_complete(text, framing.value_or(Framing{}));
  const Bytes* shown = with_profile ? &profile : nullptr;
  std::string report = msr::profile::swipe_text(result, 1, 1, shown, "the profile");
  report += msr::profile::swipe_json(result, shown).dump();
  report += msr::profile::swipe_layout(result.swipe);
  check_masked(report, text);
  msr::profile::wipe(text.data(), text.size() * sizeof(char32_t));
  return 0;
}
