// msrprofile's entry point. The offline commands touch no reader and so keep no log.
#include <iostream>

#include "profile/cli.h"

int main(int argc, char** argv) {
  return msr::profile::run(argc, argv, std::cout, std::cerr);
}
