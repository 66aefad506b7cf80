#include "msrprofile/commands/read_write_verify.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <ostream>
#include <vector>

#include "common/flags.h"
#include "msrprofile/commands/command.h"
#include "msrprofile/commands/history_restore.h"
#include "msrprofile/commands/reader_options.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/files.h"
#include "msrprofile/profile/json.h"
#include "settings/settings_block.h"
#include "transport/ps2/ps2.h"
#include "transport/save.h"
#include "transport/transports.h"

namespace msr::profile {
namespace {

std::string hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v & 0xFFu);
  return text;
}

bool vcomif(const Bytes& b) {
  BitPlace p = bit_place(Bit::vcomif);
  return ((b[8] >> p.bit) & 1) != 0;
}

// The port a command was aimed at, before any reader answered: null when it probes.
nlohmann::ordered_json aimed_port(const Host& host, const Target& t) {
  if (t.transport != Transport::vcom) return nullptr;
  if (!t.path.empty()) return t.path;
  if (t.com != 0) return host.port_name(t.com);
  return nullptr;
}

nlohmann::ordered_json found_port(const Host& host, const Target& t, const Reading& r) {
  if (t.transport != Transport::vcom) return nullptr;
  return host.port_name(r.com);
}

nlohmann::ordered_json reader_json(const Reading& r) {
  return {{"bytes", hex_bytes(r.bytes)},
          {"firmware", r.bytes[kFirmwareByte]},
          {"extended_block", r.extended},
          {"jis", r.jis},
          {"cif", r.cif}};
}

// A reader that could not be reached or read: the message, and with --json a document
// that says so.
int device_failure(Io io, bool json, const Host& host, const Target& t, int exit,
                   const std::string& problem, nlohmann::ordered_json doc = {}) {
  io.err << "msrprofile: " << problem << "\n";
  if (json) {
    if (doc.is_null()) doc = nlohmann::ordered_json::object();
    doc["outcome"] = port_busy(exit)         ? "port_busy"
                     : exit == kExitNoReader ? "no_reader"
                                             : "reader_failed";
    doc["message"] = problem;
    doc["transport"] = transport_key(t.transport);
    doc["port"] = aimed_port(host, t);
    print_json(io, doc);
  }
  return exit;
}

// Why the options a transport can't read were not compared.
std::string unread_reason(const Target& t, const Reading& r) {
  if (t.transport == Transport::vcom) return "a virtual COM port reads the base block and kq1";
  if (r.extended) return "USB HID reads the base block, kq1 and kq2";
  return "this USB HID reader has no extended block";
}

std::string reader_text(const Host& host, const Target& t, const Reading& r) {
  return "the reader on " + where(host, t, r) + " (firmware " + hex2(r.bytes[kFirmwareByte]) +
         (r.jis ? ", JIS2" : "") + (r.cif ? ", can switch its interface" : "") + ")";
}

struct Comparison {
  std::vector<const Option*> differ, unchecked;  // unchecked: the firmware byte aside
  // Set to something else than the English default in the file, but not read from the
  // reader: nothing shows that the reader holds it, so they count as differing.
  std::vector<const Option*> unheld;
  bool same() const { return differ.empty() && unheld.empty(); }
};

// A profile that leaves `interface` out says nothing about it: it is not compared.
Comparison compare(const Bytes& intended, const Reading& found, bool interface_left_out) {
  static const Bytes defaults = to_bytes(default_block(DefaultSet::english));
  Comparison c;
  const std::uint16_t checked = comparable(found);
  for (const Option& o : options()) {
    if (o.field == kFirmwareByte || (interface_left_out && o.name == kInterfaceOption)) continue;
    if (!(checked & (1u << o.field))) {
      (raw(o, intended) == raw(o, defaults) ? c.unchecked : c.unheld).push_back(&o);
    } else if (raw(o, intended) != raw(o, found.bytes)) {
      c.differ.push_back(&o);
    }
  }
  return c;
}

