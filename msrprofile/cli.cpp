#include "msrprofile/cli.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "msr_version.h"  // generated in the build tree from VERSION
#include "msrprofile/commands/command.h"

namespace msr::profile {
namespace {

// The commands, in the order --help lists them.
using AddCommands = void (*)(CLI::App&, Commands&);
constexpr AddCommands kCommands[] = {
    add_show_build_diff, add_read_write_verify, add_restore_history, add_ports, add_doctor,
    add_swipe,           add_layouts,           add_station,
};

// Without this CLI11 answers a mistyped command with "A subcommand is required".
std::optional<int> unknown_command(Io io, const Commands& commands, int argc,
                                   const char* const* argv) {
  if (argc < 2 || argv[1][0] == '-') return std::nullopt;
  std::string names;
  for (const Command& c : commands) {
    if (c.cli->get_name() == argv[1]) return std::nullopt;
    names += (names.empty() ? "" : ", ") + c.cli->get_name();
  }
  return usage(io, std::string("unknown command \"") + argv[1] + "\"; the commands are: " + names);
}

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

  Commands commands;
  for (AddCommands add : kCommands) add(app, commands);
  if (std::optional<int> wrong = unknown_command(io, commands, argc, argv)) return *wrong;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  const Invocation inv{io, host, argc, argv};
  for (const Command& c : commands) {
    if (c.cli->parsed()) return c.run(inv);
  }
  return kExitUsage;  // not reached: the app requires one command
}

}  // namespace msr::profile
