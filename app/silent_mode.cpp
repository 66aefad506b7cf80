#include "app/modes.h"
#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_file.h"
#include "transport/transports.h"

namespace msr {

int silent_mode(int pos) {
  log_write(" -init- \n");
  readf();
  // Exactly one transport; what it reports does not change the exit code.
  if (g_shell.usb) {
    g_transports.setusb(1);
    g_transports.setusb1(1);
  } else if (g_shell.vcom) {
    g_transports.setcom(1);
  } else {
    g_transports.setps2();
  }
  return pos;
}

}  // namespace msr
