// msrprofile doctor: everything this machine tells about its reader, one finding a line,
// with what to do where something is wrong. It only reads: no command that changes a
// reader's settings is ever sent.
//
// Exit: kExitOk when a reader was found and nothing is wrong; kExitDiffers when a reader
// was found, with a warning (the keyboard layout, a device that answered wrongly);
// kExitNoReader when none was.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "common/flags.h"
#include "msrprofile/commands/command.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/keyboard/keyboard_layouts.h"
#include "msrprofile/profile/json.h"
#include "platform/os.h"
#include "settings/settings_block.h"
#include "transport/ps2/ps2.h"
#include "transport/usb/usb.h"
#include "transport/vcom/protocol.h"
#include "transport/vcom/serial_port.h"
#include "transport/vcom/vcom.h"

namespace msr::profile {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::uint32_t kErrorFileNotFound = 2, kErrorPathNotFound = 3, kErrorAccessDenied = 5;
constexpr std::size_t kMinSettingsReply = 9;

enum class Status { ok, info, warning };

const char* status_key(Status s) {
  return s == Status::ok ? "ok" : s == Status::info ? "info" : "warning";
}

struct Finding {
  std::string check;    // what was looked at: "hid_dll", "port", "keyboard_layout", ...
  std::string subject;  // which one, where there are several ("COM5"); empty otherwise
  Status status = Status::info;
  std::string message;
  std::string advice;  // what to do; empty when nothing
};

std::string hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v & 0xFFu);
  return text;
}

const char* yes_no(bool b) {
  return b ? "yes" : "no";
}

// The options a technician looks at first, as a profile names them.
constexpr const char* kSummaryOptions[] = {
    "send_track1",    "send_track2",   "send_track3", "send_leading_ending_codes", "send_lrc",
    "send_ending_cr", "additional_cr", "tab_to_end",  "keyboard_language",         "interface"};

bool was_read(const Reading& r, const Option& o) {
  return (r.read >> o.field) & 1u;
}

std::string summary(const Reading& r) {
  std::string text;
  for (const char* name : kSummaryOptions) {
    const Option* o = find_option(name);
    if (o == nullptr || !was_read(r, *o)) continue;
    text += (text.empty() ? "" : ", ") + o->name + " = " + toml_text(*o, r.bytes);
  }
  return text;
}

Json reader_json(const Reading& r) {
  Json list = Json::array();
  for (const Option& o : options()) {
    if (was_read(r, o)) list.push_back(option_json(o, r.bytes));
  }
  return {{"firmware", r.bytes[kFirmwareByte]},
          {"jis", r.jis},
          {"cif", r.cif},
          {"extended_block", r.extended},
          {"fields_read", missing_fields(static_cast<std::uint16_t>(~r.read))},
          {"options", list}};
}

std::string capabilities(const Reading& r) {
  return "firmware " + hex2(r.bytes[kFirmwareByte]) + ", JIS2 " + yes_no(r.jis) +
         ", interface switch " + yes_no(r.cif);
}

// The reader's keyboard language, when the bytes read hold it.
int reader_language(const Reading& r) {
  const Option* o = find_option("keyboard_language");
  if (o == nullptr || !was_read(r, *o)) return -1;
  return raw(*o, r.bytes);
}

class Doctor {
 public:
  Doctor(const Host& host) : host_(host) {}

