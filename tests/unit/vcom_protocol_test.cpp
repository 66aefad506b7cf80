// The serial configuration commands: return codes, bytes on the wire, the reply buffer
// and the log lines with their dumps.
#include <memory>
#include <string>
#include <vector>

#include "common/flags.h"
#include "common/log.h"
#include "tests/unit/vcom_devices.h"
#include "transport/vcom/protocol.h"

namespace msr {
namespace {

using namespace vcomtest;

const Bytes kData{0x46, 0x39, '%', ';', ';', '?', 0x05, 0x81};  // p2j, mr1..mr6, kq1
Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Opens a scripted port on COM1 and hands out its handle.
class ProtocolTest : public fake::FakeOsTest {
 protected:
  void SetUp() override {
    fake::FakeOsTest::SetUp();
    port = std::make_shared<ScriptedPort>();
    fos.add_device(com_path(1), port);
    h = fos.CreateFileA(com_path(1).c_str(), 0, 0, nullptr, 3, 0, nullptr);
  }
  void TearDown() override {
    fos.CloseHandle(h);
    fake::FakeOsTest::TearDown();
  }
  std::shared_ptr<ScriptedPort> port;
  Handle h = nullptr;
};

struct WrcomCase {
  const char* what;
  int mode;
  std::vector<WriteStep> writes_script;
  std::vector<ReadStep> reads_script;
  int cif = 0, usb = 0;
  bool invalid = false;
  int expected;
  std::vector<Bytes> wire;
  int reads;
  std::vector<std::uint32_t> sleeps;
};

class Wrcom : public ProtocolTest, public ::testing::WithParamInterface<WrcomCase> {};

TEST_P(Wrcom, ReturnsItsCodeAndSendsItsBytes) {
  const WrcomCase& c = GetParam();
  port->write_script.assign(c.writes_script.begin(), c.writes_script.end());
  port->read_script.assign(c.reads_script.begin(), c.reads_script.end());
  g_shell.cif = c.cif;
  g_shell.usb = c.usb;
  unsigned char buffer[32] = {};
  std::copy(kData.begin(), kData.end(), buffer);
  if (c.mode == 2) std::copy(kResetCommand.begin(), kResetCommand.end(), buffer);
  EXPECT_EQ(wrcom(c.mode, c.invalid ? invalid_handle() : h, buffer), c.expected);
  EXPECT_EQ(port->writes, c.wire);
  EXPECT_EQ(port->reads, c.reads);
  EXPECT_EQ(fos.sleeps, c.sleeps);
}

const Bytes k9{0x46, 0x08, '%', ';', ';', '?', 0, 0x13, 0};
const Bytes k16(16, 0x55);
const std::vector<Bytes> kRead{kSettingsReadCommand};
const std::vector<Bytes> kWrite{concat({0x1D, 0x4D, 0x52, 0xB2}, kData)};
const std::vector<Bytes> kReset{kResetCommand};

INSTANTIATE_TEST_SUITE_P(
    Rows, Wrcom,
    ::testing::Values(
        // mode 0: settings read
        WrcomCase{"read9", 0, {}, {{true, k9}}, 0, 0, false, 0, kRead, 1, {100}},
        WrcomCase{"read16", 0, {}, {{true, k16}}, 0, 0, false, 0, kRead, 1, {100}},
        WrcomCase{"read8",
                  0,
                  {},
                  {{true, Bytes(k9.begin(), k9.end() - 1)}},
                  0,
                  0,
                  false,
                  2,
                  kRead,
                  1,
                  {100}},
        WrcomCase{"readnothing", 0, {}, {}, 0, 0, false, 2, kRead, 1, {100}},
        WrcomCase{"readfails", 0, {}, {{false, k9}}, 0, 0, false, 2, kRead, 1, {100}},
        WrcomCase{"readclaimsmore", 0, {}, {{true, k16, 4000}}, 0, 0, false, 0, kRead, 1, {100}},
        WrcomCase{"readwritefails", 0, {{false}}, {}, 0, 0, false, 1, kRead, 0, {}},
        WrcomCase{"readwriteshort", 0, {{true, 3}}, {}, 0, 0, false, 1, kRead, 0, {}},
        WrcomCase{"readwritelong", 0, {{true, 5}}, {}, 0, 0, false, 1, kRead, 0, {}},
        // mode 1: settings write, no reply read, no pause
        WrcomCase{"write", 1, {}, {}, 0, 0, false, 0, kWrite, 0, {}},
        WrcomCase{"writefails", 1, {{false}}, {}, 0, 0, false, 3, kWrite, 0, {}},
        WrcomCase{"writeshort", 1, {{true, 11}}, {}, 0, 0, false, 3, kWrite, 0, {}},
        WrcomCase{"writelong", 1, {{true, 13}}, {}, 0, 0, false, 0, kWrite, 0, {}},
        // mode 2: reset, only with cif
        WrcomCase{"reset", 2, {}, {}, 1, 0, false, 0, kReset, 0, {}},
        WrcomCase{"resetnocif", 2, {}, {}, 0, 0, false, 0, {}, 0, {}},
        WrcomCase{"resetfails", 2, {{false}}, {}, 1, 0, false, 4, kReset, 0, {}},
        WrcomCase{"resetshort", 2, {{true, 4}}, {}, 1, 0, false, 4, kReset, 0, {}},
        // other modes send nothing
        WrcomCase{"mode3", 3, {}, {}, 1, 0, false, 0, {}, 0, {}},
        WrcomCase{"modeminus1", -1, {}, {}, 1, 0, false, 0, {}, 0, {}},
        // refused
        WrcomCase{"usbread", 0, {}, {}, 1, 1, false, 4, {}, 0, {}},
        WrcomCase{"usbwrite", 1, {}, {}, 1, 1, false, 4, {}, 0, {}},
        WrcomCase{"usbreset", 2, {}, {}, 1, 1, false, 4, {}, 0, {}},
        WrcomCase{"usbother", 7, {}, {}, 1, 1, false, 4, {}, 0, {}},
        WrcomCase{"invalidread", 0, {}, {}, 1, 0, true, 4, {}, 0, {}},
        WrcomCase{"invalidwrite", 1, {}, {}, 1, 0, true, 4, {}, 0, {}}),
    [](const auto& info) { return std::string(info.param.what); });

struct QueryCase {
  const char* what;
  bool cif_query;  // getcif, else getjis2
  std::vector<WriteStep> writes_script;
  std::vector<ReadStep> reads_script;
  int flag_before;
  int usb = 0;
  bool invalid = false;
  int expected;
  int flag_after;
  int reads;
};

class Query : public ProtocolTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(Query, ReturnsItsCodeAndSetsItsFlagOnlyOnAMatch) {
  const QueryCase& c = GetParam();
  port->write_script.assign(c.writes_script.begin(), c.writes_script.end());
  port->read_script.assign(c.reads_script.begin(), c.reads_script.end());
  g_shell.usb = c.usb;
  std::int32_t& flag = c.cif_query ? g_shell.cif : g_shell.jis;
  std::int32_t& other = c.cif_query ? g_shell.jis : g_shell.cif;
  flag = c.flag_before;
  unsigned char buffer[32] = {};
  Handle target = c.invalid ? invalid_handle() : h;
  EXPECT_EQ(c.cif_query ? getcif(target, buffer) : getjis2(target, buffer), c.expected);
  EXPECT_EQ(flag, c.flag_after);
  EXPECT_EQ(other, 0);
  std::vector<Bytes> wire;
  if (!c.usb && !c.invalid) wire.push_back(c.cif_query ? kCifQuery : kJis2Query);
  EXPECT_EQ(port->writes, wire);
  EXPECT_EQ(port->reads, c.reads);
  EXPECT_TRUE(fos.sleeps.empty());  // the reply is read at once
}

const Bytes kJ{0x04, 0x4A, 0, 0, 0}, kF{0x04, 0x46, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Rows, Query,
    ::testing::Values(
        QueryCase{"jis", false, {}, {{true, kJ}}, 0, 0, false, 0, 1, 1},
        QueryCase{"jisgetsf", false, {}, {{true, kF}}, 0, 0, false, 0, 0, 1},
        QueryCase{"jiskeepsflag", false, {}, {{true, kF}}, 1, 0, false, 0, 1, 1},
        QueryCase{"jis16claimsmore",
                  false,
                  {},
                  {{true, concat(kJ, Bytes(11, 1)), 999}},
                  0,
                  0,
                  false,
                  0,
                  1,
                  1},
        QueryCase{"jiswrong0", false, {}, {{true, {0x05, 0x4A, 0, 0, 0}}}, 0, 0, false, 0, 0, 1},
        QueryCase{"jisshort", false, {}, {{true, {0x04, 0x4A, 0, 0}}}, 0, 0, false, 2, 0, 1},
        QueryCase{"jisreadfails", false, {}, {{false, kJ}}, 0, 0, false, 2, 0, 1},
        QueryCase{"jiswritefails", false, {{false}}, {}, 0, 0, false, 1, 0, 0},
        QueryCase{"jiswrite4", false, {{true, 4}}, {}, 0, 0, false, 1, 0, 0},
        QueryCase{"jiswrite6", false, {{true, 6}}, {}, 0, 0, false, 1, 0, 0},
        QueryCase{"jisusb", false, {}, {{true, kJ}}, 0, 1, false, 4, 0, 0},
        QueryCase{"jisinvalid", false, {}, {{true, kJ}}, 0, 0, true, 4, 0, 0},
        QueryCase{"cif", true, {}, {{true, kF}}, 0, 0, false, 0, 1, 1},
        QueryCase{"cifgetsj", true, {}, {{true, kJ}}, 0, 0, false, 0, 0, 1},
        QueryCase{"cifshort", true, {}, {{true, {0x04, 0x46, 0, 0}}}, 0, 0, false, 2, 0, 1},
        QueryCase{"cifnothing", true, {}, {}, 0, 0, false, 2, 0, 1},
        QueryCase{"cifwritefails", true, {{false}}, {}, 0, 0, false, 1, 0, 0},
        QueryCase{"cifusb", true, {}, {}, 1, 1, false, 4, 1, 0},
        QueryCase{"cifinvalid", true, {}, {}, 0, 0, true, 4, 0, 0}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ProtocolTest, OnlyTheFirst16BytesAreZeroedBeforeEachRead) {
  port->read_script = {{true, k9}, {true, kJ}};
  unsigned char buffer[32];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  ASSERT_EQ(wrcom(0, h, buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 9), k9);
  EXPECT_EQ(Bytes(buffer + 9, buffer + 16), Bytes(7, 0));
  EXPECT_EQ(Bytes(buffer + 16, buffer + 32), Bytes(16, 0xEE));
  ASSERT_EQ(getjis2(h, buffer), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 16), concat(kJ, Bytes(11, 0)));
  EXPECT_EQ(Bytes(buffer + 16, buffer + 32), Bytes(16, 0xEE));
}

// Log lines, word for word.
class ProtocolLog : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    enable_log();
    log_open();
    header = log_text().size();
  }
  std::string written() { return log_text().substr(header); }
  std::string hp() { return ptr_text(h); }
  std::size_t header = 0;
};

