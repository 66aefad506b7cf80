// msrprofile station: a bench that programs one reader after another with one profile,
// each as write programs it, and says for each what became of it and what to do with it.
#pragma once

#include <string>

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

namespace msr::profile {

struct StationArgs {
  std::string profile;
  Target target;
  int count = 0;        // readers to take; 0: until stopped
  std::string results;  // empty: no results file
  bool swipe = false, json = false;
  int swipe_timeout = 30;  // seconds for each test swipe
};

int cmd_station(Io io, const Host& host, const StationArgs& a);

}  // namespace msr::profile
