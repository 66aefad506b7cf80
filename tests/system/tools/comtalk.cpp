// Test helper: talks to a COM port the way a Windows program does, to check a simulated
// reader through Wine on its own.
//   comtalk.exe PORT [HEXBYTES [WAIT_MS]]
// Opens \\.\PORT exclusively, prints the modem status and baud rate, and when bytes are given
// writes them, waits WAIT_MS (default 100) and prints what came back within the read
// time-outs (up to 64 bytes), all as hex. Exit code: 0, or 3 when the port can't be opened,
// 4 when it is no serial port, 5 when the write fails.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  char path[64];
  std::snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("open failed, lerr=%lu\n", GetLastError());
    return 3;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) {
    std::printf("getcs failed, lerr=%lu\n", GetLastError());
    CloseHandle(h);
    return 4;
  }
  DWORD ms = 0;
  BOOL got = GetCommModemStatus(h, &ms);
  std::printf("baud=%lu getms=%d ms=%lx lerr=%lu\n", dcb.BaudRate, got, ms,
              got ? 0ul : GetLastError());
  int rc = 0;
  if (argc >= 3) {
    unsigned char out[64];
    DWORD n = 0;
    for (const char* p = argv[2]; p[0] && p[1] && n < sizeof out; p += 2) {
      char hex[3] = {p[0], p[1], 0};
      out[n++] = static_cast<unsigned char>(std::strtoul(hex, nullptr, 16));
    }
    COMMTIMEOUTS t = {20, 1, 200, 1, 200};
    SetCommTimeouts(h, &t);
    PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    DWORD written = 0;
    if (!WriteFile(h, out, n, &written, nullptr) || written != n) {
      std::printf("write failed, nbw=%lu lerr=%lu\n", written, GetLastError());
      rc = 5;
    } else {
      Sleep(argc >= 4 ? static_cast<DWORD>(std::atoi(argv[3])) : 100);
      unsigned char in[64];
      DWORD got_n = 0;
      DWORD start = GetTickCount();
      BOOL ok = ReadFile(h, in, sizeof in, &got_n, nullptr);
      std::printf("read=%d n=%lu ms=%lu:", ok, got_n, GetTickCount() - start);
      for (DWORD i = 0; i < got_n; ++i) std::printf(" %02x", in[i]);
      std::printf("\n");
    }
  }
  CloseHandle(h);
  return rc;
}
