// Windows: the real Win32 calls; COM ports by number, from the registry's list.
#include <io.h>
#include <windows.h>

#include "msrprofile/host.h"
#include "platform/files.h"
#include "platform/win32/win32_os.h"

namespace msr::profile {
namespace {

volatile LONG g_stop_requested = 0;

// Called on a thread of its own: the program goes on and looks at the flag when it can.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&g_stop_requested, 1);
  return TRUE;
}

}  // namespace

Host native_host() {
  set_os(&win32_os());
  Host host;
  host.error_text = system_error_text;
  host.countdown = _isatty(2) != 0;
  host.catch_stop = [] { SetConsoleCtrlHandler(on_console_event, TRUE); };
  host.stop_requested = [] { return InterlockedCompareExchange(&g_stop_requested, 0, 0) != 0; };
  return host;
}

}  // namespace msr::profile
