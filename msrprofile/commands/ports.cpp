// msrprofile ports: the serial ports --vcom probes, in the order it probes them, with
// what the system tells of each.
#include "msrprofile/commands/ports.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ostream>
#include <vector>

#include "common/text.h"
#include "msrprofile/commands/command.h"
#include "msrprofile/exit_codes.h"
#include "platform/os.h"

namespace msr::profile {

namespace {

// A name or text the system or the device itself gives, for a terminal: a device can
// name itself with a line break or an escape sequence, which would split its line or
// drive the terminal. Such bytes are shown as \xNN.
std::string printable(const std::string& s) {
  std::string out;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      out += c;
      continue;
    }
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", u);
    out += hex;
  }
  return out;
}

// Windows: the registry's serial-port list, highest COM number first (the order --vcom
// probes them in).
int windows_ports(Io io, bool json) {
  struct Port {
    std::string name, device;
    int number;
  };
  std::vector<Port> ports;
  Handle key = nullptr;
  const bool listed = os().RegOpenLocalMachineKeyRead("HARDWARE\\DEVICEMAP\\SERIALCOMM", &key);
  if (listed) {
    std::string device, name;
    for (std::uint32_t i = 0; os().RegEnumValueName(key, i, &device); ++i) {
      if (!os().RegQueryStringValue(key, device.c_str(), &name)) continue;
      ports.push_back({name, device, name.size() > 3 ? atol32(name.c_str() + 3) : 0});
    }
    os().RegCloseKey(key);
  }
  std::stable_sort(ports.begin(), ports.end(),
                   [](const Port& a, const Port& b) { return a.number > b.number; });
  const std::string missing =
      "USB vendor and product IDs: the registry's serial-port list names only the COM port and "
      "its device";
  const std::string range =
      listed ? "--vcom probes from the highest COM number listed down to COM1, numbers the list "
               "doesn't name included"
             : "the registry has no serial-port list (HARDWARE\\DEVICEMAP\\SERIALCOMM): --vcom "
               "probes COM17 down to COM1";
  if (json) {
    nlohmann::ordered_json doc = {{"platform", "windows"},
                                  {"ports", nlohmann::ordered_json::array()}};
    for (const Port& p : ports) doc["ports"].push_back({{"port", p.name}, {"device", p.device}});
    doc["probing"] = range;
    doc["not_available"] = {missing};
    print_json(io, doc);
  } else {
    for (const Port& p : ports) io.out << printable(p.name) << "  " << printable(p.device) << "\n";
    io.err << range << "\nnot available on Windows: " << missing << "\n";
  }
  return kExitOk;
}

std::string usb_id(int id) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id) & 0xFFFFu);
  return text;
}

nlohmann::ordered_json id_json(int id) {
  return id < 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(id);
}

int linux_ports(Io io, const Host& host, bool json) {
  std::vector<SerialPortInfo> ports;
  std::string why;
  if (!host.list_ports(&ports, &why)) {
    io.err << "msrprofile: the system's serial ports can't be listed: " << why << "\n";
    return kExitNoReader;
  }
  const std::string missing =
      "USB HID and PS/2 readers (--usb, --ps2): they need the reader's Windows library and "
      "drivers";
  if (json) {
    nlohmann::ordered_json doc = {{"platform", "linux"},
                                  {"ports", nlohmann::ordered_json::array()}};
    for (const SerialPortInfo& p : ports) {
      doc["ports"].push_back({{"port", p.path},
                              {"transport", transport_name(p.transport)},
                              {"description", p.description},
                              {"usb_vid", id_json(p.usb_vid)},
                              {"usb_pid", id_json(p.usb_pid)},
                              {"manufacturer", p.usb_manufacturer},
                              {"product", p.usb_product},
                              {"serial", p.usb_serial}});
    }
    doc["probing"] = "--vcom probes the ports in this order and stops at the first reader";
    doc["not_available"] = {missing};
    print_json(io, doc);
    return kExitOk;
  }
  for (const SerialPortInfo& p : ports) {
    io.out << printable(p.path) << "  " << transport_name(p.transport);
    if (p.usb_vid >= 0 && p.usb_pid >= 0)
      io.out << "  " << usb_id(p.usb_vid) << ":" << usb_id(p.usb_pid);
    for (const std::string* s : {&p.usb_manufacturer, &p.usb_product}) {
      if (!s->empty()) io.out << "  " << printable(*s);
    }
    if (!p.usb_serial.empty()) io.out << "  serial " << printable(p.usb_serial);
    if (!p.description.empty()) io.out << "  (" << printable(p.description) << ")";
    io.out << "\n";
  }
  io.err << "--vcom probes the ports in this order and stops at the first reader\n"
         << "not available on Linux: " << missing << "\n";
  return kExitOk;
}

}  // namespace

int cmd_ports(Io io, const Host& host, bool json) {
  return host.windows ? windows_ports(io, json) : linux_ports(io, host, json);
}

void add_ports(CLI::App& app, Commands& commands) {
  add_json_command(app, commands, "ports",
                   "List the serial ports --vcom probes, in the order it probes them", cmd_ports,
                   true);
}

}  // namespace msr::profile
