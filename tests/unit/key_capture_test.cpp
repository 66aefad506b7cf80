// Console key bursts through the fake OS, where the system tests can't go: the countdown
// (their standard error is no terminal) and a burst that never ends.
#include "msrprofile/swipe/key_capture.h"

#include "msrprofile/exit_codes.h"
#include "tests/fakes/fake_os.h"

namespace msr::profile {
namespace {

using KeyCaptureTest = fake::FakeOsTest;

TEST_F(KeyCaptureTest, ConsoleBursts) {
  InputRecord mouse, one;
  mouse.event_type = 2;
  one = {w32::kKeyEvent, true, 1, 0x31, 0x02, u'1', 0};
  std::vector<std::pair<std::uint32_t, InputRecord>> endless;
  for (std::uint32_t t = 5100; t < 25000; t += 50) endless.push_back({t, one});
  struct Row {
    const char* name;
    std::vector<std::pair<std::uint32_t, InputRecord>> input;  // the clock starts at 5000
    int exit;
    std::vector<int> countdown;
  } rows[] = {
      {"nothing typed", {{5100, mouse}}, kExitNoReader, {3, 2, 1}},
      {"a burst that never ends", endless, kExitDiffers, {3}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fos.console_input = r.input;
    fos.tick = 5000;
    std::vector<int> shown;
    BurstOptions o;
    o.timeout_ms = 3000;
    o.countdown = [&](int s) { shown.push_back(s); };
    KeyEvents keys;
    std::string why;
    EXPECT_EQ(capture_console_keys(o, &keys, &why), r.exit) << why;
    EXPECT_EQ(shown, r.countdown);
  }
}

}  // namespace
}  // namespace msr::profile
