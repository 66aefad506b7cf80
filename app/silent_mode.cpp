#include "app/modes.h"
#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_file.h"
#include "transport/ps2/ps2.h"
#include "transport/usb/usb.h"
#include "transport/vcom/vcom.h"

namespace msr {

int silent_mode(int pos) {
  log_write(" -init- \n");
  readf();
  // Exactly one transport; what it reports does not change the exit code.
  if (g_shell.usb) {
    setusb(1);
    setusb1(1);
  } else if (g_shell.vcom) {
    setcom(1);
  } else {
    setps2();
  }
  return pos;
}

}  // namespace msr
