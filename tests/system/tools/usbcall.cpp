// Calls the doziv.dll beside it directly, the way a reader's owner would, so that the
// system tests can check the substitute library on its own. One session per run:
// SetID, OpenUSB, then each command of the command line, then CloseUSB; one output line
// per call.
//   read            GetMrState: status and buffer bytes 0..15
//   stat N          RetrieveStatistics(N, buffer, 25): status and the reply text
//   query           GetMrState1 with B9h: status and buffer bytes 0..3
//   ext B1..B7      SetMrState1 with B8h and seven hexadecimal bytes: status
//   reset           SetMrState1 with FFh AAh: status
//   base B0..B7     SetMrStateBuf with eight hexadecimal bytes: status
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Fn0 = std::int32_t(__stdcall*)();
using FnBuf = std::int32_t(__stdcall*)(unsigned char*);
using FnId = std::int32_t(__stdcall*)(std::int32_t, std::int32_t, std::int32_t);
using FnStat = std::int32_t(__stdcall*)(std::int32_t, unsigned char*, std::int32_t);

HMODULE g_lib;

template <class Fn>
Fn entry(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(g_lib, name)));
}

void hex(const unsigned char* b, int n) {
  for (int i = 0; i < n; ++i) std::printf(" %02x", b[i]);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  g_lib = LoadLibraryExA("doziv.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
  if (g_lib == nullptr) {
    std::printf("no library\n");
    return 1;
  }
  std::printf("SetID=%d\n", static_cast<int>(entry<FnId>("SetID")(0x2911, 0x1500, 0)));
  std::printf("OpenUSB=%d\n", static_cast<int>(entry<Fn0>("OpenUSB")()));
  for (int i = 1; i < argc; ++i) {
    unsigned char b[32] = {};
    if (std::strcmp(argv[i], "read") == 0) {
      std::printf("GetMrState=%d", static_cast<int>(entry<FnBuf>("GetMrState")(b)));
      hex(b, 16);
    } else if (std::strcmp(argv[i], "stat") == 0 && i + 1 < argc) {
      const int n = std::atoi(argv[++i]);
      const int s = entry<FnStat>("RetrieveStatistics")(n, b, 25);
      std::printf("RetrieveStatistics(%d)=%d %.25s\n", n, s, reinterpret_cast<char*>(b));
    } else if (std::strcmp(argv[i], "query") == 0) {
      b[1] = 0xB9;
      std::printf("GetMrState1=%d", static_cast<int>(entry<FnBuf>("GetMrState1")(b)));
      hex(b, 4);
    } else if (std::strcmp(argv[i], "ext") == 0 && i + 7 < argc) {
      b[1] = 0xB8;
      for (int k = 0; k < 7; ++k)
        b[2 + k] = static_cast<unsigned char>(std::strtoul(argv[++i], nullptr, 16));
      std::printf("SetMrState1=%d\n", static_cast<int>(entry<FnBuf>("SetMrState1")(b)));
    } else if (std::strcmp(argv[i], "reset") == 0) {
      b[1] = 0xFF;
      b[2] = 0xAA;
      std::printf("SetMrState1=%d\n", static_cast<int>(entry<FnBuf>("SetMrState1")(b)));
    } else if (std::strcmp(argv[i], "base") == 0 && i + 8 < argc) {
      for (int k = 0; k < 8; ++k)
        b[k] = static_cast<unsigned char>(std::strtoul(argv[++i], nullptr, 16));
      std::printf("SetMrStateBuf=%d\n", static_cast<int>(entry<FnBuf>("SetMrStateBuf")(b)));
    }
  }
  std::printf("CloseUSB=%d\n", static_cast<int>(entry<Fn0>("CloseUSB")()));
  FreeLibrary(g_lib);
  return 0;
}