// Why an option the file sets was not seen in the reader.
std::string unheld_reason(const Target& t, const Reading& r) {
  if (t.transport == Transport::usb && !r.extended) {
    return "this USB HID reader has no extended block to hold it";
  }
  return "not read back (" + unread_reason(t, r) + "), so nothing shows the reader holds it";
}

std::string names(const std::vector<const Option*>& list) {
  std::string text;
  for (const Option* o : list) text += (text.empty() ? "" : ", ") + o->name;
  return text;
}

void print_differences(Io io, const Target& t, const Reading& r, const Comparison& c,
                       const Bytes& intended) {
  for (const Option* o : c.differ) {
    io.out << o->name << ": intended " << toml_text(*o, intended) << ", found "
           << toml_text(*o, r.bytes) << "\n";
  }
  for (const Option* o : c.unheld) {
    io.out << o->name << ": intended " << toml_text(*o, intended) << ", " << unheld_reason(t, r)
           << "\n";
  }
  const std::size_t n = c.differ.size() + c.unheld.size();
  io.out << n << (n == 1 ? " option differs\n" : " options differ\n");
}

void print_unchecked(Io io, const Target& t, const Reading& r, const Comparison& c,
                     const std::string& file, bool interface_left_out) {
  if (!c.unchecked.empty()) {
    io.out << "not checked (" << unread_reason(t, r) << "): " << names(c.unchecked) << "\n";
  }
  if (interface_left_out) {
    io.out << "interface: not compared, " << file << " leaves it out\n";
  }
  io.out << "firmware: not compared, it is the reader's own\n";
}

// The comparison's outcome as text on standard output; true when the reader holds it.
bool report_comparison(Io io, const std::string& file, const std::string& reader, const Target& t,
                       const Reading& r, const Comparison& c, const Bytes& intended) {
  if (c.same()) {
    io.out << reader << " holds the configuration of " << file << "\n";
    return true;
  }
  io.out << reader << " differs from " << file << ":\n";
  print_differences(io, t, r, c, intended);
  return false;
}

// What a read leaves unread, and what stands there instead.
std::string unread_note(const Target& t, const Reading& r) {
  const std::string fields = missing_fields(r.read);
  if (fields.empty()) return "";
  std::string why = t.transport == Transport::vcom ? "a virtual COM port doesn't give them"
                    : r.extended                   ? "USB HID doesn't give them"
                                                   : "this USB HID reader has no extended block";
  return fields + " could not be read (" + why + ") and hold 0x00, as in the English default set";
}

std::string read_profile(const Host& host, const Target& t, const Reading& r) {
  std::string text = "# Read from " + reader_text(host, t, r) + ".\n";
  const std::string note = unread_note(t, r);
  if (!note.empty()) text += "# " + note + ".\n";
  return text + show(r.bytes);
}

}  // namespace

int cmd_read(Io io, const Host& host, const ReadArgs& a) {
  if (!a.output.empty() && a.profile && !is_profile_name(a.output)) {
    return usage(io, "read --profile -o: a profile's name ends in .toml: " + a.output);
  }
  const Reading r = reach(host, a.target);
  if (r.exit != kExitOk) return device_failure(io, a.json, host, a.target, r.exit, r.problem);

  io.err << "read " << reader_text(host, a.target, r) << "\n";
  const std::string note = unread_note(a.target, r);
  if (!note.empty()) io.err << note << "\n";
  const bool as_profile = a.output.empty() || is_profile_name(a.output);
  if (!a.output.empty()) {
    const std::string bytes(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size());
    const int rc = write_or_report(
        io, a.output, as_profile ? read_profile(host, a.target, r) : bytes, as_profile);
    if (rc != kExitOk) return rc;
  } else if (!a.json) {
    io.out << read_profile(host, a.target, r);
  }
  if (a.json) {
    nlohmann::ordered_json doc = {{"outcome", "read"},
                                  {"transport", transport_key(a.target.transport)},
                                  {"port", found_port(host, a.target, r)},
                                  {"reader", reader_json(r)}};
    doc["not_read"] = nlohmann::ordered_json::array();
    for (int i = 0; i < kBlockSize; ++i) {
      if (!(r.read & (1u << i))) doc["not_read"].push_back(kFields[i].name);
    }
    nlohmann::ordered_json block = block_json(a.output.empty() ? std::string() : a.output, r.bytes);
    if (a.output.empty()) block["file"] = nullptr;
    for (auto& [key, value] : block.items()) doc[key] = value;
    print_json(io, doc);
  }
  return kExitOk;
}