TEST_F(ProtocolLog, SettingsReadWithItsReplyDump) {
  Bytes reply{0x46, 0x08, '%', 0x00, ';', '?', 0x02, 0x13, 0x81};  // zero ends the text
  port->read_script = {{true, reply}};
  unsigned char buffer[32] = {};
  wrcom(0, h, buffer);
  EXPECT_EQ(written(), " in wrcom, mode=0, hcom=" + hp() +
                           ", tm=1796613021 \n"
                           " wf( 4,\x1dMR\xb3 )=1, nbw=4, lerr=0 \n"
                           " rf( 16,F\x08% )=1, nbw=9, lerr=0 \n" +
                           dump(reply));
}

TEST_F(ProtocolLog, ReplyTextNeverRunsPastSixteenBytes) {
  port->read_script = {{true, Bytes(20, 'A'), 4000}};
  unsigned char buffer[32];
  std::fill(std::begin(buffer), std::end(buffer), 'B');
  wrcom(0, h, buffer);
  EXPECT_EQ(written(), " in wrcom, mode=0, hcom=" + hp() +
                           ", tm=1796613021 \n"
                           " wf( 4,\x1dMR\xb3 )=1, nbw=4, lerr=0 \n"
                           " rf( 16," +
                           std::string(16, 'A') + " )=1, nbw=4000, lerr=0 \n" +
                           dump(Bytes(16, 'A')));
}

