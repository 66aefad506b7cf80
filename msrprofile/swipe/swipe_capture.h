// A swipe's bytes as a reader on a virtual COM port sends them, read through the OS
// boundary under the port's own time-outs, as a burst: it starts with the first byte and
// ends at the framing's end or after a pause.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "msrprofile/card_memory.h"
#include "platform/os.h"

namespace msr::profile {

struct PortBurst {
  int timeout_s = 30;    // for the first byte
  int quiet_ms = 300;    // the burst ends this long after the last byte,
  int cr_quiet_ms = 40;  // or this long after a CR, when no second CR follows,
  // ...or as soon as this says the text so far is a whole swipe
  std::function<bool(std::u32string_view received)> complete;
  std::function<void(int seconds_left)> countdown;  // once a second while waiting
};

// A burst longer than this, in seconds, is a device that never stops sending.
inline constexpr int kMaxBurstSeconds = 10;

// Opens COM `com` (as the vCOM transport opens a port: exclusively, with CTS or DSR on,
// its buffers emptied); the invalid handle, with `why` set, when it can't.
Handle open_swipe_port(int com, const std::string& name, std::string* why);

// kExitOk with the burst in *text (a byte per character); kExitNoReader when nothing came
// in time or the port failed (why says which); kExitDiffers when the burst is no swipe
// (longer than any swipe, or endless). The read buffers are wiped.
int capture_port(Handle port, const std::string& name, const PortBurst& o, CardText* text,
                 std::string* why);

}  // namespace msr::profile
