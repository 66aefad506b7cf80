#include "app/process_state.h"

#include <cstdio>

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "transport/ps2/ps2.h"
#include "transport/transports.h"
#include "transport/usb/usb.h"
#include "transport/vcom/vcom.h"
#include "ui/Unit1.h"

namespace msr {

void reset_process_state() {
  if (g_log.stream != nullptr) std::fclose(g_log.stream);
  g_log = {};
  g_shell = {};
  g_settings = {};
  g_vcom = {};
  g_usb = {};
  g_ps2 = {};
  Application.Reset();
  g_transports = real_transports();
}

}  // namespace msr
