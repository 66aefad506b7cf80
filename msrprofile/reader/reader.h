// msrprofile's way to a reader: the transports msrsetup itself uses, called as the window
// calls them, with what each transport could read told apart from what it could not.
// Host, below, is msrprofile's boundary to what differs between the platforms it runs on
// (which transports exist, how serial ports are found and named).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "msrprofile/profile/codec.h"
#include "platform/posix/serial_ports.h"
#include "settings/history.h"

namespace msr::profile {

enum class Transport { usb, vcom, ps2 };
const char* transport_key(Transport t);  // "usb", "vcom", "ps2"

// mr7's place among the fifteen bytes: the firmware version, the reader's own.
inline constexpr int kFirmwareByte = 7;

// What differs between the platforms msrprofile runs on.
struct Host {
  // The reader's USB support library and PS/2 drivers exist only on Windows, where COM
  // ports are also named by number.
  bool windows = true;
  // Linux: makes the system's serial ports, in probing order, the COM ports the vCOM
  // transport probes (the first becomes the highest number); false, and why, when the
  // system can't list them.
  std::function<bool(std::string* why)> offer_system_ports;
  // Linux: makes one device path the only COM port, COM1.
  std::function<void(const std::string& path)> offer_port;
  // How a person names COM port n here: "COM5" on Windows, the device path on Linux.
  std::function<std::string(int com)> port_name = [](int com) {
    return "COM" + std::to_string(com);
  };
  // Linux: the system's serial ports in probing order; false, and why, when the system
  // can't list them. (Windows lists the registry's through the OS boundary.)
  std::function<bool(std::vector<SerialPortInfo>* ports, std::string* why)> list_ports;
  // The system's words for an error code (Windows: FormatMessage).
  std::function<std::string(unsigned long code)> error_text = [](unsigned long code) {
    return "error " + std::to_string(code);
  };
  // Linux: why a serial port given by path can't be one (it does not exist, or it is no
  // device); empty when it may be.
  std::function<std::string(const std::string& path)> port_problem = [](const std::string&) {
    return std::string();
  };
  // The folder of the history of configurations a write replaced; empty, and why, when
  // there is none. Windows: the one msrsetup's window keeps as well.
  std::function<std::string(std::string* why)> history_folder = [](std::string* why) {
    return msr::history_folder(why);
  };
  // Standard error is a terminal, where a countdown can rewrite its line.
  bool countdown = false;
  // From then on Ctrl+C, Ctrl+Break (Windows) and SIGINT, SIGTERM (POSIX) only ask the
  // program to stop, so that a reader being written is finished; stop_requested says
  // whether one came.
  std::function<void()> catch_stop = [] {};
  std::function<bool()> stop_requested = [] { return false; };
};

// Where the reader is looked for.
struct Target {
  Transport transport = Transport::usb;
  int com = 0;       // vCOM: only this COM port; 0 probes them all
  std::string path;  // Linux: the one serial port to use
};

// What a read found. Bytes the transport can't read are 0 in `bytes` and clear in `read`.
struct Reading {
  int exit = 0;            // kExitOk, kExitNoReader or kExitReaderFailed
  std::string problem;     // why not, for a person, when exit is not kExitOk
  Bytes bytes{};           // p2j, mr1..mr7, kq1..kq7
  std::uint16_t read = 0;  // bit i set: byte i came from the reader
  bool extended = false;   // USB: the reader has the extended block
  bool jis = false, cif = false;
  int com = 0;  // vCOM: the COM port the reader answered on
};

// The last read found no reader (`exit` is kExitNoReader) and a port held by another
// program, where the reader may be.
bool port_busy(int exit);

// Sets the process-wide transport flags for `t`; false, and why, when the platform can't
// reach a reader that way (no reader: kExitNoReader).
bool aim(const Host& host, const Target& t, std::string* why);

// Reads the reader `aim` pointed at: over USB setusb(0) then setusb1(0) (the base block,
// and kq1, kq2 where the reader has the extended block); over vCOM setcom(0) (the base
// block and kq1) until two reads in a row agree, at most three times, on the port that
// answered first. Sends nothing but read commands and queries.
Reading read_reader(const Host& host, const Target& t);

// aim, then read_reader; a platform that can't reach the reader gives kExitNoReader.
Reading reach(const Host& host, const Target& t);

// The bytes a comparison looks at: what was read, except the firmware byte, which is
// the reader's own.
std::uint16_t comparable(const Reading& r);

// A person's name for where a reader that was read answered: "USB HID", "COM5",
// "/dev/ttyACM0".
std::string where(const Host& host, const Target& t, const Reading& r);

// "kq3..kq7", "kq2, kq5": the fields whose bits are clear in `mask`, shortest form.
std::string missing_fields(std::uint16_t mask);

}  // namespace msr::profile
