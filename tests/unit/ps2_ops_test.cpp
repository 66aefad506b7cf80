// The PS/2 driver operations one by one: dopen's device order and open parameters, the
// version query, t8042, wmr's 20-byte rule, tchctl's results, and their log lines.
#include <cstring>

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

constexpr std::uint32_t kReadWrite = 0xC0000000u;

class Ps2Ops : public ps2test::Ps2Test {};

// --- dopen: which driver opens ---

struct OrderCase {
  const char* name;
  std::vector<const char*> present;
  std::uint32_t win95_before;
  std::vector<std::string> tried;
  const char* opened;  // nullptr: none
  std::uint32_t win95_after;
};

class DopenOrder : public ps2test::Ps2Test, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(DopenOrder, TriesTheDriversInOrderAndStopsAtTheFirst) {
  const OrderCase& c = GetParam();
  std::map<std::string, std::shared_ptr<ps2test::WedgeDriver>> drivers;
  for (const char* p : c.present) drivers[p] = add_wedge(p);
  g_ps2.win95_f = c.win95_before;

  Handle h = dopen(0);

  std::vector<std::string> opens;
  for (const std::string& call : fos.calls) {
    if (call.rfind("CreateFileA(", 0) == 0) opens.push_back(call.substr(12, call.size() - 13));
  }
  EXPECT_EQ(opens, c.tried);
  EXPECT_EQ(h, g_ps2.hd);
  EXPECT_EQ(g_ps2.win95_f, c.win95_after);
  if (c.opened == nullptr) {
    EXPECT_EQ(h, invalid_handle());
    EXPECT_EQ(fos.open_handles(), 0);
  } else {
    EXPECT_NE(h, invalid_handle());
    EXPECT_EQ(drivers[c.opened]->opens, 1);
    // Only the driver that opened is asked for its version.
    for (auto& [path, d] : drivers) {
      EXPECT_EQ(d->count(0x80FF0040u), path == c.opened ? 1u : 0u) << path;
    }
  }
}

const std::vector<std::string> kAllThree = {kVidedu, kKrnldrvr, kVxd};

