// The process's one message pump. The window's message loop, its "let pending messages
// through" and the waits of the transports below the window (a PS/2 write) all run
// messages through here, so a key pressed means the same whoever is pumping.
#pragma once

#include <windows.h>

namespace msr::win32 {

// Sees each message before it is translated and dispatched; true when it used the
// message up. The window installs one for the keys that move through a form.
using MessageFilter = bool (*)(const MSG& msg);
void set_message_filter(MessageFilter filter);

// Dispatches the messages that are waiting, then returns. A WM_QUIT is put back for the
// loop that owns it.
void pump_waiting();
// Waits for one message and dispatches it; false on WM_QUIT or when there is no queue
// to wait on.
bool pump_one();

}  // namespace msr::win32
