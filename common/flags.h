// Process-wide flags and values of the application shell, set at start-up from the
// command line and changed afterwards only by the transports and the window.
#pragma once

#include <cstdint>
#include <string>

namespace msr {

inline constexpr const char kAppTitle[] = "ZOV ORU VAZ Izove Duro";

struct ShellState {
  std::int32_t vcom = 0;     // reader on a virtual COM port
  std::int32_t usb = 0;      // reader on USB HID
  std::int32_t jis = 0;      // JIS2 reader
  std::int32_t cport = 0;    // COM port named after -v; 0 probes all
  std::int32_t cif = 0;      // reader can switch its interface
  std::int32_t nofail = 0;   // -d: an unreachable reader counts as success
  std::int32_t vclass = 0;   // -t: show "Vender Class"
  std::int32_t runloop = 1;  // cleared when no reader is found
  std::string status = "NO USB MSR";  // names the attached reader
  std::string inifn;                  // settings file in the Windows directory
  std::string curdir;
};
inline ShellState g_shell;

}  // namespace msr
