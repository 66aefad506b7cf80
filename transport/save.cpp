#include "transport/save.h"

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "transport/transports.h"
#include "transport/usb/usb.h"
#include "transport/vcom/vcom.h"

namespace msr {
namespace {

// A sequence that opened the reader but whose write entry point did not answer 0 failed,
// whatever nofail made of its result: -d excuses an unreachable reader, not a refusal.
bool usb_failed(int result) {
  return result != 0 || (g_usb.opened && !g_usb.written);
}

// Writes p2j, mr1..mr7 as the read found them, keeping the user's block as it is.
bool restore_base() {
  if (!g_usb.base_read) return false;
  const SettingsBlock edited = blk();
  load_base_block(blk(), g_usb.base_as_read);
  log_write(" restore base block as read \n");
  g_transports.setusb(1);
  blk() = edited;
  const bool ok = g_usb.written;
  log_write(" restore base block=%d \n", ok ? 1 : 0);
  return ok;
}

const char* holds_name(Holds h) {
  switch (h) {
    case Holds::new_settings:
      return "new";
    case Holds::old_settings:
      return "old";
    case Holds::new_base_old_ext:
      return "new base, old extended";
    default:
      return "unknown";
  }
}

SaveOutcome save_usb_blocks();

SaveOutcome logged(SaveOutcome o, const char* what) {
  if (!o.ok()) log_write(" save failed: %s, reader holds %s \n", what, holds_name(o.holds));
  return o;
}

}  // namespace

SaveOutcome save_usb() {
  // A sequence that can't open the reader clears usb; the reader is still a USB reader,
  // and a save tried again must go the same way.
  const std::int32_t usb = g_shell.usb;
  const SaveOutcome o = save_usb_blocks();
  g_shell.usb = usb;
  return o;
}

namespace {

SaveOutcome save_usb_blocks() {
  // A block counts as taken when its write entry point answered 0, even when closing the
  // reader failed afterwards: putting the base block back then would make the half
  // configuration this is here to prevent.
  SaveOutcome o;
  const int base = g_transports.setusb(1);
  if (usb_failed(base) && !g_usb.written) {
    o.failure = g_usb.opened ? SaveFailure::base_block : SaveFailure::unreachable;
    o.holds = Holds::old_settings;
    return logged(o, o.failure == SaveFailure::unreachable ? "no reader answered"
                                                           : "base block (p2j, mr1..mr7)");
  }
  // Silent mode reads nothing first, so ext_f is 0 there and setusb1 writes nothing.
  const bool ext_asked = g_usb.ext_f != 0;
  if (!usb_failed(g_transports.setusb1(1)) || !ext_asked || g_usb.written) return o;
  o.failure = SaveFailure::extended_block;
  o.restore_tried = true;
  o.restore_ok = restore_base();
  o.holds = o.restore_ok ? Holds::old_settings : Holds::new_base_old_ext;
  return logged(o, "extended block (kq1..kq7)");
}

}  // namespace

SaveOutcome save_vcom() {
  SaveOutcome o;
  o.port = g_vcom.read_port != 0 ? g_vcom.read_port : g_shell.cport;
  g_vcom.last_write = ComWrite::not_tried;
  g_transports.setcom(1);
  switch (g_vcom.last_write) {
    case ComWrite::written:
      return o;
    case ComWrite::switch_not_sent:
      o.failure = SaveFailure::switch_not_sent;
      o.holds = Holds::new_settings;
      return logged(o, "reset");
    case ComWrite::answers_differently:
      o.failure = SaveFailure::answers_differently;
      o.holds = Holds::unknown;
      return logged(o, "reader answers differently");
    case ComWrite::not_sent:
      o.failure = SaveFailure::not_sent;
      o.holds = Holds::old_settings;
      return logged(o, "settings write command");
    default:
      o.failure = SaveFailure::unreachable;
      o.holds = Holds::old_settings;
      return logged(o, "no reader answered");
  }
}

std::string save_failure_text(const SaveOutcome& o, const std::string& port_name) {
  const std::string reader = port_name.empty() ? "The reader" : "The reader on " + port_name;
  std::string text;
  switch (o.failure) {
    case SaveFailure::none:
      return {};
    case SaveFailure::unreachable:
      text = reader + " did not answer, so nothing was written.";
      break;
    case SaveFailure::base_block:
      text = reader + " did not take the new settings.";
      break;
    case SaveFailure::extended_block:
      text = reader + " took the new basic settings but not the extended ones.";
      break;
    case SaveFailure::not_sent:
      text = "The new settings could not be sent to " +
             (port_name.empty() ? "the reader" : port_name) + ".";
      break;
    case SaveFailure::answers_differently:
      text = reader +
             " now answers differently from when it was read: another program changed it "
             "since, or its answers can't be trusted. Nothing was written.";
      break;
    case SaveFailure::switch_not_sent:
      text = reader +
             " took the new settings, but the command that switches its interface could not "
             "be sent: it stays on its present interface until it is plugged in again.";
      break;
  }
  if (o.restore_tried) {
    text += o.restore_ok ? " Its previous basic settings were written back."
                         : " Writing its previous basic settings back failed too.";
  }
  switch (o.holds) {
    case Holds::old_settings:
      text += "\n\nThe reader still holds its previous settings.";
      break;
    case Holds::new_base_old_ext:
      text += "\n\nThe reader now holds the new basic settings and its previous extended settings.";
      break;
    case Holds::new_settings:
      text += "\n\nThe reader now holds the new settings.";
      break;
    case Holds::unknown:
      break;
  }
  return text;
}

}  // namespace msr