int cmd_verify(Io io, const Host& host, const VerifyArgs& a) {
  bool interface_left_out = false;
  std::optional<Bytes> intended = load_or_report(io, a.file, &interface_left_out);
  if (!intended) return kExitBadInput;
  nlohmann::ordered_json doc = {{"file", a.file}, {"bytes", hex_bytes(*intended)}};
  const Reading r = reach(host, a.target);
  if (r.exit != kExitOk) {
    doc["same"] = false;
    return device_failure(io, a.json, host, a.target, r.exit, r.problem, doc);
  }
  const Comparison c = compare(*intended, r, interface_left_out);
  const bool same = c.same();
  if (a.json) {
    doc["outcome"] = same ? "same" : "differs";
    doc["same"] = same;
    doc["transport"] = transport_key(a.target.transport);
    doc["port"] = found_port(host, a.target, r);
    doc["reader"] = reader_json(r);
    doc["differences"] = nlohmann::ordered_json::array();
    for (const Option* o : c.differ) {
      doc["differences"].push_back({{"name", o->name},
                                    {"field", kFields[o->field].name},
                                    {"mask", o->mask},
                                    {"intended", side_json(*o, *intended)},
                                    {"found", side_json(*o, r.bytes)}});
    }
    for (const Option* o : c.unheld) {
      doc["differences"].push_back({{"name", o->name},
                                    {"field", kFields[o->field].name},
                                    {"mask", o->mask},
                                    {"intended", side_json(*o, *intended)},
                                    {"found", nullptr},
                                    {"why", unheld_reason(a.target, r)}});
    }
    doc["not_checked"] = nlohmann::ordered_json::array();
    for (const Option* o : c.unchecked) doc["not_checked"].push_back(o->name);
    print_json(io, doc);
  } else {
    report_comparison(io, a.file, reader_text(host, a.target, r), a.target, r, c, *intended);
    print_unchecked(io, a.target, r, c, a.file, interface_left_out);
  }
  return same ? kExitOk : kExitDiffers;
}

namespace {

// Silent mode's PS/2 write: the file's p2j, mr1..mr7 through the keyboard-wedge driver,
// with nothing read first and nothing to read back.
int write_ps2(Io io, const Host& host, const WriteArgs& a, const Bytes& bytes) {
  if (!host.windows) {
    return device_failure(io, false, host, a.target, kExitNoReader,
                          "PS/2 readers are reached through the reader's Windows keyboard-wedge "
                          "drivers, which Linux doesn't have");
  }
  load_block(blk(), bytes.data());
  g_transports.setps2();
  if (!g_ps2.driver_opened) {
    return device_failure(io, false, host, a.target, kExitNoReader,
                          "no keyboard-wedge driver (\\\\.\\VIDEDU, \\\\.\\krnldrvr) answered: no "
                          "PS/2 reader can be reached");
  }
  if (!g_ps2.block_taken) {
    return device_failure(io, false, host, a.target, kExitReaderFailed,
                          "the PS/2 reader did not take the settings (three attempts)");
  }
  io.out << "wrote p2j, mr1..mr7 of " << a.file
         << " through the keyboard-wedge driver (the firmware byte as the file has it, as "
            "msrsetup -s writes it); kq1..kq7 don't go over PS/2, and PS/2 can't be read "
            "back: nothing was verified\n";
  return kExitOk;
}

}  // namespace

