// The real operating system: every boundary call made with Win32.
#pragma once

#include "platform/os.h"

namespace msr {

// The process's one real instance.
Os& win32_os();

}  // namespace msr
