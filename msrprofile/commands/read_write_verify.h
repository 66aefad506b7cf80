// msrprofile read, write and verify: the commands that reach a reader's configuration.
#pragma once

#include <string>
#include <vector>

#include "msrprofile/profile/output.h"
#include "msrprofile/reader/reader.h"

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

// What programming one reader came to.
struct Programmed {
  int exit = 0;                        // write's exit code for it
  std::string problem;                 // exit 2, 4 and 5: what went wrong, the restore's outcome
  std::string history;                 // the history entry that keeps what it held before
  Reading before;                      // what the reader held before (or the read that failed)
  bool no_change = false;              // it held the file already: nothing was written
  bool switched = false;               // told to switch its interface, so not read back
  std::vector<std::string> differing;  // exit 1: the options the read-back did not show
};

struct ProgramOptions {
  const Reading* before = nullptr;  // the read just made of the reader; null: read it here
  bool skip_when_held = false;      // write nothing when every byte sent is there already
  bool interface_left_out = false;  // the file does not set `interface`: the reader keeps its own
};

// write's work on one reader, over USB or vCOM: read it, keep that in the history, write
// `file` (a.file's bytes) both blocks or neither, read back and compare, saying each step on
// `io` as write does.
Programmed program_reader(Io io, const Host& host, const WriteArgs& a, Bytes* file,
                          const ProgramOptions& o);

struct VerifyArgs {
  std::string file;
  Target target;
  bool json = false;
};
int cmd_verify(Io io, const Host& host, const VerifyArgs& a);

}  // namespace msr::profile