TEST_F(ProtocolLog, EmptyReplyHasNoDumpRows) {
  unsigned char buffer[32] = {};
  wrcom(0, h, buffer);
  EXPECT_EQ(written(), " in wrcom, mode=0, hcom=" + hp() +
                           ", tm=1796613021 \n"
                           " wf( 4,\x1dMR\xb3 )=1, nbw=4, lerr=0 \n"
                           " rf( 16, )=1, nbw=0, lerr=0 \n");
}

TEST_F(ProtocolLog, SettingsWriteDumpsTheCommandFirst) {
  unsigned char buffer[32] = {0x46, 0x08, '%', ';', 0x00, '?', 0x02, 0x81};
  wrcom(1, h, buffer);
  Bytes command{0x1D, 0x4D, 0x52, 0xB2, 0x46, 0x08, '%', ';', 0x00, '?', 0x02, 0x81};
  EXPECT_EQ(written(), " in wrcom, mode=1, hcom=" + hp() + ", tm=1796613021 \n" + dump(command) +
                           " wf( 12,\x1dMR\xb2"
                           "F\x08%; )=1, nbw=12, lerr=0 \n");
}

TEST_F(ProtocolLog, ResetDumpsTwelveBufferBytes) {
  g_shell.cif = 1;
  unsigned char buffer[32] = {0x1D, 0x4D, 0x52, 0xFF, 0xAA};
  wrcom(2, h, buffer);
  EXPECT_EQ(written(), " in wrcom, mode=2, hcom=" + hp() + ", tm=1796613021 \n" +
                           dump(concat(kResetCommand, Bytes(7, 0))) +
                           " reset( 5 )=1, nbw=5, lerr=0 \n");
}