  int run(Io io, bool json) {
    doc_["platform"] = host_.windows ? "windows" : "linux";
    Reading usb;
    if (host_.windows) {
      check_hid();
      check_doziv();
      usb = check_usb();
    } else {
      doc_["usb"] = nullptr;
      add("usb_reader", "", Status::info,
          "USB HID and PS/2 readers are reached through the reader's Windows library and "
          "drivers: not on Linux");
    }
    check_ports();
    if (host_.windows) {
      check_ps2();
      check_layout(usb);
    } else {
      doc_["ps2_driver"] = doc_["keyboard_layout"] = nullptr;
    }
    const bool found = !readers_.empty();
    bool warned = false;
    for (const Finding& f : findings_) warned = warned || f.status == Status::warning;
    const int exit = !found ? kExitNoReader : warned ? kExitDiffers : kExitOk;
    if (!found) {
      add("reader", "", Status::warning, "no reader found",
          host_.windows ? "plug the reader in (USB HID needs doziv.dll beside msrprofile.exe; a "
                          "virtual COM reader needs a free COM port) and run doctor again"
                        : "plug the reader in with its virtual COM interface, check that you may "
                          "open the serial ports (the dialout group), and run doctor again");
    }
    doc_["readers"] = readers_;
    doc_["exit"] = exit;
    if (json) {
      Json list = Json::array();
      for (const Finding& f : findings_) {
        list.push_back({{"check", f.check},
                        {"subject", f.subject.empty() ? Json(nullptr) : Json(f.subject)},
                        {"status", status_key(f.status)},
                        {"message", f.message},
                        {"advice", f.advice.empty() ? Json(nullptr) : Json(f.advice)}});
      }
      doc_["findings"] = list;
      print_json(io, doc_);
    } else {
      for (const Finding& f : findings_) {
        char status[16];
        std::snprintf(status, sizeof status, "%-8s", status_key(f.status));
        io.out << status << (f.subject.empty() ? "" : f.subject + ": ") << f.message << "\n";
        if (!f.advice.empty()) io.out << "        what to do: " << f.advice << "\n";
      }
    }
    return exit;
  }

 private:
  void add(std::string check, std::string subject, Status status, std::string message,
           std::string advice = "") {
    findings_.push_back(
        {std::move(check), std::move(subject), status, std::move(message), std::move(advice)});
  }

  void check_hid() {
    const HidLookup h = find_hid();
    const std::string looked =
        h.path.empty() ? "c:\\windows\\system\\hid.dll, c:\\winnt\\system32\\hid.dll" : h.path;
    doc_["hid_dll"] = {{"present", h.present}, {"looked_at", looked}};
    if (h.present) {
      add("hid_dll", "", Status::ok, "hid.dll present (" + looked + ")");
    } else {
      add("hid_dll", "", Status::info, "hid.dll missing (looked at " + looked + ")",
          "a USB HID reader can't be reached without the system's hid.dll: repair the Windows "
          "installation, or use the reader's virtual COM interface");
    }
  }

  void check_doziv() {
    const std::vector<std::string> paths = doziv_paths();
    Json looked = Json::array();
    std::string found, list;
    for (const std::string& p : paths) {
      looked.push_back(p);
      list += (list.empty() ? "" : ", ") + p;
      if (found.empty() && os().GetFileAttributesA(p.c_str()) != w32::kInvalidFileAttributes) {
        found = p;
      }
    }
    doc_["doziv_dll"] = {{"path", found.empty() ? Json(nullptr) : Json(found)},
                         {"looked_at", looked}};
    if (!found.empty()) {
      add("doziv_dll", "", Status::ok, "doziv.dll found: " + found);
    } else {
      add("doziv_dll", "", Status::info, "doziv.dll not found (looked at " + list + ")",
          "a USB HID reader is reached only through its library doziv.dll: put it beside "
          "msrprofile.exe");
    }
  }

  Reading check_usb() {
    std::string why;
    aim(host_, Target{}, &why);
    Reading r = read_reader(host_, Target{});
    Json usb = {{"outcome", r.exit == kExitOk         ? "reader"
                            : r.exit == kExitNoReader ? "no_reader"
                                                      : "reader_failed"},
                {"message", r.problem.empty() ? Json(nullptr) : Json(r.problem)}};
    if (r.exit == kExitOk) {
      Json reader = reader_json(r);
      reader["where"] = "USB HID";
      readers_.push_back(reader);
      std::string ext =
          r.extended ? "extended block yes" : "extended block no (kq1..kq7 can't be read over USB)";
      add("usb_reader", "USB HID", Status::ok, "a reader, " + capabilities(r) + ", " + ext);
      add("configuration", "USB HID", Status::info, summary(r));
    } else if (r.exit == kExitNoReader) {
      add("usb_reader", "USB HID", Status::info, "no reader: " + r.problem);
    } else {
      add("usb_reader", "USB HID", Status::warning,
          "a reader that did not answer properly: " + r.problem,
          "unplug the reader, plug it in again and run doctor again; if it stays so, the "
          "reader needs service");
    }
    doc_["usb"] = usb;
    return r;
  }

