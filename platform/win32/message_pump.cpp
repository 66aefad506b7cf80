#include "platform/win32/message_pump.h"

namespace msr::win32 {
namespace {

MessageFilter g_filter = nullptr;

void dispatch(MSG& msg) {
  if (g_filter != nullptr && g_filter(msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
}

}  // namespace

void set_message_filter(MessageFilter filter) {
  g_filter = filter;
}

void pump_waiting() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    dispatch(msg);
  }
}

bool pump_one() {
  MSG msg;
  BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) return false;
  dispatch(msg);
  return true;
}

}  // namespace msr::win32
