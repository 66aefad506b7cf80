#include "msrprofile/cli.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <ostream>
#include <string>

#include "common/log.h"
#include "msr_version.h"  // generated in the build tree from VERSION
#include "msrprofile/commands/doctor.h"
#include "msrprofile/commands/history_restore.h"
#include "msrprofile/commands/layouts.h"
#include "msrprofile/commands/read_write_verify.h"
#include "msrprofile/commands/station.h"
#include "msrprofile/commands/swipe.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/profile/files.h"
#include "msrprofile/profile/json.h"
#include "msrprofile/profile/output.h"
#include "msrprofile/reader/results.h"
#include "transport/vcom/vcom.h"

namespace msr::profile {
namespace {

struct ShowArgs {
  std::string file, output;
  bool json = false;
};

int cmd_show(Io io, const ShowArgs& a) {
  if (!a.output.empty() && !is_profile_name(a.output)) {
    return usage(io, "show -o: a profile's name ends in .toml: " + a.output);
  }
  bool interface_left_out = false;
  std::optional<Bytes> bytes = load_or_report(io, a.file, &interface_left_out);
  if (!bytes) return kExitBadInput;
  if (a.json) {
    print_json(io, block_json(a.file, *bytes));
    return kExitOk;
  }
  const std::string text = show(*bytes, interface_left_out);
  if (!a.output.empty()) return write_or_report(io, a.output, text, true);
  io.out << text;
  return kExitOk;
}

struct BuildArgs {
  std::string profile, output;
};

int cmd_build(Io io, const BuildArgs& a) {
  if (is_profile_name(a.output)) {
    return usage(io,
                 "build -o: a settings file's name must not end in .toml, or it would be "
                 "read back as a profile: " +
                     a.output);
  }
  std::optional<Bytes> bytes = load_or_report(io, a.profile);
  if (!bytes) return kExitBadInput;
  warn_delay(io, a.profile, *bytes);
  return write_or_report(
      io, a.output, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
      false);
}

struct DiffArgs {
  std::string a, b;
  bool json = false;
};

int cmd_diff(Io io, const DiffArgs& d) {
  std::optional<Bytes> a = load_or_report(io, d.a);
  std::optional<Bytes> b = load_or_report(io, d.b);
  if (!a || !b) return kExitBadInput;
  std::vector<const Option*> differ = differences(*a, *b);
  if (d.json) {
    print_json(io, diff_json(d.a, *a, d.b, *b));
  } else if (differ.empty()) {
    io.out << "the same configuration\n";
  } else {
    io.out << "--- " << d.a << "\n+++ " << d.b << "\n";
    for (const Option* o : differ) {
      io.out << o->name << ": " << toml_text(*o, *a) << " -> " << toml_text(*o, *b) << "\n";
    }
    io.out << differ.size() << (differ.size() == 1 ? " option differs\n" : " options differ\n");
  }
  return differ.empty() ? kExitOk : kExitDiffers;
}

// How a command line names the reader's transport.
struct TransportArgs {
  bool usb = false, ps2 = false;
  std::string vcom;  // empty: not given; "true" for --vcom alone, N for --vcom=N
  std::string port;

