#include "platform/posix/serial_ports.h"

#include <libserialport.h>

#include <algorithm>
#include <cctype>

namespace msr {
namespace {

std::string text_or_empty(const char* text) {
  return text != nullptr ? text : "";
}

bool digit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Path order with runs of digits compared by value; paths equal that way (tty01, tty1)
// fall back to plain order, so that the order is total.
bool path_before(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t i0 = i, j0 = j;
      while (i0 < a.size() && a[i0] == '0') ++i0;
      while (j0 < b.size() && b[j0] == '0') ++j0;
      std::size_t i1 = i0, j1 = j0;
      while (i1 < a.size() && digit(a[i1])) ++i1;
      while (j1 < b.size() && digit(b[j1])) ++j1;
      if (i1 - i0 != j1 - j0) return i1 - i0 < j1 - j0;
      int c = a.compare(i0, i1 - i0, b, j0, j1 - j0);
      if (c != 0) return c < 0;
      i = i1, j = j1;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i, ++j;
    }
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  return a < b;
}

SerialPortInfo describe(const sp_port* port) {
  SerialPortInfo info;
  info.path = text_or_empty(sp_get_port_name(port));
  info.description = text_or_empty(sp_get_port_description(port));
  switch (sp_get_port_transport(port)) {
    case SP_TRANSPORT_USB:
      info.transport = PortTransport::usb;
      break;
    case SP_TRANSPORT_BLUETOOTH:
      info.transport = PortTransport::bluetooth;
      break;
    default:
      info.transport = PortTransport::native;
  }
  if (info.transport == PortTransport::usb) {
    int vid = -1, pid = -1;
    if (sp_get_port_usb_vid_pid(port, &vid, &pid) == SP_OK) info.usb_vid = vid, info.usb_pid = pid;
    info.usb_manufacturer = text_or_empty(sp_get_port_usb_manufacturer(port));
    info.usb_product = text_or_empty(sp_get_port_usb_product(port));
    info.usb_serial = text_or_empty(sp_get_port_usb_serial(port));
  }
  return info;
}

}  // namespace

std::vector<SerialPortInfo> list_serial_ports(std::string* error) {
  std::vector<SerialPortInfo> ports;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK) {
    if (error != nullptr) {
      char* message = sp_last_error_message();
      *error = text_or_empty(message);
      sp_free_error_message(message);
    }
    return ports;
  }
  for (sp_port** p = list; *p != nullptr; ++p) ports.push_back(describe(*p));
  sp_free_port_list(list);
  order_serial_ports(ports);
  return ports;
}

void order_serial_ports(std::vector<SerialPortInfo>& ports) {
  std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
    bool a_usb = a.transport == PortTransport::usb, b_usb = b.transport == PortTransport::usb;
    if (a_usb != b_usb) return a_usb;
    return path_before(a.path, b.path);
  });
}

std::vector<std::string> port_paths(const std::vector<SerialPortInfo>& ports) {
  std::vector<std::string> paths;
  for (const SerialPortInfo& p : ports) paths.push_back(p.path);
  return paths;
}

}  // namespace msr
