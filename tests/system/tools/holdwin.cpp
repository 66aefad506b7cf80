// Test helper: holds a hidden top-level window of a given class and title, as a running
// instance of the program does, for a given number of seconds.
//   holdwin.exe CLASS TITLE SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>

static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_TIMER) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = argv[1];
  if (!RegisterClassA(&wc)) return 3;
  HWND w = CreateWindowExA(0, argv[1], argv[2], WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (w == nullptr) return 4;
  SetTimer(w, 1, static_cast<UINT>(std::atoi(argv[3]) * 1000), nullptr);
  // Tell the test we are up: a line on stdout.
  puts("ready");
  fflush(stdout);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
