// PS/2 wedge transport. The reader sits on the keyboard cable, so the only way to it is
// the keyboard-wedge driver; it is written, never read. Every step only logs what went
// wrong and carries on where it can: nobody is told but the diagnostic log.
#include "transport/ps2/ps2.h"

#include <cstdio>
#include <cstring>

#include "common/log.h"
#include "settings/settings_block.h"

namespace msr {
namespace {

// Control codes in the platform's layout: device type, access, function, transfer method.
constexpr std::uint32_t ctl_code(std::uint32_t device_type, std::uint32_t function) {
  constexpr std::uint32_t kMethodBuffered = 0, kFileAnyAccess = 0;
  return (device_type << 16) | (kFileAnyAccess << 14) | (function << 2) | kMethodBuffered;
}
constexpr std::uint32_t kWedgeDevice = 0x80FF;
constexpr std::uint32_t kMouseDevice = 0x000F;  // FILE_DEVICE_MOUSE
constexpr std::uint32_t kIoctlVersion = ctl_code(kWedgeDevice, 0x10);
constexpr std::uint32_t kIoctlT8042 = ctl_code(kWedgeDevice, 0x0E);
constexpr std::uint32_t kIoctlWmr = ctl_code(kWedgeDevice, 0x09);
constexpr std::uint32_t kIoctlTouch = ctl_code(kMouseDevice, 0x15);
static_assert(kIoctlVersion == 0x80FF0040u && kIoctlT8042 == 0x80FF0038u &&
              kIoctlWmr == 0x80FF0024u && kIoctlTouch == 0x000F0054u);

constexpr std::uint32_t kVersionSize = 9;
constexpr std::uint32_t kIoSize = sizeof(Ps2State::io);
constexpr std::uint32_t kTouchSize = 1024;
// A write the reader took answers with at least this many bytes.
constexpr std::uint32_t kWmrMinReply = 20;
constexpr int kWmrAttempts = 3;

constexpr std::uint32_t kReadWrite = w32::kGenericRead | w32::kGenericWrite;

// A driver may claim more bytes than the buffer it was given; only the buffer is ours
// to show.
std::uint32_t shown(std::uint32_t returned, std::uint32_t capacity) {
  return returned < capacity ? returned : capacity;
}

// The reply of t8042 and wmr: " %x " per byte, eight to a row.
void dump_rows(std::uint32_t returned) {
  if (!log_on()) return;
  const std::uint32_t n = shown(returned, kIoSize);
  for (std::uint32_t i = 0; i < n; ++i) {
    if (i > 0 && i % 8 == 0) log_write("\n");
    log_write(" %x ", g_ps2.io[i]);
  }
  log_write("\n");
}

Handle open_nt_driver(const char* path, SecurityDescriptor* sd) {
  SecurityAttributes sa;
  sa.length = kSecurityAttributesLength;
  sa.descriptor = sd;
  sa.inherit_handle = false;
  os().SetLastError(0);
  return os().CreateFileA(path, kReadWrite, 0, &sa, w32::kOpenExisting, 0, nullptr);
}

}  // namespace

Handle dopen(std::int32_t tag) {
  Ps2State& s = g_ps2;
  if (log_on()) {
    log_write(" in dopen( %d ), hd=%p, win95_f=%lu \n", static_cast<int>(tag), s.hd,
              log_ul(s.win95_f));
  }

  // A descriptor with a null access list lets whoever runs the tool open the driver.
  SecurityDescriptor sd;
  os().SetLastError(0);
  const bool init = os().InitializeSecurityDescriptor(&sd, 1);
  log_write("\n InitSD()=%d, lerr=%ld \n", init ? 1 : 0, static_cast<long>(os().GetLastError()));
  os().SetLastError(0);
  const bool dacl = os().SetSecurityDescriptorDacl(&sd, true, nullptr, false);
  log_write(" SetSDDacl()=%d, lerr=%ld \n", dacl ? 1 : 0, static_cast<long>(os().GetLastError()));

  s.driver = "\\\\.\\VIDEDU";
  s.hd = open_nt_driver(s.driver, &sd);
  log_write(" createfile( videdu)=%p, lerr=%lu \n", s.hd, log_ul(os().GetLastError()));
  if (s.hd == invalid_handle()) {
    s.driver = "\\\\.\\krnldrvr";
    s.hd = open_nt_driver(s.driver, &sd);
    log_write(" createfile( kdrnldrvr)=%p, lerr=%lu \n", s.hd, log_ul(os().GetLastError()));
  }
  if (s.hd == invalid_handle()) {
    // Closing the handle unloads the dynamically loaded 9x driver again.
    os().SetLastError(0);
    s.driver = "\\\\.\\DUVU.VXD";
    s.hd = os().CreateFileA(s.driver, kReadWrite, 0, nullptr, w32::kOpenExisting,
                            w32::kFileFlagDeleteOnClose, nullptr);
    log_write(" createfile( duvu)=%p, lerr=%lu \n", s.hd, log_ul(os().GetLastError()));
    if (s.hd != invalid_handle()) s.win95_f = 1;
  } else {
    s.win95_f = 0;
  }

  std::memset(s.io, 0, sizeof s.io);
  if (s.hd == invalid_handle()) {
    s.driver = nullptr;
    return s.hd;
  }

  // The version only goes to the log; a driver that can't tell it still gets used.
  std::uint32_t br = 0;
  os().SetLastError(0);
  os().DeviceIoControl(s.hd, kIoctlVersion, s.io, kVersionSize, s.io, kVersionSize, &br);
  const std::uint32_t lerr = os().GetLastError();
  if (log_on()) {
    log_write(" ger_ver, br=%lu, lerr=%lu \n", log_ul(br), log_ul(lerr));
    log_bytes(s.io, shown(br, kVersionSize), " %x ");
    log_write("\n");
  }
  return s.hd;
}

std::uint32_t t8042() {
  Ps2State& s = g_ps2;
  if (s.hd == invalid_handle()) return 0;
  std::memset(s.io, 0, sizeof s.io);
  std::uint32_t br = 0;
  os().SetLastError(0);
  const bool ok = os().DeviceIoControl(s.hd, kIoctlT8042, s.io, kIoSize, s.io, kIoSize, &br);
  const std::uint32_t lerr = os().GetLastError();
  if (log_on()) {
    log_write(" t8042()=%lu, br=%lu, lerr=%lx \n", log_ul(ok ? 1 : 0), log_ul(br), log_ul(lerr));
    dump_rows(br);
  }
  return br;
}

std::uint32_t wmr() {
  Ps2State& s = g_ps2;
  if (s.hd == invalid_handle()) return 0;
  store_base_block(blk(), s.io);
  std::uint32_t br = 0;
  os().SetLastError(0);
  const bool ok = os().DeviceIoControl(s.hd, kIoctlWmr, s.io, kBaseBlockSize, s.io, kIoSize, &br);
  const std::uint32_t lerr = os().GetLastError();
  if (log_on()) {
    log_write(" wmr()=%lu, br=%lu, lerr=%lx \n", log_ul(ok ? 1 : 0), log_ul(br), log_ul(lerr));
    dump_rows(br);
  }
  // A short answer means the reader did not take the block.
  return ok && br >= kWmrMinReply ? br : 0;
}

int tchctl() {
  if (g_ps2.win95_f != 0) return 3;
  char text[80];
  os().SetLastError(0);
  Handle h = os().CreateFileA("\\\\.\\ROZIVADU", w32::kGenericRead, w32::kFileShareRead, nullptr,
                              w32::kOpenExisting, 0, nullptr);
  if (h == invalid_handle()) {
    std::snprintf(text, sizeof text, " rozivadu.sys Open Failed! lerr=%lx ",
                  log_ul(os().GetLastError()));
    log_write("%s\n", text);
    return 1;
  }
  // The touch driver wants nothing from us but the call itself.
  unsigned char in[kTouchSize] = {};
  unsigned char out[kTouchSize] = {};
  std::uint32_t br = 0;
  const bool ok = os().DeviceIoControl(h, kIoctlTouch, in, kTouchSize, out, kTouchSize, &br);
  // The call's own error, before the close can touch it.
  const std::uint32_t lerr = os().GetLastError();
  os().CloseHandle(h);
  if (ok) {
    os().ClipCursorRelease();
    return 0;
  }
  std::snprintf(text, sizeof text, " %lx Ioctl Failed! lerr=%lx ", log_ul(kIoctlTouch),
                log_ul(lerr));
  log_write("%s\n", text);
  return 2;
}

void setps2() {
  Ps2State& s = g_ps2;
  s.block_taken = false;
  s.driver_opened = dopen(0) != invalid_handle();
  if (!s.driver_opened) return;

  // Give the driver and the reader a moment, and the window a chance to paint.
  os().Sleep(500);
  os().ProcessMessages();
  t8042();
  for (int attempt = 0; attempt < kWmrAttempts; ++attempt) {
    os().ProcessMessages();
    if (wmr() != 0) {
      s.block_taken = true;
      break;
    }
    // Audible only for whoever is watching with the log on.
    if (log_on()) os().Beep(2000, 100);
  }
  if (s.win95_f == 0) tchctl();
  os().CloseHandle(s.hd);
  s.hd = invalid_handle();
}

}  // namespace msr
