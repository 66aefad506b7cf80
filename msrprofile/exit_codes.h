// The exit codes every msrprofile command shares. Documented in the README; fleet tools
// depend on them. Any part of the tool may include this: it includes nothing.
#pragma once

namespace msr::profile {

enum Exit : int {
  kExitOk = 0,            // done; diff, verify: the same configuration
  kExitDiffers = 1,       // diff, verify, write's read-back: the configurations differ
  kExitNoReader = 2,      // no reader answered
  kExitBadInput = 3,      // a settings file or profile can't be read or is not valid
  kExitReaderFailed = 4,  // the reader did not answer properly
  kExitNotWritten = 5,    // the output file could not be written
  kExitUsage = 64,        // the command line is wrong
};

}  // namespace msr::profile
