// vCOM detection and programming: find the reader on the COM ports, highest first, and
// read its settings into the block or write the block to it.
#pragma once

#include "platform/os.h"

namespace msr {

struct VcomState {
  Handle hComTab[299];   // one slot per COM port number 0..298
  char cportStr[8] = {};  // port text of the last successful read
  VcomState() {
    for (Handle& h : hComTab) h = invalid_handle();
  }
};
inline VcomState g_vcom;

int chkcom(int mode);
int setcom(int mode);

}  // namespace msr
