// msrprofile's entry point.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "msrprofile/cli.h"
#include "msrprofile/host.h"

int main(int argc, char** argv) {
  int rc = msr::profile::run(argc, argv, std::cout, std::cerr, msr::profile::native_host());
  // A full disk or a closed pipe shows only when the buffer goes out: a profile cut short
  // must not pass for one written.
  errno = 0;
  std::cout.flush();
  bool written = !std::cout.fail();
  if (std::fclose(stdout) != 0) written = false;
  if (!written) {
    std::cerr << "msrprofile: standard output could not be written"
              << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
    return msr::profile::kExitNotWritten;
  }
  return rc;
}
