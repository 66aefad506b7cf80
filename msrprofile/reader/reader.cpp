#include "msrprofile/reader/reader.h"

#include <cstdlib>

#include "common/flags.h"
#include "msrprofile/exit_codes.h"
#include "platform/os.h"
#include "settings/settings_block.h"
#include "transport/transports.h"
#include "transport/usb/usb.h"
#include "transport/vcom/vcom.h"

namespace msr::profile {
namespace {

constexpr int kKq1 = 8, kKq2 = 9;
constexpr int kMaxSettingsReads = 3;
constexpr std::uint16_t kBaseFields = (1u << kBaseBlockSize) - 1;

Reading failed(int exit, std::string problem) {
  Reading r;
  r.exit = exit;
  r.problem = std::move(problem);
  return r;
}

// The base block; the extended block, whatever the block holds there from earlier (a
// write's file, a library's leftovers), is 0 until the reader gives it.
Bytes base_only(const SettingsBlock& b) {
  Bytes bytes{};
  store_base_block(b, bytes.data());
  return bytes;
}

// setusb and setusb1 answer 9 for every failure; the status text they leave tells a
// library that never got as far as OpenUSB (left as it was), a reader that is not there
// ("NO USB MSR") and an open reader that did not answer properly ("USB HID").
constexpr const char kNoUsbReader[] = "NO USB MSR";

// Why no doziv.dll could be used, looked at in the order the transport loads it: none where
// it is looked for, a file Windows would not load (in Windows' words), or a library that is
// not the reader's.
std::string doziv_problem(const Host& host) {
  std::string looked;
  for (const std::string& path : doziv_paths()) {
    looked += (looked.empty() ? "" : ", ") + path;
    if (os().GetFileAttributesA(path.c_str()) == w32::kInvalidFileAttributes) continue;
    os().SetLastError(0);
    const Handle module = os().LoadLibraryA(path.c_str());
    if (module == nullptr) {
      const std::uint32_t code = os().GetLastError();
      return path + " was found but Windows could not load it: " + host.error_text(code) +
             " (error " + std::to_string(code) +
             "); replace it with the reader's own 32-bit doziv.dll";
    }
    const bool entries = os().GetProcAddress(module, "OpenUSB") != nullptr &&
                         os().GetProcAddress(module, "SetID") != nullptr;
    os().FreeLibrary(module);
    if (!entries) {
      return path +
             " is not the reader's USB library: it has no OpenUSB or SetID; replace it "
             "with the reader's own doziv.dll";
    }
  }
  return "doziv.dll, the reader's USB library, was not found (looked at " + looked +
         "): put it beside msrprofile.exe";
}

Reading read_usb(const Host& host) {
  if (!host.windows) {
    return failed(kExitNoReader,
                  "USB HID readers are reached through the reader's Windows library (doziv.dll), "
                  "which Linux doesn't have: use the reader's virtual COM port (--vcom, --port)");
  }
  if (!hid_dll_present()) {
    return failed(kExitNoReader,
                  "hid.dll is missing from the system folder: no USB HID reader "
                  "can be reached on this system");
  }
  g_shell.status.clear();
  if (g_transports.setusb(0) != 0) {
    if (g_shell.status.empty()) return failed(kExitNoReader, doziv_problem(host));
    if (g_shell.status == kNoUsbReader) {
      return failed(kExitNoReader, "no USB HID reader answered (OpenUSB failed)");
    }
    return failed(kExitReaderFailed,
                  "the USB HID reader did not give its settings (GetMrState or CloseUSB failed)");
  }
  Reading r;
  r.bytes = base_only(blk());
  r.read = kBaseFields;
  g_usb.ext_f = 0;
  g_transports.setusb1(0);
  if (g_shell.status == kNoUsbReader) {
    return failed(kExitReaderFailed,
                  "the USB HID reader stopped answering before its extended block was read");
  }
  // A reader that does not acknowledge the query has no extended block, as the window
  // takes it; what setusb1 left in kq1 and kq2 then is not the reader's.
  r.extended = g_usb.ext_f != 0;
  if (r.extended) {
    r.bytes[kKq1] = blk().kq1;
    r.bytes[kKq2] = blk().kq2;
    r.read |= (1u << kKq1) | (1u << kKq2);
  }
  return r;
}

Reading read_vcom(const Host& host) {
  g_vcom.cportStr[0] = '\0';  // written by a read that found the reader, and only then
  g_transports.setcom(0);
  if (g_vcom.cportStr[0] == '\0') {
    const std::string ports =
        g_shell.cport != 0 ? host.port_name(g_shell.cport) : "any serial port";
    if (g_vcom.busy_com != 0) {
      const std::string busy = host.port_name(g_vcom.busy_com);
      // Linux denies a port for want of permission in the same words as for a lock.
      const std::string denied = host.windows ? "" : host.port_problem(busy);
      if (!denied.empty()) {
        g_vcom.busy_com = 0;  // not held: this user may not open it
        return failed(kExitNoReader, denied);
      }
      Reading r = failed(kExitNoReader, busy + " is in use by another program");
      if (g_shell.cport == 0) r.problem = "no reader answered on any serial port, and " + r.problem;
      r.problem += ": close the program that holds the port and try again";
      return r;
    }
    return failed(kExitNoReader, "no reader answered on " + ports);
  }
  const int com = std::atoi(g_vcom.cportStr);
  // msrsetup, too, takes a zero firmware byte for no reader.
  if (blk().mr7 == 0) {
    return failed(kExitReaderFailed, "the device on " + host.port_name(com) +
                                         " answered the settings read with a firmware byte of "
                                         "0, which no reader sends");
  }
  Reading r;
  r.com = com;
  r.bytes = base_only(blk());
  r.bytes[kKq1] = blk().kq1;
  r.read = kBaseFields | (1u << kKq1);
  return r;
}

bool same_answer(const Reading& a, const Reading& b) {
  if (a.exit != b.exit) return false;
  if (a.exit != kExitOk) return a.problem == b.problem;
  return a.bytes == b.bytes && a.jis == b.jis && a.cif == b.cif && a.com == b.com;
}

Reading read_once(const Host& host, const Target& t) {
  // The queries only ever set these: a reader that said "yes" before must say it again.
  g_shell.jis = g_shell.cif = 0;
  Reading r = t.transport == Transport::usb ? read_usb(host) : read_vcom(host);
  if (r.exit == kExitOk) {
    r.jis = g_shell.jis != 0;
    r.cif = g_shell.cif != 0;
  }
  return r;
}

// A serial reply can be shifted by a byte that was on its way before it (a swipe's "%",
// line noise, the reader's answer to an earlier command), and then reads as another
// configuration. A record is taken only when two reads in a row agree; a one-off stray
// byte spoils one read, so a third read is allowed before the answers count as
// disagreeing. USB HID replies come as whole reports and can't shift: read once.
Reading read_consistent(const Host& host, const Target& t) {
  Reading previous = read_once(host, t);
  if (t.transport != Transport::vcom || previous.exit == kExitNoReader) return previous;
  const int port = previous.exit == kExitOk ? previous.com : 0;
  for (int read = 2; read <= kMaxSettingsReads; ++read) {
    // The port that answered, not whichever answers first on a new probe.
    if (port != 0) g_shell.cport = port;
    Reading current = read_once(host, t);
    if (same_answer(previous, current)) return current;
    previous = std::move(current);
  }
  const std::string where = port != 0 ? host.port_name(port) : "the port";
  return failed(kExitReaderFailed, "the reader's answers disagree: " + where + " answered " +
                                       std::to_string(kMaxSettingsReads) +
                                       " settings reads without two in a row alike, so none "
                                       "was taken");
}

}  // namespace

bool aim(const Host& host, const Target& t, std::string* why) {
  g_shell.usb = g_shell.vcom = 0;
  g_shell.cport = 0;
  if (t.transport != Transport::vcom) return true;
  if (host.windows) {
    g_shell.cport = t.com;
    return true;
  }
  if (!t.path.empty()) {
    *why = host.port_problem(t.path);
    if (!why->empty()) return false;
    host.offer_port(t.path);
    g_shell.cport = 1;
    return true;
  }
  return host.offer_system_ports(why);
}

Reading read_reader(const Host& host, const Target& t) {
  return read_consistent(host, t);
}

Reading reach(const Host& host, const Target& t) {
  std::string why;
  if (!aim(host, t, &why)) return failed(kExitNoReader, why);
  return read_reader(host, t);
}

const char* transport_key(Transport t) {
  return t == Transport::usb ? "usb" : t == Transport::vcom ? "vcom" : "ps2";
}

bool port_busy(int exit) {
  return exit == kExitNoReader && g_vcom.busy_com != 0;
}

std::uint16_t comparable(const Reading& r) {
  return static_cast<std::uint16_t>(r.read & ~(1u << kFirmwareByte));
}

std::string where(const Host& host, const Target& t, const Reading& r) {
  if (t.transport == Transport::usb) return "USB HID";
  if (t.transport == Transport::ps2) return "PS/2";
  return host.port_name(r.com);
}

std::string missing_fields(std::uint16_t mask) {
  std::string list;
  for (int i = 0; i < kBlockSize;) {
    if (mask & (1u << i)) {
      ++i;
      continue;
    }
    int end = i;
    while (end + 1 < kBlockSize && !(mask & (1u << (end + 1)))) ++end;
    list += (list.empty() ? "" : ", ") + std::string(kFields[i].name);
    if (end > i) list += (end == i + 1 ? ", " : "..") + std::string(kFields[end].name);
    i = end + 1;
  }
  return list;
}

}  // namespace msr::profile