int cmd_write(Io io, const Host& host, const WriteArgs& a) {
  bool interface_left_out = false;
  std::optional<Bytes> file = load_or_report(io, a.file, &interface_left_out);
  if (!file) return kExitBadInput;  // nothing has reached the reader
  warn_delay(io, a.file, *file);
  if (a.target.transport == Transport::ps2) return write_ps2(io, host, a, *file);
  ProgramOptions o;
  o.interface_left_out = interface_left_out;
  return program_reader(io, host, a, &*file, o).exit;
}

namespace {

// The bytes a write sends that the reader gives back, the firmware byte aside: only when
// all of them were read can a reader be said to hold the file already.
std::uint16_t sent_fields(Transport t, bool extended) {
  constexpr std::uint16_t base = 0x7F, kq1 = 1u << 8, extended_block = 0x7F00;
  return t == Transport::usb ? (extended ? base | extended_block : base) : base | kq1;
}

bool holds_already(const Target& t, const Reading& r, const Bytes& file) {
  const std::uint16_t sent = sent_fields(t.transport, r.extended);
  if ((sent & r.read) != sent) return false;
  for (int i = 0; i < kBlockSize; ++i) {
    if ((sent & (1u << i)) && file[i] != r.bytes[i]) return false;
  }
  return true;
}

}  // namespace

Programmed program_reader(Io io, const Host& host, const WriteArgs& a, Bytes* file,
                          const ProgramOptions& o) {
  Programmed p;
  // The failure is reported as write reports it, and kept for the caller.
  const auto device_failure = [&](Io io, bool json, const Host& host, const Target& t, int exit,
                                  const std::string& problem) {
    p.exit = profile::device_failure(io, json, host, t, exit, problem);
    p.problem = problem;
    return p;
  };
  // As "Save && Exit" after the window has read the reader: the read tells whether a USB
  // reader has the extended block, whether it can switch its interface, and its firmware.
  p.before = o.before != nullptr ? *o.before : reach(host, a.target);
  const Reading& before = p.before;
  if (before.exit != kExitOk) {
    return device_failure(io, false, host, a.target, before.exit,
                          before.problem + "; nothing was written");
  }
  const std::string reader = reader_text(host, a.target, before);
  const std::uint8_t firmware = before.bytes[kFirmwareByte];
  std::string notes;
  if (o.interface_left_out) {
    // The reader's own interface bit goes back to it, so nothing asks it to switch.
    const Option& option = *find_option(kInterfaceOption);
    (*file)[option.field] = static_cast<std::uint8_t>(((*file)[option.field] & ~option.mask) |
                                                      raw(option, before.bytes));
    notes += "interface: " + a.file + " leaves it out, so the reader keeps its " +
             (vcomif(before.bytes) ? "virtual COM port" : "USB HID keyboard") + " interface\n";
  }
  if (o.skip_when_held && holds_already(a.target, before, *file)) {
    p.no_change = true;
    io.out << reader << " already holds " << a.file << ": nothing was written\n";
    return p;
  }
  if (const int kept = keep_before_write(io, host, a, before, &p.history); kept != kExitOk) {
    p.exit = kept;
    p.problem = p.history;
    p.history.clear();
    return p;
  }
  if ((*file)[kFirmwareByte] != firmware) {
    notes += "firmware: the reader keeps its own " + hex2(firmware) + "; the file's " +
             hex2((*file)[kFirmwareByte]) + " is not sent\n";
  }
  load_block(blk(), file->data());
  blk().mr7 = firmware;

  const bool usb = a.target.transport == Transport::usb;
  if (!usb) g_shell.cport = before.com;  // the reader just read, not whichever answers first now
  // Both blocks or neither: the same save as the window's, from the read just made.
  const SaveOutcome saved = usb ? save_usb() : save_vcom();
  if (!saved.ok()) {
    const std::string port = usb ? std::string() : host.port_name(before.com);
    std::string text;  // one line: its paragraphs joined
    for (const char c : save_failure_text(saved, port)) {
      if (c != '\n') {
        text += c;
      } else if (!text.empty() && text.back() != ' ') {
        text += ' ';
      }
    }
    return device_failure(io, false, host, a.target, kExitReaderFailed, text);
  }
  bool& switches = p.switched;
  if (usb) {
    if (!before.extended) {
      notes += "kq1..kq7: not written, this USB HID reader has no extended block\n";
    }
    // setusb1 follows the block with the reset that moves the reader to its vCOM side.
    switches = before.extended && before.cif && vcomif(*file);
  } else {
    notes += "kq2..kq7: not written, a virtual COM port takes the base block and kq1\n";
    // setcom follows the block with the reset that moves the reader to its HID side.
    switches = before.cif && !vcomif(*file);
  }
  io.out << "wrote " << a.file << " to " << reader << "\n" << notes;
  if (switches) {
    io.out << "the reader was told to switch to its "
           << (usb ? "virtual COM port" : "USB HID keyboard")
           << " interface and comes back on it, so it is not read back here; ";
    if (usb || host.windows) {
      io.out << "read it back with: msrprofile verify " << a.file << (usb ? " --vcom" : " --usb")
             << "\n";
    } else {
      io.out << "a USB HID reader can't be read on Linux\n";
    }
    return p;
  }

  Target back = a.target;
  if (!usb) back.com = before.com;
  const Reading after = read_reader(host, back);
  if (after.exit != kExitOk) {
    return device_failure(io, false, host, a.target, kExitReaderFailed,
                          "after the write the reader did not answer the read-back, so "
                          "whether it took the write is unknown: " +
                              after.problem);
  }
  const Comparison c = compare(*file, after, false);
  const bool held = report_comparison(io, a.file, "read back: " + reader_text(host, back, after),
                                      back, after, c, *file);
  print_unchecked(io, back, after, c, a.file, false);
  for (const auto* list : {&c.differ, &c.unheld}) {
    for (const Option* option : *list) p.differing.push_back(option->name);
  }
  p.exit = held ? kExitOk : kExitDiffers;
  return p;
}

