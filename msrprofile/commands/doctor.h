// msrprofile doctor: everything this machine tells about its reader, one finding a line,
// with what to do where something is wrong. It only reads: no command that changes a
// reader's settings is ever sent.
#pragma once

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

namespace msr::profile {

// kExitOk: a reader was found and nothing is wrong; kExitDiffers: a reader was found, with
// a warning (the keyboard layout, a device that answered wrongly); kExitNoReader: none.
int cmd_doctor(Io io, const Host& host, bool json);

}  // namespace msr::profile
