// Test driver: the vCOM transport on Linux, through the libserialport boundary, against
// the serial ports named on the command line (probed in that order).
//
//   posix_vcom read PATH...        reads the first reader that answers
//   posix_vcom write HEX PATH...   reads it, writes the fifteen bytes HEX (the firmware
//                                  byte is the reader's own and stays), reads back
//   posix_vcom lock PATH           opens the port, then tries a second open of it
//
// A reader read prints "reader COM<n> <path>", "block" and the fifteen bytes in hex, and
// "jis <0|1> cif <0|1>". Exit 0, 1 when no reader answered (or the second open got in),
// 2 for a bad command line. The transport's diagnostic log goes to standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/flags.h"
#include "common/log.h"
#include "platform/posix/posix_os.h"
#include "settings/settings_block.h"
#include "transport/vcom/vcom.h"

namespace msr {
namespace {

void to_bytes(const SettingsBlock& b, unsigned char* out) {
  store_base_block(b, out);
  const unsigned char ext[] = {b.kq1, b.kq2, b.kq3, b.kq4, b.kq5, b.kq6, b.kq7};
  std::memcpy(out + 8, ext, sizeof ext);
}

void from_bytes(SettingsBlock& b, const unsigned char* in) {
  load_base_block(b, in);
  std::uint8_t* ext[] = {&b.kq1, &b.kq2, &b.kq3, &b.kq4, &b.kq5, &b.kq6, &b.kq7};
  for (int i = 0; i < 7; ++i) *ext[i] = in[8 + i];
}

bool parse_hex(const char* text, unsigned char* out) {
  if (std::strlen(text) != 30) return false;
  for (int i = 0; i < 15; ++i) {
    char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
    char* end = nullptr;
    long v = std::strtol(pair, &end, 16);
    if (*end != '\0') return false;
    out[i] = static_cast<unsigned char>(v);
  }
  return true;
}

int read_reader() {
  chkcom(0);
  if (blk().mr7 == 0) {
    std::printf("no reader\n");
    return 1;
  }
  int com = std::atoi(g_vcom.cportStr);
  std::printf("reader COM%d %s\nblock", com, posix_port_path(com).c_str());
  unsigned char bytes[15];
  to_bytes(blk(), bytes);
  for (unsigned char b : bytes) std::printf(" %02x", b);
  std::printf("\njis %d cif %d\n", g_shell.jis, g_shell.cif);
  return 0;
}

int write_reader(const unsigned char* bytes) {
  if (read_reader() != 0) return 1;
  std::uint8_t firmware = blk().mr7;
  from_bytes(blk(), bytes);
  blk().mr7 = firmware;
  chkcom(1);
  std::printf("wrote\n");
  return read_reader();
}

int lock(const char* path) {
  posix_set_ports({path});
  Handle first = os().CreateFileA("\\\\.\\COM1", w32::kGenericRead | w32::kGenericWrite, 0, nullptr,
                                  w32::kOpenExisting, 0, nullptr);
  if (first == invalid_handle()) {
    std::printf("first open: error %lu\n", static_cast<unsigned long>(os().GetLastError()));
    return 1;
  }
  Handle second = os().CreateFileA("\\\\.\\COM1", w32::kGenericRead | w32::kGenericWrite, 0,
                                   nullptr, w32::kOpenExisting, 0, nullptr);
  std::printf("second open: error %lu\n", static_cast<unsigned long>(os().GetLastError()));
  if (second != invalid_handle()) os().CloseHandle(second);
  os().CloseHandle(first);
  return second == invalid_handle() ? 0 : 1;
}

int usage() {
  std::fprintf(stderr, "usage: posix_vcom read PATH... | write HEX PATH... | lock PATH\n");
  return 2;
}

}  // namespace
}  // namespace msr

int main(int argc, char** argv) {
  using namespace msr;
  set_os(&posix_os());
  g_log.stream = stderr;
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "lock" && argc == 3) return lock(argv[2]);
  int first_path = command == "read" ? 2 : command == "write" ? 3 : argc;
  if (first_path >= argc) return usage();
  posix_set_ports(std::vector<std::string>(argv + first_path, argv + argc));
  if (command == "read") return read_reader();
  unsigned char bytes[15];
  if (!parse_hex(argv[2], bytes)) return usage();
  return write_reader(bytes);
}
