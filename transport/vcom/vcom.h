// vCOM detection and programming: find the reader on the COM ports, highest first, and
// read its settings into the block or write the block to it.
#pragma once

#include "platform/os.h"

namespace msr {

inline constexpr int kComSlots = 299;  // COM port numbers 0..298 have a slot

// What the last write (chkcom in a write mode) came to.
enum class ComWrite {
  not_tried,            // no write asked for yet
  no_answer,            // no port answered the probe: nothing was sent
  answers_differently,  // the reader's record is not the one it gave at the read
  not_sent,             // the settings write command did not go out whole
  switch_not_sent,      // the settings went out, the reset that switches the interface did not
  written,              // the settings write command (and any reset) went out whole
};

struct VcomState {
  Handle hComTab[kComSlots];  // one slot per COM port number 0..298
  char cportStr[8] = {};      // port text of the last successful read
  // The record (p2j, mr1..mr7, kq1) and port of the last successful read: a write to that
  // port goes ahead only while the reader still answers with it.
  int read_port = 0;
  unsigned char record_as_read[9] = {};
  ComWrite last_write = ComWrite::not_tried;
  // The first port the last probe found held by another program (opening it was denied),
  // 0 for none: where no reader answered, that may be why.
  int busy_com = 0;
  VcomState() {
    for (Handle& h : hComTab) h = invalid_handle();
  }
};
inline VcomState g_vcom;

// The ports a probe visits, from end - 1 down to first: only cport when one is named,
// else 1 to maxcom(), clipped to the slots. Empty when first >= end.
struct ComRange {
  int first = 1, end = 1;
};
ComRange com_range();

// Probes the ports and reads (mode 0) or writes (any other mode) the settings on the
// first, highest, port that answers; after a read, a write probes only the port read. 1 when usb is
// set and nothing was done, else 0.
int chkcom(int mode);
// chkcom, then the status text and vcom from what mr7 says; 1 when no reader was read
// (mr7 is 0) and nofail is clear, else 0. Flushes the log.
int setcom(int mode);

}  // namespace msr
