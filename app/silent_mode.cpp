#include "app/modes.h"
#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_file.h"
#include "transport/ps2/ps2.h"
#include "transport/save.h"
#include "transport/transports.h"

namespace msr {
namespace {

// The PS/2 write as a save's outcome: the driver is the way to the reader, and it says
// whether the reader took the block.
SaveOutcome save_ps2() {
  g_transports.setps2();
  SaveOutcome o;
  if (!g_ps2.driver_opened) {
    o.failure = SaveFailure::unreachable;
    log_write(" save failed: no keyboard-wedge driver answered \n");
  } else if (!g_ps2.block_taken) {
    o.failure = SaveFailure::base_block;
    log_write(" save failed: the reader did not take the block \n");
  }
  return o;
}

}  // namespace

int silent_mode(int pos) {
  log_write(" -init- \n");
  readf();
  // Exactly one transport; its outcome decides the exit code.
  SaveOutcome o;
  if (g_shell.usb) {
    o = save_usb();
  } else if (g_shell.vcom) {
    o = save_vcom();
  } else {
    o = save_ps2();
  }
  int code = pos;
  if (o.failure == SaveFailure::unreachable) {
    if (!g_shell.nofail) code = kExitNoReader;
  } else if (!o.ok()) {
    code = kExitWriteFailed;
  }
  if (code != pos) log_write(" silent write failed, exit=%d \n", code);
  return code;
}

}  // namespace msr
