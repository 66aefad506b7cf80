// msrprofile layouts: what a reader set to one keyboard language types on a terminal with
// another layout, before a card is swiped; from the same tables the swipe check reads.
#pragma once

#include <string>

#include "msrprofile/profile/output.h"

namespace CLI {
class App;
}

namespace msr::profile {

struct LayoutsArgs {
  std::string reader, host, type;
  bool json = false;
};

CLI::App* add_layouts_command(CLI::App& app, LayoutsArgs& args);

int cmd_layouts(Io io, const LayoutsArgs& a);

}  // namespace msr::profile