  void check_ports() {
    std::string why;
    Target t;
    t.transport = Transport::vcom;
    Json ports = Json::array();
    if (!aim(host_, t, &why)) {
      add("ports", "", Status::info, "no serial port to probe: " + why);
      doc_["ports"] = ports;
      return;
    }
    const ComRange range = com_range();
    if (range.end <= range.first) add("ports", "", Status::info, "no serial port to probe");
    for (int n = range.end - 1; n >= range.first; --n) ports.push_back(probe(n));
    doc_["ports"] = ports;
  }

  // One port as the vCOM transport probes it: opened, given its time-outs, asked for the
  // settings; a reader is also asked the two type queries.
  Json probe(int n) {
    const std::string name = host_.port_name(n);
    Json port = {{"port", name}, {"outcome", nullptr}};
    const std::string text = std::to_string(n);
    const PortOpening o = open_port(text.c_str());
    auto outcome = [&](const char* key, Status status, std::string message,
                       std::string advice = "") {
      port["outcome"] = key;
      add("port", name, status, std::move(message), std::move(advice));
    };
    switch (o.step) {
      case PortOpening::Step::create_failed:
        port["error"] = o.create_error;
        if (o.create_error == kErrorAccessDenied) {
          outcome("in_use", Status::info, "in use by another program (access denied)",
                  "if the reader is on " + name +
                      ", close the program that holds the port (a point-of-sale program, a "
                      "terminal) and run doctor again");
        } else if (o.create_error == kErrorFileNotFound || o.create_error == kErrorPathNotFound) {
          outcome("not_present", Status::info, "no such port");
        } else {
          outcome("open_failed", Status::info,
                  "can't be opened (error " + std::to_string(o.create_error) + ")");
        }
        return port;
      case PortOpening::Step::not_serial:
        outcome("not_serial", Status::info, "not a serial port (its line settings can't be read)");
        return port;
      case PortOpening::Step::no_device:
        port["modem_status"] = o.modem_read ? Json(o.modem_status) : Json(nullptr);
        outcome("no_device", Status::info,
                o.modem_read ? "no device: CTS and DSR off" : "no device: no modem status");
        return port;
      case PortOpening::Step::opened:
        break;
    }
    port["modem_status"] = o.modem_status;
    settimeout(o.handle);
    unsigned char reply[32] = {};
    std::size_t got = 0;
    const int rc = wrcom(0, o.handle, reply, &got);
    port["reply_bytes"] = got;
    if (rc == 1) {
      outcome("write_failed", Status::info,
              "a device, but the settings read command could not "
              "be sent");
    } else if (rc != 0 && got == 0) {
      outcome("no_answer", Status::info,
              "a device that does not answer the settings read "
              "command: not a reader, or a reader on USB HID");
    } else if (rc != 0) {
      outcome("short_answer", Status::warning,
              "a short answer to the settings read command (" + std::to_string(got) + " bytes, " +
                  std::to_string(kMinSettingsReply) + " needed)",
              "if the reader is on " + name + ", unplug it, plug it in again and run doctor again");
    } else if (reply[kFirmwareByte] == 0) {
      outcome("wrong_answer", Status::warning,
              "a wrong answer to the settings read command (a firmware byte of 0, which no "
              "reader sends)",
              "if the reader is on " + name + ", unplug it, plug it in again and run doctor again");
    } else {
      // The settings record: p2j, mr1..mr7, kq1, the first nine of the fifteen bytes.
      Reading r;
      for (std::size_t i = 0; i < kMinSettingsReply; ++i) r.bytes[i] = reply[i];
      r.read = (1u << kMinSettingsReply) - 1;
      g_shell.jis = g_shell.cif = 0;
      getjis2(o.handle, reply);
      getcif(o.handle, reply);
      r.jis = g_shell.jis != 0;
      r.cif = g_shell.cif != 0;
      r.com = n;
      Json reader = reader_json(r);
      reader["where"] = name;
      readers_.push_back(reader);
      port["reader"] = reader;
      outcome("reader", Status::ok, "a reader, " + capabilities(r));
      add("configuration", name, Status::info, summary(r));
    }
    os().CloseHandle(o.handle);
    return port;
  }

