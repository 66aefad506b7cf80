#include "transport/vcom/serial_port.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/log.h"
#include "common/text.h"

namespace msr {
namespace {

// Short time-outs while the buffers are emptied, so that a chattering device can't keep
// the purge reads busy.
constexpr CommTimeouts kFlushSet{.read_interval = 1,
                                 .read_total_multiplier = 5,
                                 .read_total_constant = 1,
                                 .write_total_multiplier = 0,
                                 .write_total_constant = 1000};
// What the configuration commands run under: a 16-byte reply is in after at most
// 216 ms, and a reader that pauses more than 20 ms has finished.
constexpr CommTimeouts kProtocolSet{.read_interval = 20,
                                    .read_total_multiplier = 1,
                                    .read_total_constant = 200,
                                    .write_total_multiplier = 1,
                                    .write_total_constant = 200};

// The port number in a registry port name: whatever follows the first three characters
// ("COM"), read as atol reads it. Names of three characters or fewer carry none.
std::int32_t port_number(const char* text) {
  if (std::strlen(text) <= 3) return 0;
  return atol32(text + 3);
}

}  // namespace

int maxcom() {
  Handle key = nullptr;
  bool opened = os().RegOpenLocalMachineKeyRead("HARDWARE\\DEVICEMAP\\SERIALCOMM", &key);
  log_write(" open serialcomm=%d \n", opened ? 1 : 0);
  if (!opened) return kMaxcomWithoutList;

  std::int32_t highest = 0;
  std::string name;
  for (std::uint32_t i = 0; os().RegEnumValueName(key, i, &name); ++i) {
    // The data is copied into a fixed buffer and cut to fit; a value that can't be read
    // as a string reads as an empty name and so names no port.
    char ss[kPortNameBuffer] = {};
    std::string data;
    if (os().RegQueryStringValue(key, name.c_str(), &data)) {
      std::size_t n = data.size() < sizeof ss - 1 ? data.size() : sizeof ss - 1;
      std::memcpy(ss, data.data(), n);
    }
    log_write(" i=%d, ss=%s \n", static_cast<int>(i), ss);
    std::int32_t number = port_number(ss);
    if (number > highest) highest = number;
  }
  os().RegCloseKey(key);
  return highest;
}

PortOpening open_port(const char* text) {
  PortOpening o;
  char path[128];
  std::snprintf(path, sizeof path, "\\\\.\\COM%s", text);
  os().SetLastError(0);
  // Exclusive and synchronous: a port another program holds is not ours to probe.
  Handle h = os().CreateFileA(path, w32::kGenericRead | w32::kGenericWrite, 0, nullptr,
                              w32::kOpenExisting, 0, nullptr);
  const std::uint32_t lerr = os().GetLastError();
  log_write(" hCom=%p, port=%s, lerr=%ld, tm=%ld \n", h, path, static_cast<long>(lerr), log_time());
  if (h == invalid_handle()) {
    o.create_error = lerr;
    return o;
  }

  // The line settings are only looked at: the port keeps whatever its driver has.
  Dcb dcb;
  bool getcs = os().GetCommState(h, &dcb);
  if (!getcs) {
    os().CloseHandle(h);
    h = invalid_handle();
    o.step = PortOpening::Step::not_serial;
  }
  log_write(" getcs=%d, dcb.baud=%lu \n", getcs ? 1 : 0, log_ul(dcb.baud_rate));

  // Nothing attached holds neither CTS nor DSR. A port already given up above is not
  // asked again: its query counts as failed.
  std::uint32_t ms = 0;
  bool getms = h != invalid_handle() && os().GetCommModemStatus(h, &ms);
  if (h != invalid_handle() && (!getms || (ms & (w32::kMsCtsOn | w32::kMsDsrOn)) == 0)) {
    os().CloseHandle(h);
    h = invalid_handle();
    o.step = PortOpening::Step::no_device;
  }
  log_write(" getms=%d, ms=%lx \n", getms ? 1 : 0, log_ul(ms));
  o.modem_read = getms;
  o.modem_status = ms;
  if (h != invalid_handle()) o.step = PortOpening::Step::opened;
  o.handle = h;
  return o;
}

Handle opencom(const char* text) {
  return open_port(text).handle;
}

int settimeout(Handle hCom) {
  log_write(" in settimeout, hCom=%p, tm=%ld \n", hCom, log_time());
  if (hCom == invalid_handle()) return 0;

  CommTimeouts t;
  os().SetLastError(0);
  bool got = os().GetCommTimeouts(hCom, &t);
  log_write(" GetCommTimeouts()=%d,  %lu,%lu,%lu,%lu,%lu \n", got ? 1 : 0, log_ul(t.read_interval),
            log_ul(t.read_total_constant), log_ul(t.read_total_multiplier),
            log_ul(t.write_total_constant), log_ul(t.write_total_multiplier));

  // Failures from here on are logged and the sequence goes on: a port that refuses one
  // step may still carry the protocol.
  os().SetLastError(0);
  bool set = os().SetCommTimeouts(hCom, &kFlushSet);
  log_write(" SetCommTimeouts()=%d,%lu \n", set ? 1 : 0, log_ul(os().GetLastError()));

  std::uint32_t errors = 0;
  os().ClearCommError(hCom, &errors);
  bool purged = os().PurgeComm(hCom, w32::kPurgeAll);
  log_write(" PurgeComm()=%d \n", purged ? 1 : 0);

  // Two empty reads settle the port after the purge; what they return doesn't matter.
  unsigned char none[1];
  std::uint32_t n = 0;
  os().ReadFile(hCom, none, 0, &n);
  os().ReadFile(hCom, none, 0, &n);

  os().SetLastError(0);
  set = os().SetCommTimeouts(hCom, &kProtocolSet);
  log_write(" SetCommTimeouts(1)=%d,%lu \n", set ? 1 : 0, log_ul(os().GetLastError()));

  t = CommTimeouts{};
  os().SetLastError(0);
  got = os().GetCommTimeouts(hCom, &t);
  log_write(" GetCommTimeouts()=%d,  %lu,%lu,%lu,%lu,%lu, lerr=%lu \n", got ? 1 : 0,
            log_ul(t.read_interval), log_ul(t.read_total_constant), log_ul(t.read_total_multiplier),
            log_ul(t.write_total_constant), log_ul(t.write_total_multiplier),
            log_ul(os().GetLastError()));
  log_write(" out settimeout at %ld \n", log_time());
  return got ? 1 : 0;
}

}  // namespace msr
