// PS/2 wedge transport: writes the base block through the keyboard-wedge driver, then
// nudges the touch driver and frees the cursor.
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace msr {

struct Ps2State {
  Handle hd = invalid_handle();  // open keyboard-wedge driver
  std::uint32_t win95_f = 0;     // the driver opened is the 9x one
  unsigned char io[64] = {};     // driver I/O buffer, in and out of every control call
  // What the last setps2 came to, for a caller that reports it: a keyboard-wedge driver
  // opened, and the reader took the block.
  bool driver_opened = false;
  bool block_taken = false;
  const char* driver = nullptr;  // the device path dopen last opened; null: none
};
inline Ps2State g_ps2;

// The whole sequence: open the wedge driver, probe it, write p2j, mr1..mr7 (three
// attempts at most), tell the touch driver, close.
void setps2();

// Opens "\\.\VIDEDU", "\\.\krnldrvr" or the 9x VxD, in that order, stores the handle in
// hd and logs the driver's version. The invalid handle means no driver.
Handle dopen(std::int32_t tag);
// Keyboard-controller probe: the driver's byte count, 0 without a driver.
std::uint32_t t8042();
// Writes p2j, mr1..mr7: the driver's byte count when it answered with 20 or more, else 0.
std::uint32_t wmr();
// Touch driver: 0 done, 1 it didn't open, 2 its control call failed, 3 skipped on 9x.
int tchctl();

}  // namespace msr