  void check_ps2() {
    // Opening the wedge driver asks it for its version and nothing else.
    const Handle h = dopen(0);
    const bool present = h != invalid_handle();
    const std::string driver = present && g_ps2.driver ? g_ps2.driver : "";
    if (present) os().CloseHandle(h);
    g_ps2.hd = invalid_handle();
    doc_["ps2_driver"] = {{"present", present}, {"driver", present ? Json(driver) : Json(nullptr)}};
    if (present) {
      add("ps2_driver", "", Status::ok, "PS/2 keyboard-wedge driver installed (" + driver + ")");
    } else {
      add("ps2_driver", "", Status::info,
          "no PS/2 keyboard-wedge driver (\\\\.\\VIDEDU, \\\\.\\krnldrvr, \\\\.\\DUVU.VXD)",
          "a PS/2 reader can be programmed only through its driver: install it from the "
          "reader's setup disk");
    }
  }

  void check_layout(const Reading& usb) {
    char klid[Os::kKlidLength + 1] = {};
    const bool known = os().GetKeyboardLayoutNameA(klid);
    klid[Os::kKlidLength] = '\0';
    const KeyboardLayout* host_layout = known ? layout_for_klid(klid) : nullptr;
    const int lang = usb.exit == kExitOk ? reader_language(usb) : -1;
    Json layout = {{"klid", known ? Json(klid) : Json(nullptr)},
                   {"layout", host_layout ? Json(host_layout->windows) : Json(nullptr)},
                   {"reader_language", lang >= 0 ? Json(language_name(lang)) : Json(nullptr)},
                   {"matches", nullptr}};
    const std::string host_text =
        !known ? "unknown"
               : std::string(klid) + (host_layout ? std::string(" (") + host_layout->windows + ")"
                                                  : std::string(" (none of the reader's eight)"));
    if (!known) {
      add("keyboard_layout", "", Status::info, "the terminal's keyboard layout can't be had");
    } else if (usb.exit != kExitOk) {
      add("keyboard_layout", "", Status::info,
          "this terminal types with " + host_text +
              "; no USB HID reader to compare it with (a reader on a virtual COM port sends "
              "characters, whatever the layout)");
    } else if (lang < 0) {
      add("keyboard_layout", "", Status::info,
          "this terminal types with " + host_text +
              "; the reader's keyboard language is in its extended block, which it does not have");
    } else if (host_layout == nullptr) {
      layout["matches"] = false;
      add("keyboard_layout", "", Status::warning,
          "this terminal types with " + host_text + ", the reader for " + language_name(lang),
          unknown_layout_advice(klid, lang));
    } else if (host_layout->lang != lang) {
      layout["matches"] = false;
      add("keyboard_layout", "", Status::warning,
          "this terminal types with " + host_text + ", the reader for " + language_name(lang),
          layout_advice(*host_layout, lang));
    } else {
      layout["matches"] = true;
      add("keyboard_layout", "", Status::ok,
          "this terminal types with " + host_text + ", as the reader does (" + language_name(lang) +
              ")");
    }
    doc_["keyboard_layout"] = layout;
  }

  const Host& host_;
  std::vector<Finding> findings_;
  Json readers_ = Json::array();
  Json doc_ = Json::object();
};

}  // namespace

void add_doctor(CLI::App& app, Commands& commands) {
  add_json_command(
      app, commands, "doctor",
      "Report everything found about the reader on this machine, and what to do",
      [](Io io, const Host& host, bool json) { return Doctor(host).run(io, json); }, true);
}

}  // namespace msr::profile
