#include "msrprofile/commands/command.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "common/log.h"
#include "msr_version.h"  // generated in the build tree from VERSION

namespace msr::profile {

DeviceLog::DeviceLog(const Invocation& inv) {
  log_open();
  std::string line;
  for (int i = 1; i < inv.argc; ++i) line += std::string(i > 1 ? " " : "") + inv.argv[i];
  log_write(" msrprofile %s: %s \n", MSR_VERSION_TEXT, line.c_str());
}

DeviceLog::~DeviceLog() {
  log_close();
}

void add_json_command(CLI::App& app, Commands& commands, const char* name, const char* help,
                      int (*run)(Io, const Host&, bool), bool device_log) {
  auto json = std::make_shared<bool>(false);
  CLI::App* cmd = app.add_subcommand(name, help);
  cmd->add_flag("--json", *json, "print one JSON document");
  commands.push_back({cmd, [json, run, device_log](const Invocation& inv) {
                        std::optional<DeviceLog> log;
                        if (device_log) log.emplace(inv);
                        return run(inv.io, inv.host, *json);
                      }});
}

}  // namespace msr::profile
