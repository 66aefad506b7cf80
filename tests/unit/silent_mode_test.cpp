// Silent mode's dispatch: the settings file first, then exactly one transport chosen by
// the flags, and the position of -s as the exit code when the write worked.
#include <string>
#include <vector>

#include "app/modes.h"
#include "app/process_state.h"
#include "app/startup.h"
#include "settings/settings_block.h"
#include "tests/fakes/fake_os.h"
#include "transport/ps2/ps2.h"
#include "transport/transports.h"
#include "transport/vcom/vcom.h"

namespace msr {
namespace {

struct SilentCase {
  const char* cp;
  std::vector<std::string> calls;
  int code;
};

class SilentDispatch : public fake::FakeOsTest, public ::testing::WithParamInterface<SilentCase> {
 protected:
  // Each scripted transport records its call and the block's first byte as it found it.
  void script(int result) {
    auto record = [this](const std::string& call) {
      calls.push_back(call);
      p2j_seen.push_back(blk().p2j);
    };
    g_transports.setusb = [=](int mode) {
      return record("setusb(" + std::to_string(mode) + ")"), result;
    };
    g_transports.setusb1 = [=](int mode) {
      return record("setusb1(" + std::to_string(mode) + ")"), result;
    };
    g_transports.setcom = [=](int mode) {
      g_vcom.last_write = result == 0 ? ComWrite::written : ComWrite::no_answer;
      return record("setcom(" + std::to_string(mode) + ")"), result;
    };
    g_transports.setps2 = [=] {
      g_ps2.driver_opened = g_ps2.block_taken = result == 0;
      record("setps2()");
    };
  }
  std::vector<std::string> calls;
  std::vector<int> p2j_seen;
};

TEST_P(SilentDispatch, SettingsFileThenOneTransportThenThePositionOfS) {
  const SilentCase& c = GetParam();
  // A settings file whose p2j no preset has, so a transport that ran before it was read
  // would show the preset instead.
  fos.write_file("C:\\windows\\tvrnmsr.ini",
                 std::string("\x5a\x08\x25\x3b\x3b\x3f\x01\x13\0\0\0\0\0\0\0", 15));
  for (const int result : {0, 9}) {
    SCOPED_TRACE("transport result " + std::to_string(result));
    reset_process_state();
    calls.clear();
    p2j_seen.clear();
    script(result);
    // A reader that can't be reached is the one failure the scripted transports play.
    EXPECT_EQ(msr_main(c.cp), result == 0 ? c.code : kExitNoReader);
    // A base block that failed is never followed by the extended block.
    const std::size_t n = result == 0 || c.calls.size() == 1 ? c.calls.size() : 1;
    EXPECT_EQ(calls, std::vector<std::string>(c.calls.begin(), c.calls.begin() + n));
    EXPECT_EQ(p2j_seen, std::vector<int>(n, 0x5a));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SilentDispatch,
                         ::testing::Values(SilentCase{"-u -s", {"setusb(1)", "setusb1(1)"}, 3},
                                           SilentCase{"-v -u -s", {"setusb(1)", "setusb1(1)"}, 6},
                                           SilentCase{"-u -v3 -s", {"setusb(1)", "setusb1(1)"}, 7},
                                           SilentCase{"-v3 -s", {"setcom(1)"}, 4},
                                           SilentCase{"-j -s", {"setps2()"}, 3},
                                           SilentCase{"-s -u", {"setusb(1)", "setusb1(1)"}, 0}),
                         [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace msr
