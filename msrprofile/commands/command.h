// How a command joins msrprofile's command line: it adds its subcommand and options to
// the app, and leaves behind what runs it once they are parsed. The command line knows
// the commands only through the add_ functions below.
#pragma once

#include <functional>
#include <vector>

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

namespace CLI {
class App;
}

namespace msr::profile {

// What a command runs with: the streams, the way to readers, and the command line as
// typed (for the device log).
struct Invocation {
  Io io;
  const Host& host;
  int argc;
  const char* const* argv;
};

struct Command {
  CLI::App* cli;  // the subcommand, to ask whether it was the one parsed
  std::function<int(const Invocation&)> run;
};
using Commands = std::vector<Command>;

// Each adds its command, or its family of commands, to `app` and to `commands`.
void add_show_build_diff(CLI::App& app, Commands& commands);
void add_read_write_verify(CLI::App& app, Commands& commands);
void add_restore_history(CLI::App& app, Commands& commands);
void add_ports(CLI::App& app, Commands& commands);
void add_doctor(CLI::App& app, Commands& commands);
void add_swipe(CLI::App& app, Commands& commands);
void add_layouts(CLI::App& app, Commands& commands);
void add_station(CLI::App& app, Commands& commands);

// Adds a command whose one option is --json and which runs as `run(io, host, json)`;
// with `device_log`, the device log is open while it runs.
void add_json_command(CLI::App& app, Commands& commands, const char* name, const char* help,
                      int (*run)(Io, const Host&, bool), bool device_log);

// The commands that reach a reader keep the same diagnostic log as msrsetup: "\msr.log",
// only when it exists. Open for as long as this lives.
class DeviceLog {
 public:
  explicit DeviceLog(const Invocation& inv);
  ~DeviceLog();
  DeviceLog(const DeviceLog&) = delete;
  DeviceLog& operator=(const DeviceLog&) = delete;
};

}  // namespace msr::profile
