// msrprofile's entry point.
#include <iostream>

#include "profile/cli.h"
#include "profile/host.h"

int main(int argc, char** argv) {
  return msr::profile::run(argc, argv, std::cout, std::cerr, msr::profile::native_host());
}