INSTANTIATE_TEST_SUITE_P(
    Drivers, DopenOrder,
    ::testing::Values(
        OrderCase{"VideduOnly", {kVidedu}, 0, {kVidedu}, kVidedu, 0},
        OrderCase{"VideduWinsOverTheOthers", {kVidedu, kKrnldrvr, kVxd}, 0, {kVidedu}, kVidedu, 0},
        OrderCase{"Krnldrvr", {kKrnldrvr, kVxd}, 0, {kVidedu, kKrnldrvr}, kKrnldrvr, 0},
        OrderCase{"VxdOnlyIs9x", {kVxd}, 0, kAllThree, kVxd, 1},
        OrderCase{"NoneLeavesTheFlag0", {}, 0, kAllThree, nullptr, 0},
        OrderCase{"NoneLeavesTheFlag1", {}, 1, kAllThree, nullptr, 1},
        OrderCase{"NtDriverClearsTheFlag", {kVidedu}, 1, {kVidedu}, kVidedu, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ps2Ops, NtDriversOpenExclusivelyUnderANullDacl) {
  auto d = add_wedge(kKrnldrvr);
  dopen(0);
  ASSERT_EQ(d->open_requests.size(), 1u);
  const fake::Device::OpenRequest& r = d->open_requests[0];
  EXPECT_EQ(r.access, kReadWrite);
  EXPECT_EQ(r.share, 0u);
  EXPECT_EQ(r.disposition, 3u);  // OPEN_EXISTING
  EXPECT_EQ(r.flags, 0u);
  ASSERT_TRUE(r.has_security);
  // The platform's own size of SECURITY_ATTRIBUTES: 24 on 64-bit, 12 on 32-bit.
  EXPECT_EQ(r.security_length, sizeof(void*) == 8 ? 24u : 12u);
  EXPECT_FALSE(r.inherit_handle);
  ASSERT_TRUE(r.has_descriptor);
  // The fake marks revision, DACL present, DACL null, defaulted in bytes 0..3.
  EXPECT_EQ(r.descriptor.bytes[0], 1);
  EXPECT_EQ(r.descriptor.bytes[1], 1);
  EXPECT_EQ(r.descriptor.bytes[2], 1);
  EXPECT_EQ(r.descriptor.bytes[3], 0);
}

TEST_F(Ps2Ops, TheVxdOpensWithoutSecurityAndGoesAwayOnClose) {
  auto d = add_wedge(kVxd);
  dopen(0);
  ASSERT_EQ(d->open_requests.size(), 1u);
  const fake::Device::OpenRequest& r = d->open_requests[0];
  EXPECT_EQ(r.access, kReadWrite);
  EXPECT_EQ(r.share, 0u);
  EXPECT_EQ(r.disposition, 3u);
  EXPECT_EQ(r.flags, 0x04000000u);  // FILE_FLAG_DELETE_ON_CLOSE
  EXPECT_FALSE(r.has_security);
}

TEST_F(Ps2Ops, VersionQuerySendsNineClearedBytesOfTheIoBuffer) {
  auto d = add_wedge(kVidedu);
  std::memset(g_ps2.io, 0xEE, sizeof g_ps2.io);
  dopen(0);
  ASSERT_EQ(d->ioctls.size(), 1u);
  const ps2test::IoctlCall& c = d->ioctls[0];
  EXPECT_EQ(c.code, 0x80FF0040u);
  EXPECT_EQ(c.in_size, 9u);
  EXPECT_EQ(c.out_size, 9u);
  EXPECT_TRUE(c.in_is_out);
  EXPECT_TRUE(c.in_is_io);
  EXPECT_EQ(c.in, std::vector<unsigned char>(9, 0));
  // The rest of the buffer is cleared as well.
  for (std::size_t i = 9; i < sizeof g_ps2.io; ++i) EXPECT_EQ(g_ps2.io[i], 0) << i;
}

TEST_F(Ps2Ops, AFailingVersionQueryStillLeavesTheDriverOpen) {
  auto d = add_wedge(kVidedu);
  d->version = {false, 0, 1};
  start_log();
  Handle h = dopen(0);
  EXPECT_NE(h, invalid_handle());
  EXPECT_EQ(fos.open_handles(), 1);
  EXPECT_NE(ps2_log().find(" ger_ver, br=0, lerr=1 \n\n"), std::string::npos) << ps2_log();
}

TEST_F(Ps2Ops, DopenLogsEveryStepWordForWord) {
  auto d = add_wedge(kVxd);
  d->first_byte = 0x0E;
  start_log();
  Handle h = dopen(7);
  EXPECT_EQ(ps2_log(), ps2test::dopen_log_to_vxd(7) + " createfile( duvu)=" + ptr(h) +
                           ", lerr=0 \n"
                           " ger_ver, br=9, lerr=0 \n"
                           " e  f  10  11  12  13  14  15  16 \n");
}

TEST_F(Ps2Ops, NothingIsComputedForTheLogWhenItIsOff) {
  add_wedge(kVidedu);
  dopen(0);
  EXPECT_EQ(log_text(), "");
}

TEST_F(Ps2Ops, AVersionReplyLongerThanAskedForShowsOnlyNineBytes) {
  auto d = add_wedge(kVidedu);
  d->version = {true, 5000, 0};
  d->first_byte = 1;
  start_log();
  dopen(0);
  EXPECT_NE(ps2_log().find(" ger_ver, br=5000, lerr=0 \n 1  2  3  4  5  6  7  8  9 \n"),
            std::string::npos)
      << ps2_log();
}

// --- t8042 and wmr replies ---

struct DumpCase {
  const char* name;
  Answer answer;
  const char* log;  // after the call's own line
};

const char* const kRows17 = " 0  1  2  3  4  5  6  7 \n 8  9  a  b  c  d  e  f \n 10 \n";

class T8042Dump : public ps2test::Ps2Test, public ::testing::WithParamInterface<DumpCase> {};

TEST_P(T8042Dump, LogsTheCallAndTheBytesEightToARow) {
  auto d = add_wedge(kVidedu);
  dopen(0);
  d->probe = GetParam().answer;
  start_log();
  std::uint32_t n = t8042();
  EXPECT_EQ(n, GetParam().answer.count);
  char line[96];
  std::snprintf(line, sizeof line, " t8042()=%d, br=%u, lerr=%x \n", GetParam().answer.ok ? 1 : 0,
                GetParam().answer.count, GetParam().answer.error);
  EXPECT_EQ(ps2_log(), std::string(line) + GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, T8042Dump,
    ::testing::Values(DumpCase{"Empty", {true, 0, 0}, "\n"}, DumpCase{"One", {true, 1, 0}, " 0 \n"},
                      DumpCase{"OneRow", {true, 8, 0}, " 0  1  2  3  4  5  6  7 \n"},
                      DumpCase{
                          "NinthByteStartsARow", {true, 9, 0}, " 0  1  2  3  4  5  6  7 \n 8 \n"},
                      DumpCase{"ThreeRows", {true, 17, 0}, kRows17},
                      DumpCase{"FailedCallHexError", {false, 0, 0x1f}, "\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ps2Ops, T8042SendsSixtyFourClearedBytes) {
  auto d = add_wedge(kVidedu);
  dopen(0);
  std::memset(g_ps2.io, 0x5A, sizeof g_ps2.io);
  t8042();
  ASSERT_EQ(d->ioctls.size(), 2u);
  const ps2test::IoctlCall& c = d->ioctls[1];
  EXPECT_EQ(c.code, 0x80FF0038u);
  EXPECT_EQ(c.in_size, 64u);
  EXPECT_EQ(c.out_size, 64u);
  EXPECT_TRUE(c.in_is_out && c.in_is_io);
  EXPECT_EQ(c.in, std::vector<unsigned char>(64, 0));
}

TEST_F(Ps2Ops, WithoutADriverTheOperationsDoNothing) {
  EXPECT_EQ(t8042(), 0u);
  EXPECT_EQ(wmr(), 0u);
  EXPECT_TRUE(fos.calls.empty());
}

// Whatever count a driver claims, the dump never reaches past the 64-byte buffer.
TEST_F(Ps2Ops, OversizedCountsAreShownOnlyAsFarAsTheBuffer) {
  auto d = add_wedge(kVidedu);
  dopen(0);
  for (std::uint32_t claimed : {64u, 65u, 4096u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(claimed);
    d->probe = {true, claimed, 0};
    d->writes = {{true, claimed, 0}};
    start_log();
    EXPECT_EQ(t8042(), claimed);
    EXPECT_EQ(wmr(), claimed);
    std::string text = ps2_log();
    // Two dumps of 64 items, each in eight rows.
    std::size_t items = 0;
    for (std::size_t p = 0; (p = text.find("  ", p)) != std::string::npos; p += 2) ++items;
    EXPECT_EQ(items, 2u * (64 - 8));  // "  " joins neighbours within a row
    EXPECT_NE(text.find(" 38  39  3a  3b  3c  3d  3e  3f \n"), std::string::npos) << text;
    EXPECT_EQ(text.find(" 40 "), std::string::npos) << text;
    log_close();
  }
}

TEST_F(Ps2Ops, WmrSendsTheBaseBlockInOrder) {
  auto d = add_wedge(kVidedu);
  dopen(0);
  blk() = SettingsBlock{0x46, 0x19, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x56, 0xAA, 0xBB};
  wmr();
  ASSERT_EQ(d->ioctls.size(), 2u);
  const ps2test::IoctlCall& c = d->ioctls[1];
  EXPECT_EQ(c.code, 0x80FF0024u);
  EXPECT_EQ(c.in_size, 8u);
  EXPECT_EQ(c.out_size, 64u);
  EXPECT_TRUE(c.in_is_out && c.in_is_io);
  EXPECT_EQ(c.in, (std::vector<unsigned char>{0x46, 0x19, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x56}));
}

struct WmrCase {
  const char* name;
  Answer answer;
  std::uint32_t result;
};

class WmrRule : public ps2test::Ps2Test, public ::testing::WithParamInterface<WmrCase> {};

TEST_P(WmrRule, CountsOnlyASuccessWithTwentyBytesOrMore) {
  auto d = add_wedge(kVidedu);
  dopen(0);
  d->writes = {GetParam().answer};
  EXPECT_EQ(wmr(), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Replies, WmrRule,
                         ::testing::Values(WmrCase{"Twenty", {true, 20, 0}, 20},
                                           WmrCase{"Nineteen", {true, 19, 0}, 0},
                                           WmrCase{"Full", {true, 64, 0}, 64},
                                           WmrCase{"Nothing", {true, 0, 0}, 0},
                                           WmrCase{"FailedWithTwenty", {false, 20, 31}, 0},
                                           WmrCase{"Failed", {false, 0, 31}, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ps2Ops, WmrLogsItsCallAndReply) {
  auto d = add_wedge(kVidedu);
  dopen(0);
  d->writes = {{false, 17, 0x48f}};
  start_log();
  wmr();
  EXPECT_EQ(ps2_log(), std::string(" wmr()=0, br=17, lerr=48f \n") + kRows17);
}

// --- tchctl ---

TEST_F(Ps2Ops, TchctlOn9xDoesNothing) {
  add_touch();
  g_ps2.win95_f = 1;
  start_log();
  EXPECT_EQ(tchctl(), 3);
  EXPECT_TRUE(fos.calls.empty());
  EXPECT_EQ(ps2_log(), "");
}

TEST_F(Ps2Ops, TchctlWithoutTheTouchDriver) {
  start_log();
  EXPECT_EQ(tchctl(), 1);
  EXPECT_EQ(ps2_log(), " rozivadu.sys Open Failed! lerr=2 \n");
  EXPECT_EQ(fos.clip_cursor_releases, 0);
}

TEST_F(Ps2Ops, TchctlOpenRefusedLogsTheErrorInHex) {
  auto t = add_touch();
  t->open_error = 0x20;  // ERROR_SHARING_VIOLATION
  start_log();
  EXPECT_EQ(tchctl(), 1);
  EXPECT_EQ(ps2_log(), " rozivadu.sys Open Failed! lerr=20 \n");
}

TEST_F(Ps2Ops, TchctlFailedCallKeepsTheCursorClipped) {
  auto t = add_touch();
  t->reply = {false, 0, 0x1f};
  start_log();
  EXPECT_EQ(tchctl(), 2);
  EXPECT_EQ(ps2_log(), " f0054 Ioctl Failed! lerr=1f \n");
  EXPECT_EQ(fos.clip_cursor_releases, 0);
  EXPECT_EQ(t->closes, 1);
  EXPECT_EQ(fos.open_handles(), 0);
}

TEST_F(Ps2Ops, TchctlSuccessReleasesTheCursor) {
  auto t = add_touch();
  start_log();
  EXPECT_EQ(tchctl(), 0);
  EXPECT_EQ(ps2_log(), "");
  EXPECT_EQ(fos.clip_cursor_releases, 1);
  EXPECT_EQ(t->closes, 1);
  // The cursor is released after the driver is closed.
  std::vector<std::string> tail(fos.calls.end() - 2, fos.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"CloseHandle", "ClipCursorRelease"}));
}

TEST_F(Ps2Ops, TchctlSendsTwoKilobyteBuffersOfZeros) {
  auto t = add_touch();
  tchctl();
  ASSERT_EQ(t->ioctls.size(), 1u);
  const ps2test::IoctlCall& c = t->ioctls[0];
  EXPECT_EQ(c.code, 0x000F0054u);
  EXPECT_EQ(c.in_size, 1024u);
  EXPECT_EQ(c.out_size, 1024u);
  EXPECT_FALSE(c.in_is_out);
  EXPECT_EQ(c.in, std::vector<unsigned char>(1024, 0));
  ASSERT_EQ(t->open_requests.size(), 1u);
  const fake::Device::OpenRequest& r = t->open_requests[0];
  EXPECT_EQ(r.access, 0x80000000u);  // GENERIC_READ
  EXPECT_EQ(r.share, 1u);            // FILE_SHARE_READ
  EXPECT_EQ(r.disposition, 3u);
  EXPECT_EQ(r.flags, 0u);
  EXPECT_FALSE(r.has_security);
}

}  // namespace
}  // namespace msr
