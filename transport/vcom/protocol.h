// The reader's serial configuration commands: settings read, settings write and reset
// (wrcom), and the two type queries (getjis2, getcif). Every command starts 1D 4D 52.
#pragma once

#include <cstddef>

#include "platform/os.h"

namespace msr {

// Replies are read into the first 16 bytes of the caller's buffer.
inline constexpr std::size_t kReplyBytes = 16;

// mode 0: settings read, the reply (at least 9 bytes) left in buffer;
// mode 1: settings write of buffer[0..7] (p2j, mr1..mr6, kq1);
// mode 2: sends buffer[0..4] as they stand, only while cif is set;
// any other mode: nothing.
// buffer holds at least 16 bytes. Returns 0 on success, else the failure code. With `got`,
// mode 0 also tells how many reply bytes came (0 when nothing was read), so that a short
// reply can be told from none.
int wrcom(int mode, Handle hCom, unsigned char* buffer, std::size_t* got = nullptr);

// JIS2 query; sets jis on a 04h 'J' reply. buffer holds at least 16 bytes.
int getjis2(Handle hCom, unsigned char* buffer);

// CIF query; sets cif on a 04h 'F' reply. buffer holds at least 16 bytes.
int getcif(Handle hCom, unsigned char* buffer);

}  // namespace msr
