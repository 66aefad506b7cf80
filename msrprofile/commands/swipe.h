// msrprofile swipe: waits for a swipe on the reader's virtual COM port or keyboard, and
// reports its tracks, validated and masked, against a profile when one is given.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

namespace CLI {
class App;
}

namespace msr::profile {

struct SwipeArgs {
  std::string vcom;  // empty: not given; "true" for --vcom alone, N for --vcom=N
  std::string port, evdev, profile;
  bool keyboard = false, from_reader = false, json = false, show_bin = false;
  int timeout = 30, count = 1;
};

// Adds the command and its options to `app`, filling `args`.
CLI::App* add_swipe_command(CLI::App& app, SwipeArgs& args);

int cmd_swipe(Io io, const Host& host, const SwipeArgs& a);

// One test swipe on a reader just programmed with `profile`, checked as swipe --profile
// checks it: on COM `com` for a vCOM target, on this console for a USB (keyboard) one.
struct SwipeCheck {
  int exit = 0;                 // as swipe's: 0 valid and as the profile says, 1 not, 2 none came
  std::string outcome;          // "valid", "differs", "invalid", "no_swipe", "usage"
  std::string detail;           // otherwise: what differs or why no swipe, masked
  nlohmann::ordered_json json;  // the swipe as swipe --json reports it; null when none came
};
SwipeCheck check_swipe(Io io, const Host& host, const Target& t, int com, const Bytes& profile,
                       int timeout_s);

}  // namespace msr::profile
