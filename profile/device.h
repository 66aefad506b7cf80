// msrprofile's commands that reach a reader (read, write, verify) and the list of the
// serial ports they probe (ports).
#pragma once

#include <string>

#include "profile/output.h"
#include "profile/reader.h"

namespace msr::profile {

struct ReadArgs {
  Target target;
  std::string output;    // empty: the profile goes to standard output
  bool profile = false;  // the output must be a profile
  bool json = false;
};
int cmd_read(Io io, const Host& host, const ReadArgs& a);

struct WriteArgs {
  std::string file;
  Target target;
  std::string command = "write";  // or "restore", as the history entry says what kept it
};
int cmd_write(Io io, const Host& host, const WriteArgs& a);

struct VerifyArgs {
  std::string file;
  Target target;
  bool json = false;
};
int cmd_verify(Io io, const Host& host, const VerifyArgs& a);

int cmd_ports(Io io, const Host& host, bool json);

}  // namespace msr::profile
