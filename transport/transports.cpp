#include "transport/transports.h"

#include "transport/ps2/ps2.h"
#include "transport/usb/usb.h"
#include "transport/vcom/vcom.h"

namespace msr {

Transports real_transports() {
  return Transports{[](int mode) { return setcom(mode); }, [](int mode) { return setusb(mode); },
                    [](int mode) { return setusb1(mode); }, [] { setps2(); }};
}

Transports g_transports = real_transports();

}  // namespace msr
