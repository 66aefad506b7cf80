#include "msrprofile/swipe/swipe_capture.h"

#include "msrprofile/exit_codes.h"
#include "msrprofile/swipe/swipe.h"
#include "transport/vcom/serial_port.h"

namespace msr::profile {
namespace {

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
// A tick of the wait: the countdown moves once a second.
constexpr std::uint32_t kTickMs = 1000;

// MAXDWORD, MAXDWORD, N: ReadFile returns at once with what has arrived, waits for the
// first byte when nothing has, and returns empty after N ms.
bool wait_up_to(Handle port, std::uint32_t ms) {
  const CommTimeouts t{.read_interval = kMaxDword,
                       .read_total_multiplier = kMaxDword,
                       .read_total_constant = ms,
                       .write_total_multiplier = 0,
                       .write_total_constant = 1000};
  return os().SetCommTimeouts(port, &t);
}

// Built by appending: GCC 12 warns wrongly (-Wrestrict) on a literal + std::to_string.
std::string error_text(std::uint32_t e) {
  std::string text = "error ";
  text += std::to_string(e);
  return text;
}

std::string seconds(long s) {
  std::string text = std::to_string(s);
  text += " s";
  return text;
}

}  // namespace

Handle open_swipe_port(int com, const std::string& name, std::string* why) {
  const std::string number = std::string(std::to_string(com));
  Handle h = opencom(number.c_str());
  if (h == invalid_handle()) {
    const std::uint32_t e = os().GetLastError();
    *why = e == 5   ? name + " is in use by another program (access denied)"
           : e == 2 ? "there is no port " + name
           : e != 0 ? name + " can't be opened (" + error_text(e) + ")"
                    : "nothing is attached to " + name + " (CTS and DSR are off)";
    return h;
  }
  settimeout(h);  // empties what arrived before the wait began
  return h;
}

int capture_port(Handle port, const std::string& name, const PortBurst& o, CardText* text,
                 std::string* why) {
  text->clear();
  text->reserve(kMaxSwipe + 256);  // never moved: no copy of the swipe is left behind
  unsigned char buffer[256];
  struct Wiper {
    unsigned char* b;
    ~Wiper() { wipe(b, 256); }
  } wiper{buffer};
  if (!wait_up_to(port, kTickMs)) {
    *why = name + " does not take read time-outs (" + error_text(os().GetLastError()) + ")";
    return kExitNoReader;
  }
  const long start = os().time();
  // A driver that returns before its time-out is over must not make the wait endless.
  long ticks = 0, last_shown = -1;
  std::uint32_t n = 0;
  for (;;) {
    const long left = o.timeout_s - (os().time() - start);
    if (left <= 0 || ticks > 4L * o.timeout_s + 4) {
      *why = std::string("nothing was swiped within ") + seconds(o.timeout_s) + " on " + name;
      return kExitNoReader;
    }
    if (o.countdown && left != last_shown) o.countdown(static_cast<int>(last_shown = left));
    if (!os().ReadFile(port, buffer, sizeof buffer, &n)) {
      *why = name + " stopped answering (" + error_text(os().GetLastError()) +
             "): was the reader unplugged?";
      return kExitNoReader;
    }
    if (n > 0) break;
    ++ticks;
  }
  const long burst = os().time();
  int wait = -1;
  for (;;) {
    for (std::uint32_t i = 0; i < n && text->size() < text->capacity(); ++i) {
      text->push_back(buffer[i]);
    }
    wipe(buffer, sizeof buffer);
    if (text->size() > kMaxSwipe) {
      *why = std::string("more than ") + std::string(std::to_string(kMaxSwipe)) +
             " characters arrived on " + name + " without a pause: that is no swipe";
      return kExitDiffers;
    }
    if (o.complete && o.complete(*text)) return kExitOk;
    if (os().time() - burst > kMaxBurstSeconds) {
      *why = "the device on " + name + " kept sending for more than " + seconds(kMaxBurstSeconds) +
             ": that is no swipe";
      return kExitDiffers;
    }
    // A reader's characters follow each other within its delay, so a pause this long
    // after a CR means the swipe is over.
    const int next = !text->empty() && text->back() == U'\r' ? o.cr_quiet_ms : o.quiet_ms;
    if (next != wait && !wait_up_to(port, static_cast<std::uint32_t>(wait = next))) {
      *why = name + " does not take read time-outs (" + error_text(os().GetLastError()) + ")";
      return kExitNoReader;
    }
    if (!os().ReadFile(port, buffer, sizeof buffer, &n)) {
      *why = name + " stopped answering in the middle of a swipe (" +
             error_text(os().GetLastError()) + "): was the reader unplugged?";
      return kExitNoReader;
    }
    if (n == 0) return kExitOk;  // the pause after the last byte
  }
}

}  // namespace msr::profile
