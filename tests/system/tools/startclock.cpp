// Benchmark helper: starts a program and times its start from outside, without changing
// what the program does or shows, then closes its window with the close box.
//   startclock.exe [--trace] [--lib NAME] PROGRAM [ARGUMENTS...]
// Prints one line of key=value fields, times in ms from just before the process is
// created:
//   start_ms    its first visible top-level window is on screen
//   painted_ms  that window has had its first paint and the program waits for input (it
//               answers a message sent to the window)
//   cpu_ms      the processor time the program itself has used by then, which the
//               machine's other load hardly changes (under Wine: read from Linux's
//               /proc/PID/schedstat through drive Z:, the program found by its command
//               line; -1 elsewhere)
//   peak_kb     its peak working set, read a moment later
//   exit        its exit code
// With --trace it watches the start as a debugger does (which costs a little time of its
// own) and adds:
//   entry_ms    the program's entry point is reached (a breakpoint, taken out when hit)
//   window_ms   its first top-level window exists, shown or not
//   form_ms     the window it shows exists
//   lib_in_ms, lib_out_ms   the DLL NAME (--lib) is first loaded, last unloaded
// A field that never happened is -1.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

LARGE_INTEGER g_freq, g_t0;

double now_ms() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart - g_t0.QuadPart) /
         static_cast<double>(g_freq.QuadPart);
}

struct Windows {
  DWORD pid = 0;
  std::vector<std::pair<HWND, double>> seen;  // every top-level window, when first seen
  HWND visible = nullptr;
};

BOOL CALLBACK note_window(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<Windows*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != s->pid) return TRUE;
  bool known = false;
  for (const auto& [h, t] : s->seen) known = known || h == w;
  if (!known) s->seen.emplace_back(w, now_ms());
  if (s->visible == nullptr && IsWindowVisible(w)) s->visible = w;
  return TRUE;
}

double first_seen(const Windows& s, HWND w) {
  for (const auto& [h, t] : s.seen) {
    if (w == nullptr || h == w) return t;
  }
  return -1;
}

VOID CALLBACK answered(HWND, UINT, ULONG_PTR data, LRESULT) {
  *reinterpret_cast<double*>(data) = now_ms();
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The debugger's side of --trace.
struct Tracer {
  HANDLE process = nullptr;
  std::string lib;  // lower case; empty: none watched
  std::uintptr_t entry = 0;
  BYTE entry_byte = 0;
  void* lib_base = nullptr;
  double entry_ms = -1, lib_in_ms = -1, lib_out_ms = -1;
  bool attached = true;

  std::string module_name(void* base) {
    char path[MAX_PATH] = {};
    if (GetMappedFileNameA(process, base, path, sizeof path) == 0) return {};
    std::string p = lower(path);
    std::size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? p : p.substr(slash + 1);
  }

  void set_entry_breakpoint(void* image) {
    char header[512];
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, image, header, sizeof header, &got) || got != sizeof header) {
      return;
    }
    LONG pe = 0;
    std::memcpy(&pe, header + 0x3C, sizeof pe);
    if (pe < 0 || static_cast<std::size_t>(pe) + 44 > sizeof header) return;
    DWORD rva = 0;  // OptionalHeader.AddressOfEntryPoint
    std::memcpy(&rva, header + pe + 4 + sizeof(IMAGE_FILE_HEADER) + 16, sizeof rva);
    entry = reinterpret_cast<std::uintptr_t>(image) + rva;
    const BYTE int3 = 0xCC;
    auto* at = reinterpret_cast<void*>(entry);
    if (ReadProcessMemory(process, at, &entry_byte, 1, nullptr) &&
        WriteProcessMemory(process, at, &int3, 1, nullptr)) {
      FlushInstructionCache(process, at, 1);
    } else {
      entry = 0;
    }
  }

  // The breakpoint was hit: put the byte back and run the instruction it stood for.
  void leave_entry(DWORD thread_id) {
    auto* at = reinterpret_cast<void*>(entry);
    WriteProcessMemory(process, at, &entry_byte, 1, nullptr);
    FlushInstructionCache(process, at, 1);
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, thread_id);
    if (thread == nullptr) return;
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_CONTROL;
    if (GetThreadContext(thread, &ctx)) {
#ifdef _WIN64
      ctx.Rip = entry;
#else
      ctx.Eip = static_cast<DWORD>(entry);
#endif
      SetThreadContext(thread, &ctx);
    }
    CloseHandle(thread);
  }

  // Handles one debug event if there is one; false when the program has ended.
  bool step(DWORD wait_ms) {
    DEBUG_EVENT ev{};
    if (!WaitForDebugEvent(&ev, wait_ms)) return true;
    DWORD status = DBG_CONTINUE;
    bool alive = true;
    switch (ev.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (ev.u.CreateProcessInfo.hFile != nullptr) CloseHandle(ev.u.CreateProcessInfo.hFile);
        set_entry_breakpoint(ev.u.CreateProcessInfo.lpBaseOfImage);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (ev.u.LoadDll.hFile != nullptr) CloseHandle(ev.u.LoadDll.hFile);
        if (!lib.empty() && module_name(ev.u.LoadDll.lpBaseOfDll) == lib) {
          lib_base = ev.u.LoadDll.lpBaseOfDll;
          if (lib_in_ms < 0) lib_in_ms = now_ms();
        }
        break;
      case UNLOAD_DLL_DEBUG_EVENT:
        if (lib_base != nullptr && ev.u.UnloadDll.lpBaseOfDll == lib_base) lib_out_ms = now_ms();
        break;
      case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& r = ev.u.Exception.ExceptionRecord;
        auto address = reinterpret_cast<std::uintptr_t>(r.ExceptionAddress);
        if (r.ExceptionCode == EXCEPTION_BREAKPOINT && entry != 0 && address == entry) {
          entry_ms = now_ms();
          leave_entry(ev.dwThreadId);
        } else if (r.ExceptionCode != EXCEPTION_BREAKPOINT) {
          status = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        alive = false;
        break;
      default:
        break;
    }
    ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    if (!alive) attached = false;
    return alive;
  }

  void detach(DWORD pid) {
    if (!attached) return;
    DebugActiveProcessStop(pid);
    attached = false;
  }
};