TEST_F(ProtocolLog, ResetWithoutCifWritesOnlyTheEntryLine) {
  unsigned char buffer[32] = {0x1D, 0x4D, 0x52, 0xFF, 0xAA};
  wrcom(2, h, buffer);
  EXPECT_EQ(written(), " in wrcom, mode=2, hcom=" + hp() + ", tm=1796613021 \n");
}

TEST_F(ProtocolLog, QueriesLogTheirArgumentAsSignedDecimal) {
  port->read_script = {{true, kJ}, {true, {0x04, 0x46, 0x01, 0x02, 0x03, 0x04}}};
  unsigned char buffer[32] = {};
  getjis2(h, buffer);
  getcif(h, buffer);
  EXPECT_EQ(written(), " in getjis2, hcom=" + hp() +
                           ", tm=1796613021 \n"
                           " wf( 5,\x1dMR\xd0\x12,18 )=1, nbw=5, lerr=0 \n"
                           " rf( 16,\x04J )=1, nbw=5, lerr=0 \n" +
                           dump(kJ) + " in getcif, hcom=" + hp() +
                           ", tm=1796613021 \n"
                           " wf( 5,\x1dMR\xd0\x13,19 )=1, nbw=5, lerr=0 \n"
                           " rf( 16,\x04"
                           "F\x01\x02\x03\x04 )=1, nbw=6, lerr=0 \n" +
                           dump({0x04, 0x46, 0x01, 0x02, 0x03, 0x04}));
}

TEST_F(ProtocolLog, RefusedOperationsWriteOnlyTheirEntryLine) {
  g_shell.usb = 1;
  unsigned char buffer[32] = {};
  wrcom(0, h, buffer);
  getjis2(invalid_handle(), buffer);
  EXPECT_EQ(written(), " in wrcom, mode=0, hcom=" + hp() +
                           ", tm=1796613021 \n"
                           " in getjis2, hcom=" +
                           ptr_text(invalid_handle()) + ", tm=1796613021 \n");
}

TEST_F(ProtocolTest, NothingIsLoggedWhileTheLogIsOff) {
  port->read_script = {{true, k9}};
  unsigned char buffer[32] = {};
  EXPECT_EQ(wrcom(0, h, buffer), 0);
  EXPECT_FALSE(log_on());
  EXPECT_FALSE(fos.read_file("C:\\msr.log").has_value());
}

}  // namespace
}  // namespace msr
