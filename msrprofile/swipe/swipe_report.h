// What `msrprofile swipe` tells about a swipe: its tracks and checks as text or JSON, the
// options of a profile the swipe showed (or could not show), and the layout diagnosis.
// Only masked card data reaches these: the PAN's length and last four, verdicts, counts.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "msrprofile/profile/codec.h"
#include "msrprofile/swipe/swipe.h"

namespace msr::profile {

// Where the swipe came from, which decides the interface it proves.
enum class Source { vcom, keyboard, evdev };

struct OptionCheck {
  const Option* option = nullptr;
  Verdict verdict = Verdict::not_checked;  // ok: the swipe showed what the profile says
  std::string why;                         // not checked: why not
};

// Every option that shapes a swipe, in profile order: what `profile` says against what
// `swipe` showed. `seen` gets the profile's bytes with the options the swipe showed put in.
// A profile that leaves `interface` out says nothing about it, so it is not checked.
std::vector<OptionCheck> compare_swipe(const Swipe& swipe, Source source, const Bytes& profile,
                                       Bytes* seen, bool interface_left_out = false);

// The layout diagnosis as the report shows it.
struct LayoutNote {
  std::string finding;      // "fits", "host_layout", "none_of_eight", "ambiguous", "not_layout"
  std::string host_layout;  // the layout's Windows name, host_layout only
  std::string advice;
};

struct SwipeResult {
  Swipe swipe;
  std::optional<LayoutNote> layout;
  std::vector<OptionCheck> options;  // empty without a profile
  Bytes seen{};
  bool matches() const;  // valid, and no option differs
};

std::string swipe_text(const SwipeResult& r, int index, int count, const Bytes* profile,
                       const std::string& profile_name);
nlohmann::ordered_json swipe_json(const SwipeResult& r, const Bytes* profile);

// --show-bin: the swipe's layout, its framing codes as bytes and the card's data as
// counts: "25 <track 1: 62 characters> 3F <LRC> 0D".
std::string swipe_layout(const Swipe& s);

}  // namespace msr::profile
