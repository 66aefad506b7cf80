// PS/2 wedge transport: writes the base block through the keyboard-wedge driver.
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace msr {

struct Ps2State {
  Handle hd = invalid_handle();  // open keyboard-wedge driver
  std::uint32_t win95_f = 0;     // the driver opened is the 9x one
  unsigned char io[64] = {};     // driver I/O buffer, in and out of every control call
};
inline Ps2State g_ps2;

void setps2();

}  // namespace msr
