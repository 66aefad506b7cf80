// Probing order needs nothing of libserialport, so that it can be tried on any list of
// names without it.
#include <algorithm>
#include <cctype>

#include "platform/posix/serial_ports.h"

namespace msr {
namespace {

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

}  // namespace

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
