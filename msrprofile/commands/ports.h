// msrprofile ports.
#pragma once

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

namespace msr::profile {

// Lists the ports on `io.out` (the notes on standard error), or one JSON document.
int cmd_ports(Io io, const Host& host, bool json);

}  // namespace msr::profile
