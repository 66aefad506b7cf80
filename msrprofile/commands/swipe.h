// msrprofile swipe's check of one test swipe, which station makes after each write.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

namespace msr::profile {

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
