#include "profile/cli.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>

#include "profile/codec.h"
#include "profile/files.h"
#include "profile/json.h"

#ifndef MSR_VERSION
#define MSR_VERSION "0"
#endif

namespace msr::profile {
namespace {

constexpr std::size_t kMaxErrorsShown = 20;

struct Io {
  std::ostream& out;
  std::ostream& err;
};

// Paths from a Windows command line are in the ANSI code page, not UTF-8: let the JSON
// writer replace what it can't encode rather than throw.
void print_json(Io io, const nlohmann::ordered_json& doc) {
  io.out << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

// The file's bytes, or the problems printed and nothing.
std::optional<Bytes> load_or_report(Io io, const std::string& path) {
  Loaded loaded = load(path);
  for (std::size_t i = 0; i < loaded.errors.size() && i < kMaxErrorsShown; ++i) {
    io.err << loaded.errors[i] << "\n";
  }
  if (loaded.errors.size() > kMaxErrorsShown) {
    io.err << path << ": " << loaded.errors.size() - kMaxErrorsShown << " more problems\n";
  }
  return loaded.bytes;
}

int write_or_report(Io io, const std::string& path, std::string_view content, bool text) {
  std::string why;
  if (write_replacing(path, content, text, &why)) return kExitOk;
  io.err << path << ": not written: " << why << "\n";
  return kExitNotWritten;
}

int usage(Io io, const std::string& text) {
  io.err << text << "\nRun with --help for more information.\n";
  return kExitUsage;
}

struct ShowArgs {
  std::string file, output;
  bool json = false;
};

int cmd_show(Io io, const ShowArgs& a) {
  if (!a.output.empty() && !is_profile_name(a.output)) {
    return usage(io, "show -o: a profile's name ends in .toml: " + a.output);
  }
  std::optional<Bytes> bytes = load_or_report(io, a.file);
  if (!bytes) return kExitBadInput;
  if (a.json) {
    print_json(io, block_json(a.file, *bytes));
    return kExitOk;
  }
  if (!a.output.empty()) return write_or_report(io, a.output, show(*bytes), true);
  io.out << show(*bytes);
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

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Io io{out, err};
  CLI::App app{"msrprofile: reader configurations as readable profiles (TOML)", "msrprofile"};
  app.set_version_flag("--version", std::string("msrprofile ") + MSR_VERSION);
  app.require_subcommand(1);
  app.footer(
      "A FILE whose name ends in .toml is a profile; any other is a fifteen-byte settings file.\n"
      "Exit codes: 0 done or the same, 1 differ, 3 bad settings file or profile, "
      "5 output not written, 64 wrong command line.");

  ShowArgs show_args;
  CLI::App* show_cmd =
      app.add_subcommand("show", "Print FILE as a profile (TOML), every option by name");
  show_cmd->add_option("FILE", show_args.file, "settings file or profile")->required();
  show_cmd->add_flag("--json", show_args.json, "print one JSON document instead");
  show_cmd->add_option("-o,--output", show_args.output, "write the profile to PROFILE.toml instead")
      ->excludes("--json");

  BuildArgs build_args;
  CLI::App* build_cmd =
      app.add_subcommand("build", "Make the fifteen-byte settings file from PROFILE");
  build_cmd->add_option("PROFILE", build_args.profile, "profile (or settings file)")->required();
  build_cmd->add_option("-o,--output", build_args.output, "the settings file to write")->required();

  DiffArgs diff_args;
  CLI::App* diff_cmd =
      app.add_subcommand("diff", "Compare two settings files or profiles, option by option");
  diff_cmd->add_option("A", diff_args.a, "settings file or profile")->required();
  diff_cmd->add_option("B", diff_args.b, "settings file or profile")->required();
  diff_cmd->add_flag("--json", diff_args.json, "print one JSON document instead");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (show_cmd->parsed()) return cmd_show(io, show_args);
  if (build_cmd->parsed()) return cmd_build(io, build_args);
  return cmd_diff(io, diff_args);
}

}  // namespace msr::profile
