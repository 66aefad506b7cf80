// Whatever the system lists as serial ports: on Linux any paths and any texts a USB
// device gives for itself, on Windows any registry list. The probing order is the same
// whatever order the system lists them in (USB first), and `msrprofile ports` writes one
// line per port with none of the device's control characters reaching the terminal, and
// JSON that reads back.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "msrprofile/commands/ports.h"
#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"
#include "platform/posix/serial_ports.h"
#include "tests/fakes/fake_os.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

using msr::fuzz::check;

// The fuzzer's bytes as fields: each ends at 0xFF (or the input's end).
struct Fields {
  const unsigned char* data;
  std::size_t size;
  bool more() const { return size > 0; }
  std::string next() {
    std::string f;
    while (size > 0 && *data != 0xFF) f += static_cast<char>(*data++), --size;
    if (size > 0) ++data, --size;
    return f;
  }
  int id() {
    const std::string f = next();
    if (f.empty()) return -1;
    return (static_cast<unsigned char>(f[0]) << 8 | (f.size() > 1 ? f[1] & 0xFF : 0));
  }
};

// Paths and transports: what decides the order.
std::vector<std::pair<std::string, msr::PortTransport>> order_of(
    const std::vector<msr::SerialPortInfo>& ports) {
  std::vector<std::pair<std::string, msr::PortTransport>> o;
  for (const auto& p : ports) o.emplace_back(p.path, p.transport);
  return o;
}

bool has_control(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\n') || u == 0x7F;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static msr::fake::FakeOs fos;
  msr::reset_process_state();
  msr::set_os(&fos);
  if (size < 1) return 0;
  const bool windows = data[0] & 1;
  const bool json = data[0] & 2;
  Fields in{data + 1, size - 1};

  msr::profile::Host host;
  host.windows = windows;
  std::vector<msr::SerialPortInfo> ports;
  auto& registry = fos.serialcomm.emplace();
  while (in.more()) {
    if (windows) {
      std::string device = in.next();
      registry.emplace_back(std::move(device), in.next());
      continue;
    }
    msr::SerialPortInfo p;
    p.path = in.next();
    const std::string kind = in.next();
    p.transport = static_cast<msr::PortTransport>(kind.empty() ? 0 : kind[0] % 3);
    p.description = in.next();
    if (p.transport == msr::PortTransport::usb) {
      p.usb_vid = in.id();
      p.usb_pid = in.id();
      p.usb_manufacturer = in.next();
      p.usb_product = in.next();
      p.usb_serial = in.next();
    }
    // The system lists a path once.
    if (std::none_of(ports.begin(), ports.end(), [&p](const auto& q) { return q.path == p.path; }))
      ports.push_back(std::move(p));
  }

  // The order depends on the ports only, not on the order the system gave them in.
  std::vector<msr::SerialPortInfo> ordered = ports, reversed(ports.rbegin(), ports.rend());
  msr::order_serial_ports(ordered);
  msr::order_serial_ports(reversed);
  check(order_of(ordered) == order_of(reversed));
  check(std::is_partitioned(ordered.begin(), ordered.end(),
                            [](const auto& p) { return p.transport == msr::PortTransport::usb; }));
  host.list_ports = [&ordered](std::vector<msr::SerialPortInfo>* out, std::string*) {
    *out = ordered;
    return true;
  };

  std::ostringstream out, err;
  check(msr::profile::cmd_ports({out, err}, host, json) == 0);
  const std::string text = out.str();
  if (json) {
    const auto doc = nlohmann::json::parse(text, nullptr, false);
    check(!doc.is_discarded());
    const std::size_t listed = windows ? registry.size() : ordered.size();
    check(doc["ports"].size() <= listed);
    if (!windows) check(doc["ports"].size() == listed);
  } else {
    check(!has_control(text));
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    check(windows ? lines <= registry.size() : lines == ordered.size());
  }
  check(fos.open_handles() == 0);

  msr::reset_process_state();
  fos.clear_records();
  fos.serialcomm.emplace();
  return 0;
}
