// Windows entry point: the real operating system, the command line after the program
// name, and the exit code of the run.
#include <windows.h>

#include "app/startup.h"
#include "platform/os.h"
#include "platform/win32/win32_os.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  msr::set_os(&msr::win32_os());
  std::string cp = msr::command_tail(::GetCommandLineA());
  return msr::msr_main(cp.c_str());
}
