#include "transport/vcom/vcom.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "transport/vcom/protocol.h"
#include "transport/vcom/serial_port.h"

namespace msr {
namespace {

// Releases port n's slot and handle.
void drop(int n) {
  os().CloseHandle(g_vcom.hComTab[n]);
  g_vcom.hComTab[n] = invalid_handle();
}

void take_settings(const unsigned char* reply) {
  load_base_block(blk(), reply);
  blk().kq1 = reply[8];
}

// The write record carries kq1 where the read record has mr7: the firmware byte is the
// reader's own and is never written.
void put_settings(unsigned char* data) {
  const SettingsBlock& b = blk();
  const unsigned char record[8] = {b.p2j, b.mr1, b.mr2, b.mr3, b.mr4, b.mr5, b.mr6, b.kq1};
  std::memcpy(data, record, sizeof record);
}

// What is written is the block as it stands (edited, or loaded from the settings file),
// never the reply the probe just read.
ComWrite write_settings(Handle h, unsigned char* reply) {
  put_settings(reply);
  if (wrcom(1, h, reply) != 0) return ComWrite::not_sent;
  // Settings that select the keyboard interface take effect only after a reset.
  if (g_shell.cif && (blk().kq1 & 0x01) == 0) {
    std::memset(reply, 0, 32);
    const unsigned char reset[] = {0x1D, 0x4D, 0x52, 0xFF, 0xAA};
    std::memcpy(reply, reset, sizeof reset);
    if (wrcom(2, h, reply) != 0) return ComWrite::switch_not_sent;
  }
  return ComWrite::written;
}

}  // namespace

ComRange com_range() {
  // The range is worked out in 64 bits: a port number from the command line or the
  // registry may be as large as an int holds, and one past it must not wrap.
  std::int64_t first, end;
  if (g_shell.cport != 0) {
    first = g_shell.cport;
    end = static_cast<std::int64_t>(g_shell.cport) + 1;
  } else {
    first = 1;
    end = static_cast<std::int64_t>(maxcom()) + 1;
  }
  if (end > kComSlots) end = kComSlots;
  if (first < 1) first = 1;
  if (end <= first) return ComRange{};
  return ComRange{static_cast<int>(first), static_cast<int>(end)};
}

int chkcom(int mode) {
  log_write(" in chkcom at %ld, cport=%d \n", log_time(), static_cast<int>(g_shell.cport));
  if (g_shell.usb) return 1;
  if (mode == 0) blk().mr7 = 0;
  if (mode != 0) g_vcom.last_write = ComWrite::no_answer;  // until a port answers

  const ComRange range = com_range();
  const int first = range.first, end = range.end;

  for (Handle& h : g_vcom.hComTab) h = invalid_handle();
  g_vcom.busy_com = 0;

  unsigned char reply[32] = {};
  char port[16] = {};
  int found = -1;
  // A write after a read goes only to the port that was read: another port may hold
  // another reader, whose settings nobody has seen.
  const int only = mode != 0 ? g_vcom.read_port : 0;
  // Highest first: a reader added later usually gets the highest number.
  for (int n = end - 1; n >= first; --n) {
    if (only != 0 && n != only) continue;
    std::snprintf(port, sizeof port, "%d", n);
    const PortOpening opening = open_port(port);
    g_vcom.hComTab[n] = opening.handle;
    if (g_vcom.hComTab[n] == invalid_handle()) {
      if (opening.create_error == kErrorAccessDenied && g_vcom.busy_com == 0) g_vcom.busy_com = n;
      continue;
    }
    settimeout(g_vcom.hComTab[n]);
    if (wrcom(0, g_vcom.hComTab[n], reply) != 0) {
      drop(n);
      continue;
    }
    found = n;
    break;
  }
  if (found < 0) return 0;

  Handle h = g_vcom.hComTab[found];
  if (mode == 0) {
    std::snprintf(g_vcom.cportStr, sizeof g_vcom.cportStr, "%.*s",
                  static_cast<int>(sizeof g_vcom.cportStr - 1), port);
    take_settings(reply);
    g_vcom.read_port = found;
    std::memcpy(g_vcom.record_as_read, reply, sizeof g_vcom.record_as_read);
    getjis2(h, reply);
    getcif(h, reply);
  } else if (found == g_vcom.read_port &&
             std::memcmp(reply, g_vcom.record_as_read, sizeof g_vcom.record_as_read) != 0) {
    // Something else changed the reader since it was read, or its answers can't be
    // trusted: writing now would overwrite settings nobody has seen.
    g_vcom.last_write = ComWrite::answers_differently;
    log_write(" reader answers differently than at the read: not written \n");
  } else {
    g_vcom.last_write = write_settings(h, reply);
  }
  drop(found);
  return 0;
}

int setcom(int mode) {
  log_write(" in setcom, mode=%d, tm=%ld \n", mode, log_time());
  chkcom(mode);
  // A zero firmware byte is how an unanswered probe shows.
  if (blk().mr7 != 0) {
    g_shell.status = std::string("USB  vCOM") + g_vcom.cportStr + "  MSR";
    g_shell.vcom = 1;
  } else {
    g_shell.status = " No MSR";
  }
  log_write(" out setcom at %ld \n", log_time());
  log_flush();
  return blk().mr7 == 0 && !g_shell.nofail ? 1 : 0;
}

}  // namespace msr
