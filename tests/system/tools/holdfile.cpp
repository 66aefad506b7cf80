// Test helper: holds a file open without sharing, as another program locking it would,
// for a given number of seconds.
//   holdfile.exe PATH SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE f = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return 3;
  puts("ready");
  fflush(stdout);
  Sleep(static_cast<DWORD>(std::atoi(argv[2]) * 1000));
  CloseHandle(f);
  return 0;
}
