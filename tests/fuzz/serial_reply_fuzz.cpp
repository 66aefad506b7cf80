// Any device replies, of any length and content, and any failing call on the port: the
// probe and the write never touch memory past their buffers, leave nothing open, and
// only ever put the five configuration commands on the wire.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "tests/fakes/fake_os.h"
#include "transport/vcom/vcom.h"

namespace {

// The fuzz input, consumed byte by byte by every port; zeros once it runs out.
struct Input {
  const unsigned char* data;
  std::size_t size, pos = 0;
  unsigned char next() { return pos < size ? data[pos++] : 0; }
};

// A port whose every read and write outcome comes from the input.
class FuzzPort : public msr::fake::Device {
 public:
  explicit FuzzPort(Input* in) : in_(in) {}

  bool read(void* buffer, std::uint32_t to_read, std::uint32_t* read) override {
    unsigned char control = in_->next();
    std::uint32_t len = control & 0x3F;  // 0..63 bytes offered
    std::uint32_t n = std::min(len, to_read);
    for (std::uint32_t i = 0; i < n; ++i) static_cast<unsigned char*>(buffer)[i] = in_->next();
    // Bit 6: the driver claims more than it was asked for.
    *read = (control & 0x40) ? len + to_read : n;
    return (control & 0x80) == 0;
  }

  bool write(const void* buffer, std::uint32_t to_write, std::uint32_t* written) override {
    Device::write(buffer, to_write, written);
    unsigned char control = in_->next();
    if (control & 0x40) *written = control & 0x1F;
    return (control & 0x80) == 0;
  }

 private:
  Input* in_;
};

bool known_command(const std::vector<unsigned char>& w) {
  static const unsigned char prefix[] = {0x1D, 0x4D, 0x52};
  if (w.size() < 4 || !std::equal(prefix, prefix + 3, w.begin())) return false;
  switch (w.size()) {
    case 4:
      return w[3] == 0xB3;
    case 5:
      return (w[3] == 0xD0 && (w[4] == 0x12 || w[4] == 0x13)) || (w[3] == 0xFF && w[4] == 0xAA);
    case 12:
      return w[3] == 0xB2;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static msr::fake::FakeOs fos;
  msr::reset_process_state();
  msr::set_os(&fos);

  Input in{data, size};
  unsigned char flags = in.next();
  int mode = flags & 1;
  msr::g_shell.cif = (flags >> 1) & 1;
  msr::g_shell.nofail = (flags >> 2) & 1;
  msr::g_shell.cport = (flags & 0x08) ? 3 : 0;
  bool logging = flags & 0x10;
  msr::blk().kq1 = in.next();
  msr::blk().mr7 = in.next();
  const int cif_before = msr::g_shell.cif;

  // Up to six ports, each with its own modem lines; the registry names the highest.
  int ports = 1 + in.next() % 6;
  std::vector<std::shared_ptr<FuzzPort>> devs;
  for (int p = 1; p <= ports; ++p) {
    auto d = std::make_shared<FuzzPort>(&in);
    unsigned char lines = in.next();
    d->modem_status = lines & 0x30;
    d->serial = (lines & 0x80) == 0;
    fos.devices["\\\\.\\COM" + std::to_string(p)] = d;
    devs.push_back(d);
  }
  fos.serialcomm = std::vector<std::pair<std::string, std::optional<std::string>>>{
      {"\\Device\\Serial0", "COM" + std::to_string(ports)}};

  if (logging) {
    fos.write_file("C:\\msr.log", "");
    msr::log_open();
  }
  const msr::SettingsBlock before = msr::blk();
  int result = msr::setcom(mode);

  if (fos.open_handles() != 0) __builtin_trap();
  for (msr::Handle h : msr::g_vcom.hComTab) {
    if (h != msr::invalid_handle()) __builtin_trap();
  }
  if (std::strlen(msr::g_vcom.cportStr) > 3) __builtin_trap();
  if (result != (msr::blk().mr7 == 0 && !msr::g_shell.nofail ? 1 : 0)) __builtin_trap();
  for (const auto& d : devs) {
    if (d->opens != d->closes) __builtin_trap();
    for (const auto& w : d->writes) {
      if (!known_command(w)) __builtin_trap();
      if (w.size() == 5 && w[3] == 0xFF && (mode == 0 || !cif_before || (before.kq1 & 1)))
        __builtin_trap();
      if (w.size() == 12) {
        const unsigned char expected[] = {before.p2j, before.mr1, before.mr2, before.mr3,
                                          before.mr4, before.mr5, before.mr6, before.kq1};
        if (mode == 0 || !std::equal(expected, expected + 8, w.begin() + 4)) __builtin_trap();
      }
    }
  }
  if (mode == 1 && std::memcmp(&before, &msr::blk(), sizeof before) != 0) __builtin_trap();

  // Nothing this input allocated outlives it: libFuzzer takes memory held over from one
  // input to the next for a leak and runs the input again to make sure.
  msr::reset_process_state();
  fos.devices.clear();
  fos.clear_records();
  fos.serialcomm.emplace();
  return 0;
}
