// Whatever the keyboard-wedge and touch drivers answer (any result, any byte count, more
// than the buffer they were given included, any bytes in it, any error), and whichever of
// them are installed: setps2 stays within its buffers, logs, sends the same base block on
// every attempt, tries at most three times, calls the block taken only when the reader
// said so, and leaves no driver open.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "app/process_state.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "tests/fakes/fake_os.h"
#include "tests/fuzz/fuzz_common.h"
#include "transport/ps2/ps2.h"

namespace {

using msr::fuzz::check;

msr::fuzz::Input g_in{nullptr, 0};

constexpr std::uint32_t kIoctlWmr = 0x80FF0024u;

struct Driver : msr::fake::Device {
  msr::fake::FakeOs* fos = nullptr;
  // What each block write carried and whether the reader's answer counted as taking it.
  std::vector<std::vector<unsigned char>> blocks;
  bool any_taken = false;

  bool ioctl(std::uint32_t code, void* in, std::uint32_t in_size, void* out, std::uint32_t out_size,
             std::uint32_t* returned) override {
    if (code == kIoctlWmr) {
      const auto* b = static_cast<const unsigned char*>(in);
      blocks.emplace_back(b, b + in_size);
    }
    const std::uint8_t how = g_in.byte();
    const bool ok = how & 1;
    // Mostly a count within the buffer; sometimes one well past it, as a faulty driver
    // may claim.
    *returned = (how & 2) ? g_in.byte() % (out_size + 1) : g_in.byte() << 8 | g_in.byte();
    const std::uint32_t n = g_in.byte() % (out_size + 1);
    for (std::uint32_t i = 0; i < n; ++i) static_cast<unsigned char*>(out)[i] = g_in.byte();
    if (how & 4) fos->last_error = g_in.byte();
    if (code == kIoctlWmr && ok && *returned >= 20) any_taken = true;
    return ok;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static msr::fake::FakeOs fos;
  msr::reset_process_state();
  msr::set_os(&fos);
  g_in = {data, size};

  // Set-up: which drivers are there and open, the log, the block to write.
  const std::uint8_t flags = g_in.byte();
  const char* const kWedges[] = {"\\\\.\\VIDEDU", "\\\\.\\krnldrvr", "\\\\.\\DUVU.VXD"};
  fos.devices.clear();
  std::vector<std::shared_ptr<Driver>> wedges;
  for (int i = 0; i < 3; ++i) {
    if ((flags >> i & 1) == 0) continue;
    auto d = std::make_shared<Driver>();
    d->fos = &fos;
    d->serial = false;
    if (flags >> 3 & 1) d->open_error = 5;  // there, but it won't open
    fos.devices[kWedges[i]] = d;
    wedges.push_back(d);
  }
  auto touch = std::make_shared<Driver>();
  touch->fos = &fos;
  touch->serial = false;
  if (flags >> 4 & 1) fos.devices["\\\\.\\ROZIVADU"] = touch;
  std::remove(fos.host_path("C:\\msr.log").c_str());
  if (flags >> 5 & 1) {
    fos.write_file("C:\\msr.log", "");
    msr::log_open();
  }
  msr::SettingsBlock& b = msr::blk();
  unsigned char* fields[] = {&b.p2j, &b.mr1, &b.mr2, &b.mr3, &b.mr4, &b.mr5, &b.mr6, &b.mr7};
  for (unsigned char* f : fields) *f = g_in.byte();
  unsigned char block[msr::kBaseBlockSize];
  msr::store_base_block(b, block);

  msr::setps2();

  bool taken = false;
  for (const auto& d : wedges) {
    check(d->blocks.size() <= 3);
    for (const auto& sent : d->blocks) {
      check(sent.size() == sizeof block && std::memcmp(sent.data(), block, sizeof block) == 0);
    }
    taken = taken || d->any_taken;
  }
  check(msr::g_ps2.block_taken == taken);
  check(msr::g_ps2.hd == msr::invalid_handle());
  check(fos.open_handles() == 0);
  check(fos.message_boxes.empty());

  msr::reset_process_state();
  fos.devices.clear();
  fos.clear_records();
  return 0;
}