std::string read_text(const std::string& path) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  char buf[4096];
  DWORD got = 0;
  std::string text;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
  CloseHandle(f);
  return text;
}

// Processor time in ms of the Linux process whose command line is exactly `command`
// (its words separated by NULs), or -1.
double linux_cpu_ms(const std::string& command) {
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA("Z:\\proc\\*", &d);
  if (h == INVALID_HANDLE_VALUE) return -1;
  double ms = -1;
  do {
    if (!std::isdigit(static_cast<unsigned char>(d.cFileName[0]))) continue;
    std::string dir = std::string("Z:\\proc\\") + d.cFileName;
    std::string cmdline = read_text(dir + "\\cmdline");
    while (!cmdline.empty() && cmdline.back() == '\0') cmdline.pop_back();
    if (cmdline != command) continue;
    // The first field: nanoseconds spent on a processor.
    ms = std::strtod(read_text(dir + "\\schedstat").c_str(), nullptr) / 1e6;
    break;
  } while (FindNextFileA(h, &d));
  FindClose(h);
  return ms;
}

void print_ms(const char* name, double ms) {
  std::printf(" %s=%.1f", name, ms);
}

}  // namespace

int main(int argc, char** argv) {
  bool trace = false;
  std::string lib;
  int first = 1;
  for (; first < argc && argv[first][0] == '-' && argv[first][1] == '-'; ++first) {
    if (std::strcmp(argv[first], "--trace") == 0) {
      trace = true;
    } else if (std::strcmp(argv[first], "--lib") == 0 && first + 1 < argc) {
      lib = lower(argv[++first]);
    } else {
      return 2;
    }
  }
  if (first >= argc) return 2;
  std::string cmd;
  for (int i = first; i < argc; ++i) {
    if (i > first) cmd += ' ';
    cmd += '"';
    cmd += argv[i];
    cmd += '"';
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  QueryPerformanceFrequency(&g_freq);
  QueryPerformanceCounter(&g_t0);
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE,
                      trace ? DEBUG_ONLY_THIS_PROCESS : 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "startclock: can't start %s (%lu)\n", cmd.c_str(), GetLastError());
    return 1;
  }
  Tracer tracer;
  tracer.process = pi.hProcess;
  tracer.lib = lib;
  tracer.attached = trace;
  if (trace) DebugSetProcessKillOnExit(FALSE);

  Windows windows;
  windows.pid = pi.dwProcessId;
  double shown = -1, painted = -1;
  bool asked = false;
  while (painted < 0) {
    bool alive = true;
    if (tracer.attached) {
      alive = tracer.step(1);
    } else {
      // Wakes for the program's end and for the answer to the message sent below.
      alive = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 1, QS_ALLINPUT) != WAIT_OBJECT_0;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (!alive) {
      std::fprintf(stderr, "startclock: the program ended without a window\n");
      return 1;
    }
    if (windows.visible == nullptr) {
      EnumWindows(note_window, reinterpret_cast<LPARAM>(&windows));
      if (windows.visible != nullptr) shown = now_ms();
    }
    if (windows.visible != nullptr && !asked) {
      // Answered once the program is past its first paint and back in its message loop.
      asked = SendMessageCallbackA(windows.visible, WM_NULL, 0, 0, answered,
                                   reinterpret_cast<ULONG_PTR>(&painted)) != FALSE;
      if (!asked) painted = shown;
    }
  }
  tracer.detach(pi.dwProcessId);
  // The command line as Linux shows the program's: its words, NUL between them.
  std::string words;
  for (int i = first; i < argc; ++i) {
    if (i > first) words += '\0';
    words += argv[i];
  }
  double cpu = linux_cpu_ms(words);

  // Let it settle, as a user's first look would.
  Sleep(300);
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc);
  PostMessageA(windows.visible, WM_SYSCOMMAND, SC_CLOSE, 0);
  DWORD code = 999;
  if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  print_ms("start_ms", shown);
  print_ms("painted_ms", painted);
  print_ms("cpu_ms", cpu);
  std::printf(" peak_kb=%lu exit=%lu", static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(code));
  if (trace) {
    print_ms("entry_ms", tracer.entry_ms);
    print_ms("window_ms", first_seen(windows, nullptr));
    print_ms("form_ms", first_seen(windows, windows.visible));
    print_ms("lib_in_ms", tracer.lib_in_ms);
    print_ms("lib_out_ms", tracer.lib_out_ms);
  }
  std::printf("\n");
  return 0;
}