void add_read_write_verify(CLI::App& app, Commands& commands) {
  auto read = std::make_shared<OnReader<ReadArgs>>();
  CLI::App* read_cmd = app.add_subcommand(
      "read", "Read the attached reader into a profile (standard output or -o) or a settings file");
  read->transport.add_to(read_cmd);
  read_cmd->add_option("-o,--output", read->args.output,
                       "write it to FILE: a profile when the name ends in .toml, else a settings "
                       "file");
  read_cmd->add_flag("--profile", read->args.profile, "insist on a profile (-o NAME.toml)");
  read_cmd->add_flag("--json", read->args.json, "print one JSON document");
  commands.push_back(on_reader(read_cmd, read, cmd_read));

  auto write = std::make_shared<OnReader<WriteArgs>>();
  CLI::App* write_cmd = app.add_subcommand(
      "write", "Program the reader from FILE: read it, write, read back and compare");
  write_cmd->add_option("FILE", write->args.file, "settings file or profile")->required();
  write->add_to(write_cmd);
  commands.push_back(on_reader(write_cmd, write, cmd_write, &WriteArgs::file));

  auto verify = std::make_shared<OnReader<VerifyArgs>>();
  CLI::App* verify_cmd = app.add_subcommand(
      "verify", "Read the reader and compare it with FILE (0 the same, 1 it differs)");
  verify_cmd->add_option("FILE", verify->args.file, "settings file or profile")->required();
  verify->add_to(verify_cmd);
  verify_cmd->add_flag("--json", verify->args.json, "print one JSON document");
  commands.push_back(on_reader(verify_cmd, verify, cmd_verify, &VerifyArgs::file));
}

}  // namespace msr::profile
