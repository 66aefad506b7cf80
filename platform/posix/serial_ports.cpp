#include "platform/posix/serial_ports.h"

#include <libserialport.h>

namespace msr {
namespace {

std::string text_or_empty(const char* text) {
  return text != nullptr ? text : "";
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

}  // namespace msr
