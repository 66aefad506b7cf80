// USB HID transport: the reader's USB support library, the base block (setusb) and the
// extended block with the interface switch (setusb1).
#pragma once

#include <cstdint>

namespace msr {

struct UsbState {
  std::int32_t ext_f = 0;  // the reader has the extended block (or nofail)
};
inline UsbState g_usb;

int setusb(int mode);
int setusb1(int mode);

}  // namespace msr
