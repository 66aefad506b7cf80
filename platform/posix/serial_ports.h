// The system's serial ports as libserialport lists them, in the order they are probed
// for a reader: USB serial ports first (a reader's virtual COM port is one), then the
// others; within each group by path, numbers compared as numbers (ttyACM2 before
// ttyACM10), so the order is the same on every run.
#pragma once

#include <string>
#include <vector>

namespace msr {

enum class PortTransport { native, usb, bluetooth };

struct SerialPortInfo {
  std::string path;         // "/dev/ttyACM0"
  std::string description;  // libserialport's text for a person
  PortTransport transport = PortTransport::native;
  int usb_vid = -1;  // USB vendor ID; -1 when not USB or not known
  int usb_pid = -1;  // USB product ID; -1 when not USB or not known
  std::string usb_manufacturer, usb_product, usb_serial;  // "" when not given
};

// "native", "usb" or "bluetooth". Inline: msrprofile's Windows build names them too.
inline const char* transport_name(PortTransport transport) {
  switch (transport) {
    case PortTransport::usb:
      return "usb";
    case PortTransport::bluetooth:
      return "bluetooth";
    default:
      return "native";
  }
}

// The system's serial ports, ordered. When the system can't be asked, an empty list and
// the reason in *error (when given).
std::vector<SerialPortInfo> list_serial_ports(std::string* error = nullptr);

// Puts ports in probing order (see above).
void order_serial_ports(std::vector<SerialPortInfo>& ports);

// The paths of ports, in their order: what posix_set_ports takes.
std::vector<std::string> port_paths(const std::vector<SerialPortInfo>& ports);

}  // namespace msr
