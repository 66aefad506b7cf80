// Benchmark helper: the yardstick of the silent-mode benchmark. A GUI program that imports
// the system DLLs msrsetup.exe imports, calls one cheap function of each, and ends; it
// opens no window, so it needs no display either. bench/silent_start.py refuses to compare
// when the two import different DLLs.
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmd, int) {
  int seen = 0;
  seen += GetTickCount() != 0;                         // KERNEL32
  seen += IsWindow(nullptr) == FALSE;                  // USER32
  seen += GetStockObject(WHITE_BRUSH) != nullptr;      // GDI32
  seen += RegCloseKey(nullptr) != ERROR_SUCCESS;       // ADVAPI32
  seen += std::strlen(cmd) < 0x10000;                  // msvcrt
  char folder[MAX_PATH];                               // SHELL32
  seen += SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder) != E_INVALIDARG;
  return seen == 6 ? 0 : 1;
}
