// The history of configurations a write replaced: before a program writes a reader, it
// keeps what the reader held as a readable profile in one folder, which msrprofile and
// msrsetup's window share, so that a bad write can be undone (msrprofile restore).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/profile_text.h"

namespace msr {

inline constexpr int kHistoryKept = 100;  // entries per folder; the oldest go first
inline constexpr char kHistoryVariable[] = "MSRPROFILE_HISTORY";

// What a reader held, as the program about to write over it read it.
struct HistoryRecord {
  std::string transport;        // "usb" or "vcom"
  std::string port;             // "COM5", "/dev/ttyACM0"; empty over USB
  Bytes bytes{};                // as read; a byte that was not read is 0
  std::uint16_t read = 0x7FFF;  // bit i set: byte i came from the reader
  std::string by;               // what kept it: "msrprofile write fleet.toml", "msrsetup Save"
};

// One entry of a history folder, as its file name tells it.
struct HistoryEntry {
  std::string name;       // the file name, e.g. 20261209T121503Z_vcom_COM5_fw13.toml
  std::string path;       // folder and name
  std::string time;       // UTC, ISO 8601: 2026-12-09T12:15:03Z
  std::string transport;  // "usb" or "vcom"
  std::string port;       // the port as a file name holds it ("dev-ttyACM0"); empty over USB
  int firmware = 0;
};

// The folder MSRPROFILE_HISTORY names, else the common application data folder's
// msrsetup\history (Windows asks the system for it: XP names it differently from later
// versions). Empty, with `why`, when the system names no such folder.
std::string history_folder(std::string* why);

// Keeps `record` in `folder` (made when missing) as a new entry, then drops the oldest
// entries beyond kHistoryKept. The entry's path, or empty with `why`.
std::string keep_history(const std::string& folder, const HistoryRecord& record, std::string* why);

// msrsetup's Save: keeps what the window read in the history folder before it writes.
// False, with `why` for the log, when it could not; the save goes on either way.
bool keep_history(const HistoryRecord& record, std::string* path, std::string* why);

// What the window read when it opened, as Save keeps it: over USB ("usb", `extended`: the
// reader answered for kq1 and kq2 too) or virtual COM ("vcom", `port` "COM5"): the base
// block and kq1.
HistoryRecord window_record(const SettingsBlock& read, const std::string& transport,
                            const std::string& port, bool extended);

// The entries in `folder`, newest first; files whose names are no entry's are left out.
std::vector<HistoryEntry> list_history(const std::string& folder);

// A port's name as an entry's file name holds it: no path separators, never a device name
// such as COM5 at its start (the entry's name begins with its time).
std::string history_port_key(const std::string& port);

}  // namespace msr
