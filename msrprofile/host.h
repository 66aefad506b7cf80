// The platform msrprofile is built for, as the device commands reach it.
#pragma once

#include "msrprofile/reader/reader.h"

namespace msr::profile {

// Installs the platform's operating-system boundary and says how it reaches readers.
Host native_host();

}  // namespace msr::profile
