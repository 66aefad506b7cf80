// Benchmark helper: starts a program, measures the time until its first visible top-level
// window is on screen, reads the program's peak working set, then closes the window with
// its close box and waits for the program to end.
//   startclock.exe PROGRAM [ARGUMENTS...]
// Prints: start_ms=<float> peak_kb=<n> exit=<code>
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstdio>
#include <string>

namespace {

struct Find {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK find_proc(HWND w, LPARAM lp) {
  auto* f = reinterpret_cast<Find*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == f->pid && IsWindowVisible(w)) {
    f->found = w;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string cmd;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) cmd += ' ';
    cmd += '"';
    cmd += argv[i];
    cmd += '"';
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    std::fprintf(stderr, "startclock: can't start %s (%lu)\n", cmd.c_str(), GetLastError());
    return 1;
  }
  Find f{pi.dwProcessId, nullptr};
  for (;;) {
    EnumWindows(find_proc, reinterpret_cast<LPARAM>(&f));
    if (f.found != nullptr) break;
    if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) {
      std::fprintf(stderr, "startclock: the program ended without a window\n");
      return 1;
    }
  }
  QueryPerformanceCounter(&t1);
  // Let it settle, as a user's first look would.
  Sleep(300);
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc);
  PostMessageA(f.found, WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD code = 999;
  if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  double ms =
      1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
  std::printf("start_ms=%.1f peak_kb=%lu exit=%lu\n", ms,
              static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(code));
  return 0;
}
