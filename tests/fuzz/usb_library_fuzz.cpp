// Whatever doziv.dll answers, with whatever statuses and whatever it writes anywhere in
// its 32-byte buffers, and whichever entry points it lacks: setusb and setusb1 stay
// inside their buffers, release the library, and never report a failed transfer as done.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/process_state.h"
#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "tests/fakes/fake_os.h"
#include "tests/fuzz/fuzz_common.h"
#include "transport/usb/doziv.h"
#include "transport/usb/usb.h"

namespace {

// The fuzzer's bytes, read front to back; zeros once they run out.
struct Input : msr::fuzz::Input {
  std::int32_t status() {
    const std::uint8_t kind = byte();
    if (kind < 0x80) return 0;
    if (kind < 0xF0) return kind & 0x0F;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return static_cast<std::int32_t>(v);
  }
};

Input g_in{{nullptr, 0}};

// What the last call of each kind returned, to check the results against.
struct Seen {
  bool get_failed = false;    // GetMrState called and refused
  bool write_failed = false;  // a settings write refused (or 99)
  bool ext_failed = false;    // GetMrState1 or SetMrState1 refused
};
Seen g_seen;

// Writes fuzzed bytes at fuzzed places of the whole 32-byte buffer.
void scribble(unsigned char* buffer) {
  const int n = g_in.byte() % 40;
  for (int i = 0; i < n; ++i) {
    const std::uint8_t at = g_in.byte() % msr::doziv::kBufferSize;
    buffer[at] = g_in.byte();
  }
}

std::int32_t SetID(std::int32_t, std::int32_t, std::int32_t) {
  return g_in.status();
}
std::int32_t OpenUSB() {
  return g_in.status();
}
std::int32_t GetMrState(unsigned char* b) {
  scribble(b);
  const std::int32_t s = g_in.status();
  g_seen.get_failed |= s != 0;
  return s;
}
std::int32_t RetrieveStatistics(std::int32_t, unsigned char* b, std::int32_t) {
  scribble(b);
  return g_in.status();
}
std::int32_t SetMrStateBuf(unsigned char* b) {
  scribble(b);
  const std::int32_t s = g_in.status();
  g_seen.write_failed |= s != 0;
  return s;
}
std::int32_t SetMrState() {
  const std::int32_t s = g_in.status();
  g_seen.write_failed |= s != 0;
  return s;
}
std::int32_t GetMrState1(unsigned char* b) {
  scribble(b);
  const std::int32_t s = g_in.status();
  g_seen.ext_failed |= s != 0;
  return s;
}
std::int32_t SetMrState1(unsigned char* b) {
  scribble(b);
  const std::int32_t s = g_in.status();
  g_seen.ext_failed |= s != 0;
  return s;
}
std::int32_t CloseUSB() {
  return g_in.status();
}

const std::pair<const char*, void*> kExports[] = {
    {"SetID", reinterpret_cast<void*>(msr::doziv::SetIDFn{&SetID})},
    {"OpenUSB", reinterpret_cast<void*>(msr::doziv::OpenUSBFn{&OpenUSB})},
    {"GetMrState", reinterpret_cast<void*>(msr::doziv::GetMrStateFn{&GetMrState})},
    {"RetrieveStatistics",
     reinterpret_cast<void*>(msr::doziv::RetrieveStatisticsFn{&RetrieveStatistics})},
    {"SetMrStateBuf", reinterpret_cast<void*>(msr::doziv::SetMrStateBufFn{&SetMrStateBuf})},
    {"SetMrState", reinterpret_cast<void*>(msr::doziv::SetMrStateFn{&SetMrState})},
    {"GetMrState1", reinterpret_cast<void*>(msr::doziv::GetMrState1Fn{&GetMrState1})},
    {"SetMrState1", reinterpret_cast<void*>(msr::doziv::SetMrState1Fn{&SetMrState1})},
    {"CloseUSB", reinterpret_cast<void*>(msr::doziv::CloseUSBFn{&CloseUSB})},
};

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static msr::fake::FakeOs fos;
  static const bool once = [] {
    fos.write_file("C:\\windows\\system32\\hid.dll", "MZ");
    return true;
  }();
  (void)once;
  msr::reset_process_state();
  msr::set_os(&fos);
  g_in = {{data, size}};

