// Silent mode's dispatch: the settings file first, then exactly one transport chosen by
// the flags, and the position of -s as the exit code whatever the transport reports.
#include <string>
#include <vector>

#include "app/process_state.h"
#include "app/startup.h"
#include "settings/settings_block.h"
#include "tests/fakes/fake_os.h"
#include "transport/transports.h"

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
      return record("setcom(" + std::to_string(mode) + ")"), result;
    };
    g_transports.setps2 = [=] { record("setps2()"); };
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
  for (const int result : {0, 1, 9}) {
    SCOPED_TRACE("transport result " + std::to_string(result));
    reset_process_state();
    calls.clear();
    p2j_seen.clear();
    script(result);
    EXPECT_EQ(msr_main(c.cp), c.code);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(p2j_seen, std::vector<int>(c.calls.size(), 0x5a));
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
