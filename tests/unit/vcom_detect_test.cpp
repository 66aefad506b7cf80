// vCOM detection and programming: which ports are probed in which order, what a found
// reader gives the block, what a write sends, and what setcom reports.
#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "tests/unit/vcom_devices.h"
#include "transport/vcom/vcom.h"

namespace msr {
namespace {

using namespace vcomtest;

using RegValues = std::vector<std::pair<std::string, std::optional<std::string>>>;

std::vector<int> down(int from, int to) {
  std::vector<int> v;
  for (int n = from; n >= to; --n) v.push_back(n);
  return v;
}

class VcomTest : public fake::FakeOsTest {
 protected:
  std::shared_ptr<Reader> add_reader(int port) {
    auto r = std::make_shared<Reader>();
    fos.add_device(com_path(port), r);
    return r;
  }
  void list_ports(const std::vector<int>& ports) {
    RegValues v;
    for (int p : ports)
      v.emplace_back("\\Device\\Serial" + std::to_string(p), "COM" + std::to_string(p));
    fos.serialcomm = v;
  }
  // After every probe: nothing left open, every slot empty.
  void expect_all_released() {
    EXPECT_EQ(fos.open_handles(), 0);
    for (int n = 0; n < kComSlots; ++n) ASSERT_EQ(g_vcom.hComTab[n], invalid_handle()) << n;
  }
};

struct ProbeCase {
  const char* what;
  std::int32_t cport;
  std::optional<RegValues> key;
  std::vector<int> readers;
  std::vector<int> expected_opens;
  std::string found;  // cportStr after a read
};

class Probe : public VcomTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(Probe, GoesFromTheHighestPortDownAndStopsAtTheFirstAnswer) {
  const ProbeCase& c = GetParam();
  fos.serialcomm = c.key;
  for (int p : c.readers) add_reader(p);
  g_shell.cport = c.cport;
  g_vcom.hComTab[3] = reinterpret_cast<Handle>(0x77);  // stale slots are reset
  EXPECT_EQ(chkcom(0), 0);
  EXPECT_EQ(ports_opened(fos), c.expected_opens);
  EXPECT_STREQ(g_vcom.cportStr, c.found.c_str());
  expect_all_released();
}

RegValues com(std::initializer_list<const char*> names) {
  RegValues v;
  int i = 0;
  for (const char* n : names) v.emplace_back("\\Device\\Serial" + std::to_string(i++), n);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, Probe,
    ::testing::Values(ProbeCase{"listed3and12", 0, com({"COM3", "COM12"}), {}, down(12, 1), ""},
                      ProbeCase{"missingkey", 0, std::nullopt, {}, down(17, 1), ""},
                      ProbeCase{"emptykey", 0, RegValues{}, {}, {}, ""},
                      ProbeCase{"readers4and9", 0, com({"COM4", "COM9"}), {4, 9}, {9}, "9"},
                      ProbeCase{"reader4below12", 0, com({"COM4", "COM12"}), {4}, down(12, 4), "4"},
                      ProbeCase{"cport5only", 5, com({"COM9"}), {9}, {5}, ""},
                      ProbeCase{"cport5reader", 5, com({"COM9"}), {5, 9}, {5}, "5"},
                      ProbeCase{"cport298", 298, RegValues{}, {298}, {298}, "298"},
                      ProbeCase{"cport299", 299, com({"COM9"}), {9}, {}, ""},
                      ProbeCase{"cportminus1", -1, com({"COM9"}), {9}, {}, ""},
                      ProbeCase{"cportmax", INT_MAX, com({"COM9"}), {9}, {}, ""},
                      ProbeCase{"cportmin", INT_MIN, com({"COM9"}), {9}, {}, ""},
                      ProbeCase{"listedabove298", 0, com({"COM400"}), {1}, down(298, 1), "1"},
                      ProbeCase{
                          "listedhuge", 0, com({"COM99999999999"}), {250}, down(298, 250), "250"},
                      ProbeCase{"listednegative", 0, com({"COM-5"}), {1}, {}, ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(VcomTest, UsbSetMeansNothingIsProbed) {
  add_reader(5);
  g_shell.usb = 1;
  blk().mr7 = 0x21;
  EXPECT_EQ(chkcom(0), 1);
  EXPECT_TRUE(ports_opened(fos).empty());
  EXPECT_EQ(blk().mr7, 0x21);  // not even cleared
}

TEST_F(VcomTest, SkippedPortsAreClosedAndTheNextLowerIsTried) {
  list_ports({9});
  auto silent = fos.add_device(com_path(9), std::make_shared<ScriptedPort>());
  auto noline = fos.add_device(com_path(8));
  noline->modem_status = 0;
  auto short_reply = std::make_shared<ScriptedPort>();
  short_reply->read_script = {{true, Bytes(8, 0x11)}};
  fos.add_device(com_path(7), short_reply);
  auto vanished = std::make_shared<ScriptedPort>();  // unplugged after it opened
  vanished->write_script = {{false, 0u}};
  vanished->read_script = {{false, {}}};
  fos.add_device(com_path(6), vanished);
  auto failing_read = std::make_shared<ScriptedPort>();
  failing_read->read_script = {{false, Bytes(16, 0x11)}};
  fos.add_device(com_path(5), failing_read);
  auto r = add_reader(4);
  EXPECT_EQ(chkcom(0), 0);
  EXPECT_EQ(ports_opened(fos), down(9, 4));
  EXPECT_STREQ(g_vcom.cportStr, "4");
  for (auto d : {silent, noline, std::shared_ptr<fake::Device>(short_reply),
                 std::shared_ptr<fake::Device>(vanished),
                 std::shared_ptr<fake::Device>(failing_read), std::shared_ptr<fake::Device>(r)}) {
    EXPECT_EQ(d->opens, 1);
    EXPECT_EQ(d->closes, 1);
  }
  expect_all_released();
}

TEST_F(VcomTest, ReadTakesTheRecordAndAsksBothQueries) {
  list_ports({3});
  auto r = add_reader(3);
  r->settings = {0x86, 0x3A, 'A', 'B', 'C', 'D', 0x07, 0x13, 0x91, 0xEE, 0xEE};
  r->jis_reply = {0x04, 0x4A, 0, 0, 0};
  r->cif_reply = {0x04, 0x46, 0, 0, 0};
  blk().kq2 = 0x42;
  EXPECT_EQ(chkcom(0), 0);
  const SettingsBlock& b = blk();
  EXPECT_EQ(Bytes({b.p2j, b.mr1, b.mr2, b.mr3, b.mr4, b.mr5, b.mr6, b.mr7, b.kq1}),
            Bytes(r->settings.begin(), r->settings.begin() + 9));
  EXPECT_EQ(b.kq2, 0x42);  // bytes past the record are not taken
  EXPECT_EQ(r->writes, std::vector<Bytes>({kSettingsReadCommand, kJis2Query, kCifQuery}));
  EXPECT_EQ(g_shell.jis, 1);
  EXPECT_EQ(g_shell.cif, 1);
  ASSERT_EQ(r->timeouts_set.size(), 2u);  // settimeout ran on the port
  expect_all_released();
}

TEST_F(VcomTest, ReadClearsTheFirmwareByteWhenNoReaderAnswers) {
  list_ports({2});
  blk().mr7 = 0x13;
  chkcom(0);
  EXPECT_EQ(blk().mr7, 0);
}

TEST_F(VcomTest, AReplyClaimingMoreThanAskedIsHeldToTheBuffer) {
  list_ports({2});
  auto p = std::make_shared<ScriptedPort>();
  Bytes reply{0x46, 0x08, '%', ';', ';', '?', 0, 0x19, 0x01, 1, 2, 3, 4, 5, 6, 7};
  p->read_script = {
      {true, reply, 0xFFFFFFFFu}, {true, reply, 0xFFFFFFFFu}, {true, reply, 0xFFFFFFFFu}};
  fos.add_device(com_path(2), p);
  EXPECT_EQ(chkcom(0), 0);
  EXPECT_EQ(blk().mr7, 0x19);
  EXPECT_EQ(blk().kq1, 0x01);
  expect_all_released();
}

struct WriteCase {
  const char* what;
  int cif;
  std::uint8_t kq1;
  bool reset;
};

class Write : public VcomTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(Write, SendsTheBlockAndTheResetOnlyForTheKeyboardInterface) {
  const WriteCase& c = GetParam();
  list_ports({6});
  auto r = add_reader(6);
  r->settings = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // the probe's reply is not what is written
  g_shell.cif = c.cif;
  SettingsBlock& b = blk();
  b = {0x46, 0x39, '#', '$', '&', '!', 0x05, 0x22, c.kq1, 0x33};
  EXPECT_EQ(chkcom(1), 0);
  std::vector<Bytes> wire{kSettingsReadCommand,
                          {0x1D, 0x4D, 0x52, 0xB2, 0x46, 0x39, '#', '$', '&', '!', 0x05, c.kq1}};
  if (c.reset) wire.push_back(kResetCommand);
  EXPECT_EQ(r->writes, wire);
  EXPECT_EQ(b.mr7, 0x22);  // a write doesn't touch the block
  EXPECT_STREQ(g_vcom.cportStr, "");
  expect_all_released();
}

INSTANTIATE_TEST_SUITE_P(Interfaces, Write,
                         ::testing::Values(WriteCase{"cifkeyboard", 1, 0x00, true},
                                           WriteCase{"cifkeyboardotherbits", 1, 0xF2, true},
                                           WriteCase{"cifvcom", 1, 0x01, false},
                                           WriteCase{"cifvcomotherbits", 1, 0x81, false},
                                           WriteCase{"nocifkeyboard", 0, 0x00, false},
                                           WriteCase{"nocifvcom", 0, 0x01, false}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(VcomTest, FailedWritesAreNotRetried) {
  list_ports({6});
  auto p = std::make_shared<ScriptedPort>();
  p->read_script = {{true, Bytes(9, 0x30)}};
  p->write_script = {{true}, {false, 0u}, {false, 0u}};
  fos.add_device(com_path(6), p);
  g_shell.cif = 1;
  EXPECT_EQ(chkcom(1), 0);
  // The read command and the settings write once each; no reset after a write that failed.
  EXPECT_EQ(p->writes.size(), 2u);
  EXPECT_EQ(g_vcom.last_write, ComWrite::not_sent);
  expect_all_released();
}

// After a read, a write goes only to the port read, and only while the reader there gives
// the record it gave; each settings read first drops what waits on the line.
TEST_F(VcomTest, WriteAfterReadGoesOnlyToThePortReadAsRead) {
  list_ports({5, 7});
  auto com7 = std::make_shared<ScriptedPort>(), com5 = std::make_shared<ScriptedPort>();
  com7->read_script = {{true, Bytes(9, 0x30)}};  // the read, then nothing
  com5->read_script = {{true, Bytes(9, 0x30)}};
  fos.add_device(com_path(7), com7);
  fos.add_device(com_path(5), com5);
  EXPECT_EQ(chkcom(0), 0);
  EXPECT_EQ(chkcom(1), 0);
  EXPECT_EQ(g_vcom.last_write, ComWrite::no_answer);
  EXPECT_TRUE(com5->writes.empty());
  com7->read_script = {{true, Bytes(9, 0x31)}};  // back, but answering differently
  EXPECT_EQ(chkcom(1), 0);
  EXPECT_EQ(g_vcom.last_write, ComWrite::answers_differently);
  EXPECT_EQ(com7->writes.size(), 5u);  // three settings reads and two queries: no write
  EXPECT_EQ(std::count(com7->purge_flags.begin(), com7->purge_flags.end(), w32::kPurgeRxClear), 3);
  expect_all_released();
}

struct SetcomCase {
  const char* what;
  int mode;
  bool reader;      // a reader on COM7
  std::uint8_t fw;  // its firmware byte
  std::uint8_t mr7_before;
  int nofail, usb;
  int expected;
  std::string status;
  int vcom;
};

class Setcom : public VcomTest, public ::testing::WithParamInterface<SetcomCase> {};

TEST_P(Setcom, ReportsFromTheFirmwareByte) {
  const SetcomCase& c = GetParam();
  list_ports({7});
  if (c.reader) add_reader(7)->settings[7] = c.fw;
  blk().mr7 = c.mr7_before;
  g_shell.nofail = c.nofail;
  g_shell.usb = c.usb;
  EXPECT_EQ(setcom(c.mode), c.expected);
  EXPECT_EQ(g_shell.status, c.status);
  EXPECT_EQ(g_shell.vcom, c.vcom);
  expect_all_released();
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Setcom,
    ::testing::Values(SetcomCase{"found", 0, true, 0x13, 0, 0, 0, 0, "USB  vCOM7  MSR", 1},
                      SetcomCase{"none", 0, false, 0, 0x13, 0, 0, 1, " No MSR", 0},
                      SetcomCase{"nonenofail", 0, false, 0, 0x13, 1, 0, 0, " No MSR", 0},
                      // A reader whose firmware byte is 0 can't be told from no reader.
                      SetcomCase{"zerofirmware", 0, true, 0x00, 0, 0, 0, 1, " No MSR", 0},
                      SetcomCase{"zerofirmwarenofail", 0, true, 0x00, 0, 1, 0, 0, " No MSR", 0},
                      // A write keeps the firmware byte it finds, whoever answers.
                      SetcomCase{"writeknown", 1, false, 0, 0x13, 0, 0, 0, "USB  vCOM  MSR", 1},
                      SetcomCase{"writeunknown", 1, true, 0x13, 0, 0, 0, 1, " No MSR", 0},
                      SetcomCase{"writeunknownnofail", 1, true, 0x13, 0, 1, 0, 0, " No MSR", 0},
                      SetcomCase{"usbknown", 0, true, 0x13, 0x21, 0, 1, 0, "USB  vCOM  MSR", 1},
                      SetcomCase{"usbunknown", 0, true, 0x13, 0, 0, 1, 1, " No MSR", 0}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(VcomTest, ZeroFirmwareReaderStillGivesItsSettingsAndIsAskedBothQueries) {
  list_ports({7});
  auto r = add_reader(7);
  r->settings = {0x46, 0x08, '%', ';', ';', '?', 0x00, 0x00, 0x01};
  EXPECT_EQ(setcom(0), 1);
  EXPECT_EQ(blk().p2j, 0x46);
  EXPECT_EQ(blk().mr6, 0x00);
  EXPECT_EQ(blk().kq1, 0x01);
  EXPECT_EQ(r->writes, std::vector<Bytes>({kSettingsReadCommand, kJis2Query, kCifQuery}));
}

TEST_F(VcomTest, WriteAfterReadNamesThePortOfTheRead) {
  list_ports({7});
  add_reader(7);
  ASSERT_EQ(setcom(0), 0);
  EXPECT_EQ(setcom(1), 0);
  EXPECT_EQ(g_shell.status, "USB  vCOM7  MSR");
  EXPECT_EQ(ports_opened(fos), std::vector<int>({7, 7}));  // found afresh
}

TEST_F(VcomTest, SetcomFlushesTheLogAfterItsExitLine) {
  enable_log();
  log_open();
  fos.serialcomm = RegValues{};
  setcom(0);
  // Read straight from the file: what setcom wrote is there without a flush from here.
  std::string text = fos.read_file("C:\\msr.log").value_or("");
  std::string tail =
      " in setcom, mode=0, tm=1796613021 \n"
      " in chkcom at 1796613021, cport=0 \n"
      " open serialcomm=1 \n"
      " out setcom at 1796613021 \n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(VcomTest, ReadOnOnePortLogsEveryStep) {
  enable_log();
  log_open();
  std::size_t header = log_text().size();
  g_shell.cport = 5;
  auto r = add_reader(5);
  r->settings = {0x46, 0x08, '%', ';', ';', '?', 0x00, 0x13, 0x00};
  r->jis_reply = {0x04, 0x4A, 0, 0, 0};
  r->cif_reply = {0x04, 0x00, 0, 0, 0};
  setcom(0);
  std::string h = ptr_text(reinterpret_cast<Handle>(0x100));  // the fake's first handle
  std::string expected =
      " in setcom, mode=0, tm=1796613021 \n"
      " in chkcom at 1796613021, cport=5 \n"
      " hCom=" +
      h +
      ", port=\\\\.\\COM5, lerr=0, tm=1796613021 \n"
      " getcs=1, dcb.baud=9600 \n"
      " getms=1, ms=30 \n"
      " in settimeout, hCom=" +
      h +
      ", tm=1796613021 \n"
      " GetCommTimeouts()=1,  0,0,0,0,0 \n"
      " SetCommTimeouts()=1,0 \n"
      " PurgeComm()=1 \n"
      " SetCommTimeouts(1)=1,0 \n"
      " GetCommTimeouts()=1,  20,200,1,200,1, lerr=0 \n"
      " out settimeout at 1796613021 \n"
      " in wrcom, mode=0, hcom=" +
      h +
      ", tm=1796613021 \n"
      " wf( 4,\x1dMR\xb3 )=1, nbw=4, lerr=0 \n"
      " rf( 16,F\x08%;;? )=1, nbw=9, lerr=0 \n" +
      dump(r->settings) + " in getjis2, hcom=" + h +
      ", tm=1796613021 \n"
      " wf( 5,\x1dMR\xd0\x12,18 )=1, nbw=5, lerr=0 \n"
      " rf( 16,\x04J )=1, nbw=5, lerr=0 \n" +
      dump(r->jis_reply) + " in getcif, hcom=" + h +
      ", tm=1796613021 \n"
      " wf( 5,\x1dMR\xd0\x13,19 )=1, nbw=5, lerr=0 \n"
      " rf( 16,\x04 )=1, nbw=5, lerr=0 \n" +
      dump(r->cif_reply) + " out setcom at 1796613021 \n";
  EXPECT_EQ(log_text().substr(header), expected);
}

}  // namespace
}  // namespace msr