  // Set-up from the first bytes: flags, exports, log on or off.
  const std::uint8_t flags = g_in.byte();
  const std::uint16_t exported = static_cast<std::uint16_t>(g_in.byte() << 8 | g_in.byte());
  msr::g_shell.nofail = flags & 1;
  msr::g_shell.vcom = (flags >> 1 & 7) == 0;  // rarely: setusb1 then returns at once
  msr::g_shell.cif = flags >> 4 & 1;
  const bool logging = flags >> 5 & 1;
  // Mostly hid.dll in the system directory; else a failed query with hid.dll in one of
  // the classic folders, or nowhere.
  fos.system_dir_fails = (flags >> 6) >= 2;
  const bool hid_present = (flags >> 6) != 3;
  if ((flags >> 6) == 2) {
    fos.write_file("c:\\winnt\\system32\\hid.dll", "MZ");
  } else {
    std::remove(fos.host_path("c:\\winnt\\system32\\hid.dll").c_str());
  }
  std::remove(fos.host_path("C:\\msr.log").c_str());
  if (logging) {
    fos.write_file("C:\\msr.log", "");
    msr::log_open();
  }
  auto& lib = fos.libraries[fos.program_dir() + "\\doziv.dll"];
  lib.clear();
  for (std::size_t i = 0; i < std::size(kExports); ++i) {
    // Most inputs keep an entry point; bit i of the mask takes it away.
    if ((exported >> i & 1) == 0 || (exported >> 9 & 7) == 0)
      lib[kExports[i].first] = kExports[i].second;
  }
  msr::SettingsBlock& b = msr::blk();
  unsigned char* fields[] = {&b.p2j, &b.mr1, &b.mr2, &b.mr3, &b.mr4, &b.mr5, &b.mr6, &b.mr7,
                             &b.kq1, &b.kq2, &b.kq3, &b.kq4, &b.kq5, &b.kq6, &b.kq7};
  for (unsigned char* f : fields) *f = g_in.byte();

  fos.clear_records();

  // A window run: detection reads, Save writes; the bytes decide the rest.
  for (const int mode : {0, 1}) {
    g_seen = {};
    const msr::SettingsBlock before = b;
    const int r = msr::setusb(mode);
    if (!hid_present) check(r == (msr::g_shell.nofail ? 0 : 2));
    if (hid_present) check(r == 0 || r == 9);
    if (msr::g_shell.nofail) check(r == 0);
    if (g_seen.get_failed || g_seen.write_failed) check(r == 9 || msr::g_shell.nofail);
    if (mode == 0 && g_seen.get_failed) {
      check(std::memcmp(&before, &b, sizeof b) == 0);  // a refused read changes nothing
    }

    g_seen = {};
    const int r1 = msr::setusb1(mode);
    check(r1 == 0 || r1 == 1 || r1 == 9);
    if (msr::g_shell.vcom) check(r1 == 1);
    if (g_seen.ext_failed) check(r1 == 9);
  }
  // Every library that loaded was released again.
  check(fos.loaded_modules() == 0);
  // The only message boxes are the missing hid.dll's.
  check(hid_present || msr::g_shell.nofail || !fos.message_boxes.empty());
  for (const auto& box : fos.message_boxes) check(!hid_present && box.text == "Can't find hid.dll");

  // Nothing this input allocated outlives it: libFuzzer takes memory held over from one
  // input to the next for a leak and runs the input again to make sure.
  msr::reset_process_state();
  fos.clear_records();
  fos.libraries.erase(fos.program_dir() + "\\doziv.dll");
  return 0;
}
