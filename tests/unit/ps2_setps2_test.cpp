// The PS/2 programming sequence as a whole: the order of its steps, the three write
// attempts, the beep that only a logging run makes, the touch-driver step and the close.
#include "settings/settings_block.h"
#include "tests/unit/ps2_fake_drivers.h"

namespace msr {
namespace {

using ps2test::Answer;
using ps2test::kKrnldrvr;
using ps2test::kRozivadu;
using ps2test::kVidedu;
using ps2test::kVxd;
using ps2test::ptr;

using Calls = std::vector<std::string>;

class SetPs2 : public ps2test::Ps2Test {};

TEST_F(SetPs2, WithoutADriverNothingElseHappens) {
  add_touch();
  start_log();
  setps2();
  EXPECT_EQ(device_calls(), (Calls{"CreateFileA(\\\\.\\VIDEDU)", "CreateFileA(\\\\.\\krnldrvr)",
                                   "CreateFileA(\\\\.\\DUVU.VXD)"}));
  EXPECT_TRUE(fos.sleeps.empty());
  EXPECT_TRUE(fos.beeps.empty());
  EXPECT_EQ(fos.process_messages_calls, 0);
  EXPECT_EQ(g_ps2.hd, invalid_handle());
  EXPECT_EQ(ps2_log(), ps2test::dopen_log_to_vxd(0) +
                           " createfile( duvu)=" + ptr(invalid_handle()) + ", lerr=2 \n");
}

TEST_F(SetPs2, RunsItsStepsInOrderAndClosesTheDriver) {
  auto wedge = add_wedge(kVidedu);
  auto touch = add_touch();
  setps2();
  EXPECT_EQ(device_calls(),
            (Calls{"CreateFileA(\\\\.\\VIDEDU)", "DeviceIoControl(80ff0040)", "Sleep(500)",
                   "ProcessMessages", "DeviceIoControl(80ff0038)", "ProcessMessages",
                   "DeviceIoControl(80ff0024)", "CreateFileA(\\\\.\\ROZIVADU)",
                   "DeviceIoControl(f0054)", "CloseHandle", "ClipCursorRelease", "CloseHandle"}));
  EXPECT_EQ(wedge->closes, 1);
  EXPECT_EQ(touch->closes, 1);
  EXPECT_EQ(fos.open_handles(), 0);
  EXPECT_EQ(g_ps2.hd, invalid_handle());
}

TEST_F(SetPs2, WritesTheBlockThatIsHeldNow) {
  auto wedge = add_wedge(kVidedu);
  blk().p2j = 0x86, blk().mr1 = 0x3C, blk().mr7 = 0x57;
  setps2();
  ASSERT_EQ(wedge->count(0x80FF0024u), 1u);
  EXPECT_EQ(wedge->ioctls.back().in,
            (std::vector<unsigned char>{0x86, 0x3C, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x57}));
}

// The window is given its messages before the probe and before every write attempt.
TEST_F(SetPs2, PendingMessagesRunBeforeTheProbeAndEachWrite) {
  auto wedge = add_wedge(kVidedu);
  wedge->writes = {{true, 19, 0}};
  std::vector<std::size_t> seen;  // driver calls made when messages were processed
  fos.on_process_messages = [&] { seen.push_back(wedge->ioctls.size()); };
  setps2();
  EXPECT_EQ(seen, (std::vector<std::size_t>{1, 2, 3, 4}));
}

struct RetryCase {
  const char* name;
  std::deque<Answer> writes;
  bool logging;
  std::uint32_t attempts;
  std::size_t beeps;
};

class SetPs2Retry : public ps2test::Ps2Test, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(SetPs2Retry, TriesUpToThreeTimesAndBeepsOnlyWhileLogging) {
  const RetryCase& c = GetParam();
  auto wedge = add_wedge(kVidedu);
  auto touch = add_touch();
  wedge->writes = c.writes;
  if (c.logging) start_log();
  setps2();
  EXPECT_EQ(wedge->count(0x80FF0024u), c.attempts);
  ASSERT_EQ(fos.beeps.size(), c.beeps);
  for (const auto& b : fos.beeps)
    EXPECT_EQ(b, (std::pair<std::uint32_t, std::uint32_t>{2000, 100}));
  // No other pause between attempts.
  EXPECT_EQ(fos.sleeps, std::vector<std::uint32_t>{500});
  // Whatever the writes did, the touch step and the close follow.
  EXPECT_EQ(touch->count(0x000F0054u), 1u);
  EXPECT_EQ(wedge->closes, 1);
  EXPECT_EQ(fos.open_handles(), 0);
  EXPECT_EQ(g_ps2.hd, invalid_handle());
}

INSTANTIATE_TEST_SUITE_P(
    Writes, SetPs2Retry,
    ::testing::Values(
        RetryCase{"FirstTakes", {{true, 20, 0}}, true, 1, 0},
        RetryCase{"NineteenThriceLogging", {{true, 19, 0}}, true, 3, 3},
        RetryCase{"NineteenThriceQuiet", {{true, 19, 0}}, false, 3, 0},
        RetryCase{"SecondTakes", {{true, 19, 0}, {true, 20, 0}}, true, 2, 1},
        RetryCase{
            "ThirdTakesAfterFailures", {{false, 0, 31}, {false, 0, 31}, {true, 64, 0}}, true, 3, 2},
        RetryCase{"FailuresQuiet", {{false, 0, 31}}, false, 3, 0},
        RetryCase{"NoFourthAttempt",
                  {{true, 0, 0}, {true, 1, 0}, {true, 19, 0}, {true, 20, 0}},
                  true,
                  3,
                  3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SetPs2, BeepsFollowEachFailedAttempt) {
  auto wedge = add_wedge(kVidedu);
  wedge->writes = {{true, 19, 0}, {true, 20, 0}};
  start_log();
  setps2();
  Calls calls = device_calls();
  Calls tail(calls.begin() + 3, calls.begin() + 9);
  EXPECT_EQ(tail, (Calls{"ProcessMessages", "DeviceIoControl(80ff0038)", "ProcessMessages",
                         "DeviceIoControl(80ff0024)", "Beep(2000,100)", "ProcessMessages"}));
}

TEST_F(SetPs2, On9xTheTouchDriverIsLeftAlone) {
  auto vxd = add_wedge(kVxd);
  auto touch = add_touch();
  setps2();
  EXPECT_EQ(g_ps2.win95_f, 1u);
  EXPECT_EQ(vxd->count(0x80FF0024u), 1u);
  EXPECT_EQ(touch->opens, 0);
  EXPECT_EQ(fos.clip_cursor_releases, 0);
  EXPECT_EQ(vxd->closes, 1);
  EXPECT_EQ(fos.open_handles(), 0);
}

TEST_F(SetPs2, KrnldrvrServesWhenVideduIsMissing) {
  auto k = add_wedge(kKrnldrvr);
  auto touch = add_touch();
  setps2();
  EXPECT_EQ(g_ps2.win95_f, 0u);
  EXPECT_EQ(k->count(0x80FF0024u), 1u);
  EXPECT_EQ(touch->count(0x000F0054u), 1u);
  EXPECT_EQ(k->closes, 1);
}

TEST_F(SetPs2, AMissingTouchDriverOnlyShowsInTheLog) {
  auto wedge = add_wedge(kVidedu);
  start_log();
  setps2();
  EXPECT_EQ(wedge->closes, 1);
  EXPECT_EQ(fos.clip_cursor_releases, 0);
  EXPECT_TRUE(
      ps2_log().ends_with(" wmr()=1, br=20, lerr=0 \n"
                          " 0  1  2  3  4  5  6  7 \n 8  9  a  b  c  d  e  f \n 10  11  12  13 \n"
                          " rozivadu.sys Open Failed! lerr=2 \n"))
      << ps2_log();
}

// One whole logged run, line by line.
TEST_F(SetPs2, LogOfARunWithOneShortAnswer) {
  auto wedge = add_wedge(kVidedu);
  auto touch = add_touch();
  touch->reply = {false, 0, 1};
  wedge->probe = {true, 10, 0};
  wedge->writes = {{true, 19, 0}, {true, 20, 0}};
  wedge->first_byte = 0xF8;
  Handle opened = nullptr;
  fos.on_process_messages = [&] { opened = g_ps2.hd; };
  start_log();
  setps2();
  const std::string inv = ptr(invalid_handle());
  const std::string hd = ptr(opened);
  EXPECT_EQ(ps2_log(),
            " in dopen( 0 ), hd=" + inv +
                ", win95_f=0 \n"
                "\n InitSD()=1, lerr=0 \n"
                " SetSDDacl()=1, lerr=0 \n"
                " createfile( videdu)=" +
                hd +
                ", lerr=0 \n"
                " ger_ver, br=9, lerr=0 \n"
                " f8  f9  fa  fb  fc  fd  fe  ff  0 \n"
                " t8042()=1, br=10, lerr=0 \n"
                " f8  f9  fa  fb  fc  fd  fe  ff \n 0  1 \n"
                " wmr()=1, br=19, lerr=0 \n"
                " f8  f9  fa  fb  fc  fd  fe  ff \n 0  1  2  3  4  5  6  7 \n 8  9  a \n"
                " wmr()=1, br=20, lerr=0 \n"
                " f8  f9  fa  fb  fc  fd  fe  ff \n 0  1  2  3  4  5  6  7 \n 8  9  a  b \n"
                " f0054 Ioctl Failed! lerr=1 \n");
}

}  // namespace
}  // namespace msr
