// msrprofile's command line.
#pragma once

#include <iosfwd>
#include <string>

#include "msrprofile/exit_codes.h"

namespace msr::profile {

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
