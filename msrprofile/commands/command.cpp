#include "msrprofile/commands/command.h"

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

}  // namespace msr::profile
