// msrprofile's command line.
#pragma once

#include <iosfwd>

#include "msrprofile/exit_codes.h"

namespace msr::profile {

struct Host;

// The offline commands alone need no host; the device commands reach readers the way
// `host` says.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, const Host& host);

}  // namespace msr::profile
