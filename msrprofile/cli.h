// msrprofile's command line: one function per command, and the exit codes every command
// shares.
#pragma once

#include <iosfwd>
#include <string>

namespace msr::profile {

// Documented in the README; fleet tools depend on them.
enum Exit : int {
  kExitOk = 0,            // done; diff, verify: the same configuration
  kExitDiffers = 1,       // diff, verify, write's read-back: the configurations differ
  kExitNoReader = 2,      // no reader answered
  kExitBadInput = 3,      // a settings file or profile can't be read or is not valid
  kExitReaderFailed = 4,  // the reader did not answer properly
  kExitNotWritten = 5,    // the output file could not be written
  kExitUsage = 64,        // the command line is wrong
};

struct Host;

// "COM5" or "\\.\COM5", any case, a number 1..298 without leading zeros; 0 otherwise.
int com_number(std::string name);

struct Io;

// The port that --vcom[=N] (`vcom` "true" alone) or --port NAME names, as the vCOM transport
// takes it: `com` (0: probe every port) or, on Linux, `path`. False after a usage message
// naming `command`.
bool serial_port_of(Io io, const Host& host, const std::string& command, const std::string& vcom,
                    const std::string& port, int* com, std::string* path);

// The offline commands alone need no host; the device commands reach readers the way
// `host` says.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err, const Host& host);

}  // namespace msr::profile
