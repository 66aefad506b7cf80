// The results file of write and verify (--results FILE): one line per run, appended, that
// a fleet tool's report can parse whatever the terminal's language and time zone.
#pragma once

#include <ctime>
#include <string>

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

namespace msr::profile {

// One run, as its line records it.
struct RunRecord {
  std::string command;    // "write" or "verify"
  std::string transport;  // "usb", "vcom", "ps2"; "-" when the command line named none
  std::string port;       // the port the reader answered on, or the one named; "-": none
  int exit = 0;
  std::string profile;  // the file as named
  std::string sha256;   // of the file's bytes; "-" when it can't be read
};

// The line, without its line end: nine fields separated by one tab each, in this order:
// the time in UTC (ISO 8601, 2026-03-01T14:05:09Z), the computer's name, the command, the
// transport, the port, the outcome word, the exit code, the profile as named, its SHA-256.
// An empty field is "-"; control characters in a field become "?", so a field never holds
// a tab or a line end.
// `outcome` is the outcome word where the exit code alone does not tell it.
std::string results_line(const RunRecord& run, std::time_t when, const std::string& computer,
                         const std::string& outcome = "");

// The outcome word of an exit code: written (write) or same (verify), differs, no-reader,
// bad-profile, reader-failed, not-written, usage.
const char* outcome_word(const std::string& command, int exit);

// Whether lines can be appended to `path` (it is created when missing); why not.
bool results_writable(const std::string& path, std::string* why);

// The SHA-256 of the file `path` as the results line gives it; empty when it can't be read.
std::string file_sha256(const std::string& path);

// Appends the run's line to `path` and returns the command's exit code; a file that can't
// be written is a message, and kExitNotWritten when the command itself succeeded.
int record_run(Io io, const std::string& path, const std::string& command, const Target* target,
               const Host& host, const std::string& profile, int exit);

}  // namespace msr::profile
