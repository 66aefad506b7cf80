// msrprofile show, build and diff: the commands that only read and write files.
#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>
#include <string>

#include "msrprofile/commands/command.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/codec.h"
#include "msrprofile/profile/files.h"
#include "msrprofile/profile/json.h"
#include "msrprofile/profile/output.h"

namespace msr::profile {
namespace {

struct ShowArgs {
  std::string file, output;
  bool json = false;
};

int cmd_show(Io io, const ShowArgs& a) {
  if (!a.output.empty() && !is_profile_name(a.output)) {
    return usage(io, "show -o: a profile's name ends in .toml: " + a.output);
  }
  bool interface_left_out = false;
  std::optional<Bytes> bytes = load_or_report(io, a.file, &interface_left_out);
  if (!bytes) return kExitBadInput;
  if (a.json) {
    print_json(io, block_json(a.file, *bytes));
    return kExitOk;
  }
  const std::string text = show(*bytes, interface_left_out);
  if (!a.output.empty()) return write_or_report(io, a.output, text, true);
  io.out << text;
  return kExitOk;
}

struct BuildArgs {
  std::string profile, output;
};

int cmd_build(Io io, const BuildArgs& a) {
  if (is_profile_name(a.output)) {
    return usage(io,
                 "build -o: a settings file's name must not end in .toml, or it would be "
                 "read back as a profile: " +
                     a.output);
  }
  std::optional<Bytes> bytes = load_or_report(io, a.profile);
  if (!bytes) return kExitBadInput;
  warn_delay(io, a.profile, *bytes);
  return write_or_report(
      io, a.output, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
      false);
}

struct DiffArgs {
  std::string a, b;
  bool json = false;
};

int cmd_diff(Io io, const DiffArgs& d) {
  std::optional<Bytes> a = load_or_report(io, d.a);
  std::optional<Bytes> b = load_or_report(io, d.b);
  if (!a || !b) return kExitBadInput;
  std::vector<const Option*> differ = differences(*a, *b);
  if (d.json) {
    print_json(io, diff_json(d.a, *a, d.b, *b));
  } else if (differ.empty()) {
    io.out << "the same configuration\n";
  } else {
    io.out << "--- " << d.a << "\n+++ " << d.b << "\n";
    for (const Option* o : differ) {
      io.out << o->name << ": " << toml_text(*o, *a) << " -> " << toml_text(*o, *b) << "\n";
    }
    io.out << differ.size() << (differ.size() == 1 ? " option differs\n" : " options differ\n");
  }
  return differ.empty() ? kExitOk : kExitDiffers;
}

}  // namespace

void add_show_build_diff(CLI::App& app, Commands& commands) {
  auto show = std::make_shared<ShowArgs>();
  CLI::App* show_cmd =
      app.add_subcommand("show", "Print FILE as a profile (TOML), every option by name");
  show_cmd->add_option("FILE", show->file, "settings file or profile")->required();
  show_cmd->add_flag("--json", show->json, "print one JSON document instead");
  show_cmd->add_option("-o,--output", show->output, "write the profile to PROFILE.toml instead")
      ->excludes("--json");
  commands.push_back({show_cmd, [show](const Invocation& inv) { return cmd_show(inv.io, *show); }});

  auto build = std::make_shared<BuildArgs>();
  CLI::App* build_cmd =
      app.add_subcommand("build", "Make the fifteen-byte settings file from PROFILE");
  build_cmd->add_option("PROFILE", build->profile, "profile (or settings file)")->required();
  build_cmd->add_option("-o,--output", build->output, "the settings file to write")->required();
  commands.push_back(
      {build_cmd, [build](const Invocation& inv) { return cmd_build(inv.io, *build); }});

  auto diff = std::make_shared<DiffArgs>();
  CLI::App* diff_cmd =
      app.add_subcommand("diff", "Compare two settings files or profiles, option by option");
  diff_cmd->add_option("A", diff->a, "settings file or profile")->required();
  diff_cmd->add_option("B", diff->b, "settings file or profile")->required();
  diff_cmd->add_flag("--json", diff->json, "print one JSON document instead");
  commands.push_back({diff_cmd, [diff](const Invocation& inv) { return cmd_diff(inv.io, *diff); }});
}

}  // namespace msr::profile
