// The four transport operations as the window and silent mode call them. They default
// to the real transports; tests put scripted ones in their place.
#pragma once

#include <functional>

namespace msr {

struct Transports {
  std::function<int(int)> setcom;
  std::function<int(int)> setusb;
  std::function<int(int)> setusb1;
  std::function<void()> setps2;
};
// The real setcom, setusb, setusb1 and setps2.
Transports real_transports();
// What the callers reach; reset_process_state puts the real ones back. Defined with the
// transports, so that code which only names the window's layout links none of them.
extern Transports g_transports;

}  // namespace msr
