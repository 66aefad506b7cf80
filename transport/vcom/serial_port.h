// COM port access for the vCOM transport: how far up the port numbers go (maxcom), opening
// a port that has a device attached (opencom), and the time-outs the protocol runs under
// (settimeout).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/os.h"

namespace msr {

// CreateFileA's answer for a COM port that another program holds open.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
// Port count assumed when the registry's serial-port list can't be opened.
inline constexpr int kMaxcomWithoutList = 17;
// Size of the text buffer a registry port name is copied into (terminator included).
inline constexpr std::size_t kPortNameBuffer = 128;

// Highest COM port number named by the data of HARDWARE\DEVICEMAP\SERIALCOMM; 0 for an
// empty list, 17 when the list can't be opened.
int maxcom();

// What opening a port came to, step by step, for a caller that tells a person why a port
// was turned down.
struct PortOpening {
  enum class Step {
    opened,         // a serial device with CTS or DSR on: `handle` is the caller's
    create_failed,  // CreateFileA refused it: `create_error` says why (5: held elsewhere)
    not_serial,     // it opened, but GetCommState failed
    no_device,      // neither CTS nor DSR on, or the modem status couldn't be had
  } step = Step::create_failed;
  Handle handle = invalid_handle();
  std::uint32_t create_error = 0;
  bool modem_read = false;
  std::uint32_t modem_status = 0;
};

// opencom's steps and log lines, with how far the port got.
PortOpening open_port(const char* text);

// Opens \\.\COM<text> exclusively; returns the handle only when the port is a serial
// device with CTS or DSR on, else the invalid handle (nothing is left open).
Handle opencom(const char* text);

// Empties the port's buffers under short time-outs, then leaves the protocol time-outs in
// force; non-zero when the final read-back of the time-outs succeeded.
int settimeout(Handle hCom);

}  // namespace msr
