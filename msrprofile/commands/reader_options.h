// The options of the commands that reach a reader, and the frame each of them runs in:
// the reader's transport from the command line, the device log, the results line.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "msrprofile/commands/command.h"

namespace msr::profile {

// How a command line names the reader's transport.
struct TransportArgs {
  bool usb = false, ps2 = false;
  std::string vcom;  // empty: not given; "true" for --vcom alone, N for --vcom=N
  std::string port;

  void add_to(CLI::App* cmd);
};

// The reader's transport from the command line; nullopt after a usage message naming
// `command`, with *exit set.
std::optional<Target> target_of(Io io, const Host& host, const TransportArgs& t,
                                const std::string& command, int* exit);

// "COM5" or "\\.\COM5", any case, a number 1..298 without leading zeros; 0 otherwise.
int com_number(std::string name);

// The port that --vcom[=N] (`vcom` "true" alone) or --port NAME names, as the vCOM transport
// takes it: `com` (0: probe every port) or, on Linux, `path`. False after a usage message
// naming `command`.
bool serial_port_of(Io io, const Host& host, const std::string& command, const std::string& vcom,
                    const std::string& port, int* com, std::string* path);

// --results FILE, of the commands that append their run's line to it.
void add_results_option(CLI::App* cmd, std::string& results);

// What a command that reaches a reader is given: its own options, the transport, and
// --results FILE where it takes one.
template <typename Args>
struct OnReader {
  Args args;
  TransportArgs transport;
  std::string results;

  // The transport's options and --results.
  void add_to(CLI::App* cmd) {
    transport.add_to(cmd);
    add_results_option(cmd, results);
  }
};

// One run of a command on a reader.
struct ReaderRun {
  std::string command;  // as the messages and the results line name it
  std::string results;  // --results FILE; empty: no line is appended
  std::string file;     // the profile or entry as named, for the results line
};

// Finds the reader's transport (a usage message and its exit code otherwise), opens the
// device log and runs `body` on it; `body` may name the file the run took in the
// end. With `run.results` named, the run's line is appended whatever came of it.
int run_on_reader(const Invocation& inv, const TransportArgs& t, ReaderRun run,
                  const std::function<int(const Target&, std::string* file)>& body);

// The command `cli`, run on the reader its options name: `run(io, host, args)` with the
// args' target set, or `run(io, host, args, &file)` where it names the file it took in
// the end. `file`: the member naming the file for the results line.
template <typename Args, typename Run>
Command on_reader(CLI::App* cli, std::shared_ptr<OnReader<Args>> on, Run run,
                  std::string Args::*file = nullptr) {
  return {cli, [cli, on, run, file](const Invocation& inv) {
            ReaderRun r{cli->get_name(), on->results, file ? on->args.*file : std::string()};
            return run_on_reader(inv, on->transport, r, [&](const Target& t, std::string* named) {
              Args a = on->args;
              a.target = t;
              if constexpr (std::is_invocable_v<Run, Io, const Host&, const Args&, std::string*>) {
                return run(inv.io, inv.host, a, named);
              } else {
                return run(inv.io, inv.host, a);
              }
            });
          }};
}

}  // namespace msr::profile