  void add_to(CLI::App* cmd) {
    cmd->add_flag("--usb", usb, "the reader on USB HID (Windows, with the reader's doziv.dll)");
    cmd->add_flag("--vcom", vcom,
                  "the reader on a virtual COM port: probe the ports as msrsetup -v does, or only "
                  "COM N with --vcom=N (Windows)")
        ->option_text("[=N]");
    cmd->add_option("--port", port,
                    "the reader on this serial port: COMn or \\\\.\\COMn on Windows, a device "
                    "path such as /dev/ttyACM0 on Linux");
    // Only write can use it; the others still know it, to say why not, but don't offer it.
    CLI::Option* p =
        cmd->add_flag("--ps2", ps2, "the reader on PS/2 (Windows; written, never read)");
    if (cmd->get_name() != "write") p->group("");
  }
};

}  // namespace

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

namespace {}  // namespace

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

namespace {

// The reader's transport from the command line; nullopt after a usage message.
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

// The device commands keep the same diagnostic log as msrsetup: "\msr.log", only when it
// exists.
struct DeviceLog {
  DeviceLog(int argc, const char* const* argv) {
    log_open();
    std::string line;
    for (int i = 1; i < argc; ++i) line += std::string(i > 1 ? " " : "") + argv[i];
    log_write(" msrprofile %s: %s \n", MSR_VERSION_TEXT, line.c_str());
  }
  ~DeviceLog() { log_close(); }
};

}  // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  return run(argc, argv, out, err, Host{});
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, const Host& host) {
  Io io{out, err};
  CLI::App app{"msrprofile: reader configurations as readable profiles (TOML)", "msrprofile"};
  app.set_version_flag("--version", std::string("msrprofile ") + MSR_VERSION_TEXT);
  // A FILE may be a Windows path such as /profiles/a.toml or start with "/": never an option.
  // Set before the commands are added, which take it from here.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.footer(
      "A FILE whose name ends in .toml is a profile; any other is a fifteen-byte settings file.\n"
      "Exit codes: 0 done or the same, 1 differ, 2 no reader, 3 bad settings file or profile, "
      "4 the reader did not answer properly, 5 output not written, 64 wrong command line.");

  ShowArgs show_args;
  CLI::App* show_cmd =
      app.add_subcommand("show", "Print FILE as a profile (TOML), every option by name");
  show_cmd->add_option("FILE", show_args.file, "settings file or profile")->required();
  show_cmd->add_flag("--json", show_args.json, "print one JSON document instead");
  show_cmd->add_option("-o,--output", show_args.output, "write the profile to PROFILE.toml instead")
      ->excludes("--json");

  BuildArgs build_args;
  CLI::App* build_cmd =
      app.add_subcommand("build", "Make the fifteen-byte settings file from PROFILE");
  build_cmd->add_option("PROFILE", build_args.profile, "profile (or settings file)")->required();
  build_cmd->add_option("-o,--output", build_args.output, "the settings file to write")->required();

  DiffArgs diff_args;
  CLI::App* diff_cmd =
      app.add_subcommand("diff", "Compare two settings files or profiles, option by option");
  diff_cmd->add_option("A", diff_args.a, "settings file or profile")->required();
  diff_cmd->add_option("B", diff_args.b, "settings file or profile")->required();
  diff_cmd->add_flag("--json", diff_args.json, "print one JSON document instead");

  // Only one command is parsed, so the three share the variables their transport
  // options fill.
  TransportArgs transport;
  ReadArgs read_args;
  CLI::App* read_cmd = app.add_subcommand(
      "read", "Read the attached reader into a profile (standard output or -o) or a settings file");
  transport.add_to(read_cmd);
  read_cmd->add_option("-o,--output", read_args.output,
                       "write it to FILE: a profile when the name ends in .toml, else a settings "
                       "file");
  read_cmd->add_flag("--profile", read_args.profile, "insist on a profile (-o NAME.toml)");
  read_cmd->add_flag("--json", read_args.json, "print one JSON document");

  WriteArgs write_args;
  CLI::App* write_cmd = app.add_subcommand(
      "write", "Program the reader from FILE: read it, write, read back and compare");
  write_cmd->add_option("FILE", write_args.file, "settings file or profile")->required();
  transport.add_to(write_cmd);
  // write and verify, one of them parsed: where the run's line goes.
  std::string results;
  const char* results_help =
      "append one line for this run to FILE: UTC time, computer, command, transport, port, "
      "outcome, exit code, profile, its SHA-256 (tab-separated)";
  write_cmd->add_option("--results", results, results_help)->option_text("FILE");

  VerifyArgs verify_args;
  CLI::App* verify_cmd = app.add_subcommand(
      "verify", "Read the reader and compare it with FILE (0 the same, 1 it differs)");
  verify_cmd->add_option("FILE", verify_args.file, "settings file or profile")->required();
  transport.add_to(verify_cmd);
  verify_cmd->add_option("--results", results, results_help)->option_text("FILE");
  verify_cmd->add_flag("--json", verify_args.json, "print one JSON document");

  RestoreArgs restore_args;
  CLI::App* restore_cmd = app.add_subcommand(
      "restore",
      "Write back what a write replaced: a history entry (default: the reader's newest)");
  restore_cmd->add_option("ENTRY", restore_args.entry,
                          "an entry msrprofile history lists, or its path");
  transport.add_to(restore_cmd);
  restore_cmd->add_option("--results", results, results_help)->option_text("FILE");

  bool history_json = false;
  CLI::App* history_cmd = app.add_subcommand(
      "history", "List the configurations write and restore replaced, newest first");
  history_cmd->add_flag("--json", history_json, "print one JSON document");

  bool ports_json = false;
  CLI::App* ports_cmd = app.add_subcommand(
      "ports", "List the serial ports --vcom probes, in the order it probes them");
  ports_cmd->add_flag("--json", ports_json, "print one JSON document");

  bool doctor_json = false;
  CLI::App* doctor_cmd = app.add_subcommand(
      "doctor", "Report everything found about the reader on this machine, and what to do");
  doctor_cmd->add_flag("--json", doctor_json, "print one JSON document");
  SwipeArgs swipe_args;
  CLI::App* swipe_cmd = add_swipe_command(app, swipe_args);
  LayoutsArgs layouts_args;
  CLI::App* layouts_cmd = add_layouts_command(app, layouts_args);

  StationArgs station_args;
  CLI::App* station_cmd = app.add_subcommand(
      "station",
      "Program one reader after another with PROFILE, each as write does, until --count or "
      "Ctrl+C");
  station_cmd->add_option("PROFILE", station_args.profile, "profile (or settings file)")
      ->required();
  transport.add_to(station_cmd);
  station_cmd->add_option("--count", station_args.count, "end after N readers (default: Ctrl+C)")
      ->option_text("N")
      ->check(CLI::Range(1, 1000000));
  station_cmd
      ->add_option("--results", station_args.results,
                   "append one line per reader to FILE, as write --results does")
      ->option_text("FILE");
  station_cmd->add_flag("--swipe", station_args.swipe,
                        "after a good write, check a test swipe against PROFILE");
  station_cmd->add_flag("--json", station_args.json,
                        "one JSON object a line per reader as it ends, and the summary last");

  // Without this CLI11 answers a mistyped command with "A subcommand is required".
  if (argc > 1 && argv[1][0] != '-') {
    std::string names;
    bool known = false;
    for (const CLI::App* c :
         {show_cmd, build_cmd, diff_cmd, read_cmd, write_cmd, verify_cmd, restore_cmd, history_cmd,
          ports_cmd, doctor_cmd, swipe_cmd, layouts_cmd, station_cmd}) {
      names += (names.empty() ? "" : ", ") + c->get_name();
      known = known || c->get_name() == argv[1];
    }
    if (!known) {
      return usage(io,
                   std::string("unknown command \"") + argv[1] + "\"; the commands are: " + names);
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (show_cmd->parsed()) return cmd_show(io, show_args);
  if (build_cmd->parsed()) return cmd_build(io, build_args);
  if (diff_cmd->parsed()) return cmd_diff(io, diff_args);
  if (swipe_cmd->parsed()) return cmd_swipe(io, host, swipe_args);
  if (layouts_cmd->parsed()) return cmd_layouts(io, layouts_args);
  if (history_cmd->parsed()) return cmd_history(io, host, history_json);

  if (ports_cmd->parsed()) {
    DeviceLog log(argc, argv);
    return cmd_ports(io, host, ports_json);
  }
  if (doctor_cmd->parsed()) {
    DeviceLog log(argc, argv);
    return cmd_doctor(io, host, doctor_json);
  }
  const std::string name = read_cmd->parsed()      ? "read"
                           : write_cmd->parsed()   ? "write"
                           : restore_cmd->parsed() ? "restore"
                           : station_cmd->parsed() ? "station"
                                                   : "verify";
  int exit = kExitOk;
  std::optional<Target> target = target_of(io, host, transport, name, &exit);
  if (station_cmd->parsed()) {
    if (!target) return exit;
    DeviceLog log(argc, argv);
    station_args.target = *target;
    return cmd_station(io, host, station_args);
  }
  std::string file = write_cmd->parsed()     ? write_args.file
                     : restore_cmd->parsed() ? restore_args.entry
                                             : verify_args.file;
  auto recorded = [&](int rc) {
    return results.empty()
               ? rc
               : record_run(io, results, name, target ? &*target : nullptr, host, file, rc);
  };
  if (!target) return recorded(exit);
  DeviceLog log(argc, argv);
  if (read_cmd->parsed()) {
    read_args.target = *target;
    return cmd_read(io, host, read_args);
  }
  if (write_cmd->parsed()) {
    write_args.target = *target;
    return recorded(cmd_write(io, host, write_args));
  }
  if (restore_cmd->parsed()) {
    restore_args.target = *target;
    const int rc = cmd_restore(io, host, restore_args, &file);
    return recorded(rc);
  }
  verify_args.target = *target;
  return recorded(cmd_verify(io, host, verify_args));
}

}  // namespace msr::profile
