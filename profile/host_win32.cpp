// Windows: the real Win32 calls; COM ports by number, from the registry's list.
#include <io.h>

#include "platform/files.h"
#include "platform/win32/win32_os.h"
#include "profile/host.h"

namespace msr::profile {

Host native_host() {
  set_os(&win32_os());
  Host host;
  host.error_text = system_error_text;
  host.countdown = _isatty(2) != 0;
  return host;
}

}  // namespace msr::profile
