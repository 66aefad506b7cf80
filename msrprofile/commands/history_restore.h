// msrprofile's side of the history of replaced configurations: what write and restore keep
// before they write, the list (history) and the way back (restore).
#pragma once

#include <string>

#include "msrprofile/commands/read_write_verify.h"

namespace msr::profile {

// Keeps what `before` read in the history folder; kExitOk with the entry's path in *said,
// or kExitNotWritten with the reason printed and in *said (the write must not go ahead then:
// what it replaces would be lost).
int keep_before_write(Io io, const Host& host, const WriteArgs& a, const Reading& before,
                      std::string* said);

int cmd_history(Io io, const Host& host, bool json);

struct RestoreArgs {
  std::string entry;  // a name from `history`, a path, or empty: the reader's newest
  Target target;
};
// The chosen entry written back as `write` writes a file. `entry_path` gets the entry's path
// once one was chosen (for the results line).
int cmd_restore(Io io, const Host& host, const RestoreArgs& a, std::string* entry_path);

}  // namespace msr::profile
