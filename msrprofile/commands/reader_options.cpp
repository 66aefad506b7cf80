#include "msrprofile/commands/reader_options.h"

#include <CLI/CLI.hpp>
#include <cctype>

#include "msrprofile/exit_codes.h"
#include "msrprofile/reader/results.h"
#include "transport/vcom/vcom.h"

namespace msr::profile {

void TransportArgs::add_to(CLI::App* cmd) {
  cmd->add_flag("--usb", usb, "the reader on USB HID (Windows, with the reader's doziv.dll)");
  cmd->add_flag("--vcom", vcom,
                "the reader on a virtual COM port: probe the ports as msrsetup -v does, or only "
                "COM N with --vcom=N (Windows)")
      ->option_text("[=N]");
  cmd->add_option("--port", port,
                  "the reader on this serial port: COMn or \\\\.\\COMn on Windows, a device "
                  "path such as /dev/ttyACM0 on Linux");
  // Only write can use it; the others still know it, to say why not, but don't offer it.
  CLI::Option* p = cmd->add_flag("--ps2", ps2, "the reader on PS/2 (Windows; written, never read)");
  if (cmd->get_name() != "write") p->group("");
}

int com_number(std::string name) {
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i)
    name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
  if (name.compare(0, 3, "COM") != 0 || name[3] == '0') return 0;
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n < kComSlots ? n : 0;
}

bool serial_port_of(Io io, const Host& host, const std::string& command, const std::string& vcom,
                    const std::string& port, int* com, std::string* path) {
  *com = 0;
  path->clear();
  if (!vcom.empty()) {
    if (vcom == "true") return true;  // --vcom alone probes them all
    *com = com_number("COM" + vcom);
    if (*com == 0) {
      usage(io, command + " --vcom=" + vcom + ": COM port numbers go from 1 to " +
                    std::to_string(kComSlots - 1));
      return false;
    }
    if (!host.windows) {
      usage(io, command + " --vcom=" + vcom +
                    ": COM numbers are Windows names; on Linux name the port by its path, "
                    "e.g. --port /dev/ttyACM0");
      return false;
    }
  } else if (host.windows) {
    *com = com_number(port);
    if (*com == 0) {
      usage(io, command + " --port " + port + ": on Windows a port is COMn or \\\\.\\COMn, n " +
                    "from 1 to " + std::to_string(kComSlots - 1));
      return false;
    }
  } else {
    *path = port;
  }
  return true;
}

std::optional<Target> target_of(Io io, const Host& host, const TransportArgs& t,
                                const std::string& command, int* exit) {
  const bool vcom = !t.vcom.empty(), port = !t.port.empty();
  *exit = kExitUsage;
  const int given = int(t.usb) + int(vcom) + int(port) + int(t.ps2);
  if (given != 1) {
    usage(io, command + ": name the reader's transport once: --usb, --vcom[=N] or --port PATH" +
                  (command == "write" ? ", or --ps2" : ""));
    return std::nullopt;
  }
  Target target;
  if (t.ps2) {
    if (command != "write") {
      usage(io, command +
                    " --ps2: a PS/2 reader can't be read; its keyboard-wedge driver only "
                    "takes a configuration (write FILE --ps2 sends one)");
      return std::nullopt;
    }
    target.transport = Transport::ps2;
  } else if (t.usb) {
    target.transport = Transport::usb;
  } else {
    target.transport = Transport::vcom;
    if (!serial_port_of(io, host, command, t.vcom, t.port, &target.com, &target.path)) {
      return std::nullopt;
    }
  }
  *exit = kExitOk;
  return target;
}

void add_results_option(CLI::App* cmd, std::string& results) {
  cmd->add_option("--results", results,
                  "append one line for this run to FILE: UTC time, computer, command, "
                  "transport, port, outcome, exit code, profile, its SHA-256 (tab-separated)")
      ->option_text("FILE");
}

int run_on_reader(const Invocation& inv, const TransportArgs& t, ReaderRun run,
                  const std::function<int(const Target&, std::string* file)>& body) {
  int exit = kExitOk;
  const std::optional<Target> target = target_of(inv.io, inv.host, t, run.command, &exit);
  auto recorded = [&](int rc) {
    return run.results.empty() ? rc
                               : record_run(inv.io, run.results, run.command,
                                            target ? &*target : nullptr, inv.host, run.file, rc);
  };
  if (!target) return recorded(exit);
  DeviceLog log(inv);
  return recorded(body(*target, &run.file));
}

}  // namespace msr::profile
