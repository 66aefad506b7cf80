// Windows entry point: the real operating system and window system, the command line
// after the program name, and the exit code of the run.
#include <windows.h>

#include "app/startup.h"
#include "platform/os.h"
#include "platform/win32/win32_os.h"
#include "ui/framework/native_ui.h"
#include "ui/framework/win32/win32_ui.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  msr::set_os(&msr::win32_os());
  msr::set_native_ui(&msr::win32_native_ui());
  std::string cp = msr::command_tail(::GetCommandLineA());
  int code = msr::msr_main(cp.c_str());
  msr::win32_native_ui_shutdown();
  msr::set_native_ui(nullptr);
  return code;
}
