// Linux: the serial part of the boundary on libserialport; the system's serial ports, USB
// ones first, stand in for the registry's list of COM ports.
#include "platform/posix/posix_os.h"
#include "platform/posix/serial_ports.h"
#include "profile/host.h"

namespace msr::profile {

Host native_host() {
  set_os(&posix_os());
  Host host;
  host.windows = false;
  host.list_ports = [](std::vector<SerialPortInfo>* ports, std::string* why) {
    why->clear();
    *ports = list_serial_ports(why);
    return why->empty();
  };
  host.offer_system_ports = [list = host.list_ports](std::string* why) {
    std::vector<SerialPortInfo> ports;
    if (!list(&ports, why)) return false;
    if (ports.empty()) {
      *why = "the system has no serial port";
      return false;
    }
    posix_set_ports(port_paths(ports));
    return true;
  };
  host.offer_port = [](const std::string& path) { posix_set_ports({path}); };
  host.port_name = [](int com) { return posix_port_path(com); };
  return host;
}

}  // namespace msr::profile
