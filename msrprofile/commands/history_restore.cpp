#include "msrprofile/commands/history_restore.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "msrprofile/commands/command.h"
#include "msrprofile/commands/reader_options.h"
#include "msrprofile/exit_codes.h"
#include "msrprofile/profile/files.h"
#include "msrprofile/profile/json.h"
#include "platform/os.h"

namespace msr::profile {
namespace {

// The reader's port as an entry's name holds it; empty over USB.
std::string port_key(const Host& host, const Target& t, int com) {
  if (t.transport != Transport::vcom) return "";
  return history_port_key(com != 0 ? host.port_name(com) : t.path);
}

bool exists(const std::string& path) {
  const std::uint32_t attributes = os().GetFileAttributesA(path.c_str());
  return attributes != w32::kInvalidFileAttributes && (attributes & 0x10u) == 0;
}

// ENTRY as given: a path to a file, else a name in the history folder.
std::string entry_path(const Host& host, const std::string& entry, const std::string& folder) {
  if (exists(entry) || folder.empty()) return entry;
  const char last = folder.back();
  return folder + (last == '\\' || last == '/' ? "" : host.windows ? "\\" : "/") + entry;
}

}  // namespace

int keep_before_write(Io io, const Host& host, const WriteArgs& a, const Reading& before,
                      std::string* said) {
  HistoryRecord record;
  record.transport = transport_key(a.target.transport);
  if (a.target.transport == Transport::vcom) record.port = host.port_name(before.com);
  record.bytes = before.bytes;
  record.read = before.read;
  record.by = "msrprofile " + a.command + " " + a.file;
  std::string why;
  const std::string folder = host.history_folder(&why);
  const std::string path = folder.empty() ? "" : keep_history(folder, record, &why);
  if (path.empty()) {
    *said = "what the reader holds can't be kept before the " + a.command + ": " + why +
            "; nothing was written (" + kHistoryVariable + " names another folder)";
    io.err << "msrprofile: " << *said << "\n";
    return kExitNotWritten;
  }
  io.err << "kept what " << where(host, a.target, before) << " held in " << path << "\n";
  *said = path;
  return kExitOk;
}

int cmd_history(Io io, const Host& host, bool json) {
  std::string why;
  const std::string folder = host.history_folder(&why);
  if (folder.empty()) {
    io.err << "msrprofile: " << why << "\n";
    return kExitBadInput;
  }
  const std::vector<HistoryEntry> entries = list_history(folder);
  if (json) {
    nlohmann::ordered_json doc = {{"folder", folder}, {"entries", nlohmann::ordered_json::array()}};
    for (const HistoryEntry& e : entries) {
      doc["entries"].push_back({{"entry", e.name},
                                {"path", e.path},
                                {"time", e.time},
                                {"transport", e.transport},
                                {"port", e.port.empty() ? nlohmann::ordered_json(nullptr)
                                                        : nlohmann::ordered_json(e.port)},
                                {"firmware", e.firmware}});
    }
    print_json(io, doc);
  } else {
    for (const HistoryEntry& e : entries) {
      io.out << e.time << "  " << e.transport << "  " << (e.port.empty() ? "-" : e.port)
             << "  firmware " << hex_byte(static_cast<unsigned>(e.firmware)) << "  " << e.name
             << "\n";
    }
    io.err << entries.size() << (entries.size() == 1 ? " entry" : " entries") << " in " << folder
           << ", newest first\n";
  }
  return kExitOk;
}

int cmd_restore(Io io, const Host& host, const RestoreArgs& a, std::string* chosen) {
  std::string why;
  const std::string folder = host.history_folder(&why);
  WriteArgs write;
  write.target = a.target;
  write.command = "restore";
  if (!a.entry.empty()) {
    write.file = entry_path(host, a.entry, folder);
    if (!exists(write.file)) {
      io.err << "msrprofile: restore: no history entry " << a.entry
             << (folder.empty() ? "" : " (in " + folder + ")")
             << ": msrprofile history lists them; nothing was written\n";
      return kExitBadInput;
    }
  } else {
    if (folder.empty()) {
      io.err << "msrprofile: " << why << "\n";
      return kExitBadInput;
    }
    // Which reader it is decides the entry: probing finds its port first.
    int com = a.target.com;
    if (a.target.transport == Transport::vcom && com == 0 && a.target.path.empty()) {
      const Reading r = reach(host, a.target);
      if (r.exit != kExitOk) {
        io.err << "msrprofile: " << r.problem << "; nothing was written\n";
        return r.exit;
      }
      com = r.com;
      if (host.windows) {
        write.target.com = com;
      } else {
        write.target.path = host.port_name(com);
      }
    }
    const std::string transport = transport_key(a.target.transport);
    const std::string port = port_key(host, a.target, com);
    for (const HistoryEntry& e : list_history(folder)) {
      if (e.transport == transport && e.port == port) {
        write.file = e.path;
        break;
      }
    }
    if (write.file.empty()) {
      io.err << "msrprofile: restore: " << folder << " holds no entry for the reader on "
             << (port.empty() ? "USB HID" : port) << ": msrprofile history lists them; nothing "
             << "was written\n";
      return kExitBadInput;
    }
  }
  *chosen = write.file;
  if (!is_profile_name(write.file)) {
    io.err << "msrprofile: restore: " << write.file
           << " is not a history entry (an entry is a profile, NAME.toml); nothing was written\n";
    return kExitBadInput;
  }
  io.err << "restoring " << write.file << "\n";
  return cmd_write(io, host, write);
}

void add_restore_history(CLI::App& app, Commands& commands) {
  auto restore = std::make_shared<OnReader<RestoreArgs>>();
  CLI::App* restore_cmd = app.add_subcommand(
      "restore",
      "Write back what a write replaced: a history entry (default: the reader's newest)");
  restore_cmd->add_option("ENTRY", restore->args.entry,
                          "an entry msrprofile history lists, or its path");
  restore->add_to(restore_cmd);
  commands.push_back(on_reader(restore_cmd, restore, cmd_restore, &RestoreArgs::entry));

  add_json_command(app, commands, "history",
                   "List the configurations write and restore replaced, newest first", cmd_history,
                   false);
}

}  // namespace msr::profile
