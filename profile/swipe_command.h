// msrprofile swipe: waits for a swipe on the reader's virtual COM port or keyboard, and
// reports its tracks, validated and masked, against a profile when one is given.
#pragma once

#include <string>

#include "profile/output.h"
#include "profile/reader.h"

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

}  // namespace msr::profile
