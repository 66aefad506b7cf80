// msrprofile's device commands against the fake OS: which exit code when, what is
// compared, what reaches the reader (nothing for a bad file), the firmware byte and the
// interface switch.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>

#include "msrprofile/cli.h"
#include "msrprofile/reader/reader.h"
#include "tests/unit/ps2_fake_drivers.h"
#include "tests/unit/usb_fake_library.h"
#include "tests/unit/vcom_devices.h"

namespace msr::profile {
namespace {

using usbtest::bytes;

// p2j mr1..mr7 kq1..kq7 as the USB reader below holds them: kq1 80h (keyboard
// interface), kq2 02h.
const std::string kHeld("\x46\x08%;;?\x00\x13\x80\x02\0\0\0\0\0", 15);

class Device : public usbtest::UsbTest {
 public:
  // What the table rows below set up.
  using FakeOsTest::fos;
  using UsbTest::lib;

 protected:
  void SetUp() override {
    UsbTest::SetUp();
    usb_holds(kHeld);
    lib.get1_reply = bytes({0, 0xA0, 0x80, 0x02});
  }
  void usb_holds(const std::string& b) {
    lib.get_reply = bytes({});
    for (int i = 0; i < 8; ++i) lib.get_reply[1 + i] = static_cast<unsigned char>(b[i]);
  }

 public:
  // A vCOM reader on COM5, the only port the registry lists.
  std::shared_ptr<vcomtest::Reader> vcom_reader() {
    fos.serialcomm = {{{"\\Device\\Serial0", "COM5"}}};
    auto r = std::make_shared<vcomtest::Reader>();
    fos.add_device(vcomtest::com_path(5), r);
    return r;
  }
  std::string file(const std::string& name, const std::string& content) {
    fos.write_file("C:\\" + name, content);
    return fos.host_path("C:\\" + name);
  }
  Host host;

 protected:
  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "msrprofile");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    out.str(""), err.str("");
    return profile::run(static_cast<int>(argv.size()), argv.data(), out, err, host);
  }
  std::ostringstream out, err;
};

struct ExitCase {
  const char* what;
  std::function<void(Device&)> setup;
  std::vector<std::string> transport;
  int exit;
  const char* says;  // on standard error, or on standard output for 0 and 1
  std::string file = kHeld;
};

// kHeld with kq2 at its default, which vCOM can't read.
const std::string kVcomHeld("\x46\x08%;;?\x00\x13\x80\0\0\0\0\0\0", 15);

class VerifyExit : public Device, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(VerifyExit, TellsSameDiffersNoReaderAndFailure) {
  const ExitCase& c = GetParam();
  c.setup(*this);
  std::vector<std::string> args = {"verify", file("held.ini", c.file)};
  args.insert(args.end(), c.transport.begin(), c.transport.end());
  EXPECT_EQ(run(args), c.exit);
  EXPECT_NE((out.str() + err.str()).find(c.says), std::string::npos) << out.str() << err.str();
  EXPECT_TRUE(fos.message_boxes.empty());
}

const std::vector<std::string> kUsb = {"--usb"}, kVcom = {"--vcom"};

INSTANTIATE_TEST_SUITE_P(
    Rows, VerifyExit,
    ::testing::Values(
        ExitCase{"usb same", [](Device&) {}, kUsb, 0, "holds the configuration"},
        ExitCase{"usb differs", [](Device& d) { d.lib.get_reply[2] = 0x18; }, kUsb, 1,
                 "send_lrc: intended false, found true"},
        ExitCase{"no hid.dll",
                 [](Device& d) {
                   std::remove(d.fos.host_path("C:\\windows\\system32\\hid.dll").c_str());
                 },
                 kUsb, 2, "hid.dll is missing"},
        ExitCase{"no doziv.dll", [](Device& d) { d.fos.libraries.clear(); }, kUsb, 2, "doziv.dll"},
        ExitCase{"openusb fails", [](Device& d) { d.lib.open = 2; }, kUsb, 2, "OpenUSB failed"},
        ExitCase{"getmrstate fails", [](Device& d) { d.lib.get = 5; }, kUsb, 4, "GetMrState"},
        ExitCase{"vcom same", [](Device& d) { d.vcom_reader()->settings[8] = 0x80; }, kVcom, 0,
                 "on COM5", kVcomHeld},
        ExitCase{"vcom can't show kq2", [](Device& d) { d.vcom_reader()->settings[8] = 0x80; },
                 kVcom, 1,
                 "keyboard_language: intended \"German\", not read back (a virtual COM port reads "
                 "the base block and kq1)"},
        ExitCase{"vcom differs", [](Device& d) { d.vcom_reader()->settings[4] = '?'; }, kVcom, 1,
                 "leading_code_track3: intended \";\", found \"?\"", kVcomHeld},
        ExitCase{"no port answers", [](Device& d) { d.vcom_reader()->settings.resize(8); }, kVcom,
                 2, "no reader answered on any serial port"},
        ExitCase{"firmware byte 0", [](Device& d) { d.vcom_reader()->settings[7] = 0; }, kVcom, 4,
                 "firmware byte of 0"},
        ExitCase{"linux usb", [](Device& d) { d.host.windows = false; }, kUsb, 2,
                 "Windows library"}),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(Device, VcomComparesTheBaseBlockAndKq1AndNeverTheFirmware) {
  auto r = vcom_reader();
  r->settings[7] = 0x20;  // firmware
  r->settings[8] = 0x80;
  // kq2 (the language) and kq3 are set, but vCOM can't read them: not known to be held.
  std::string wanted = kHeld;
  wanted[9] = 0x05, wanted[10] = 0x33;
  EXPECT_EQ(run({"verify", file("w.ini", wanted), "--vcom"}), kExitDiffers) << err.str();
  // A check sends nothing but the read command and the queries, twice: two reads must agree.
  const std::vector<vcomtest::Bytes> read{vcomtest::kSettingsReadCommand, vcomtest::kJis2Query,
                                          vcomtest::kCifQuery};
  std::vector<vcomtest::Bytes> twice = read;
  twice.insert(twice.end(), read.begin(), read.end());
  EXPECT_EQ(r->writes, twice);
  EXPECT_NE(out.str().find("2 options differ\nnot checked (a virtual COM port reads the base "
                           "block and kq1): host_os, send_ascii, kq2_other_bits, kq4"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(run({"verify", file("w.ini", wanted), "--vcom", "--json"}), kExitDiffers);
  EXPECT_NE(out.str().find("\"name\": \"kq3\",\n      \"field\": \"kq3\""), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("\"found\": null,\n      \"why\": \"not read back"), std::string::npos);
}

TEST_F(Device, ABadFileSendsNothingToAnyReader) {
  vcom_reader();
  const std::string bad = file("bad.toml", "send_lrc = 3\n");
  for (const char* transport : {"--usb", "--vcom", "--ps2"}) {
    EXPECT_EQ(run({"write", bad, transport}), kExitBadInput) << transport;
    EXPECT_NE(err.str().find("bad.toml:1:12: key \"send_lrc\""), std::string::npos) << err.str();
  }
  EXPECT_TRUE(fos.libraries_loaded.empty());
  for (const std::string& call : fos.calls) EXPECT_EQ(call.find("CreateFileA"), std::string::npos);
}

TEST_F(Device, UsbWriteSendsBackTheReadersFirmwareAndReadsBack) {
  // The file says firmware 0 and send_lrc; the reader (fixed reply) still has it off.
  std::string wanted = kHeld;
  wanted[1] = 0x18, wanted[7] = 0x00;
  EXPECT_EQ(run({"write", file("w.ini", wanted), "--usb"}), kExitDiffers);
  const auto writes = lib.named("SetMrStateBuf");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].in[1], 0x18);
  EXPECT_EQ(writes[0].in[7], 0x13);
  ASSERT_EQ(lib.named("SetMrState1").size(), 1u);
  EXPECT_EQ(lib.named("SetMrState1")[0].in, bytes({0, 0xB8, 0x80, 0x02}));
  EXPECT_NE(out.str().find("firmware: the reader keeps its own 0x13; the file's 0x00 is not sent"),
            std::string::npos);
  EXPECT_NE(out.str().find("send_lrc: intended true, found false"), std::string::npos);
  EXPECT_EQ(lib.named("GetMrState").size(), 2u);  // before and after
}

TEST_F(Device, AUsbReaderWithoutTheExtendedBlockGetsOnlyTheBaseBlock) {
  lib.get1_reply = bytes({0, 0x00, 0x77, 0x66});
  EXPECT_EQ(run({"write", file("w.ini", kHeld), "--usb"}), kExitDiffers) << out.str() << err.str();
  EXPECT_TRUE(lib.named("SetMrState1").empty());
  EXPECT_NE(out.str().find("kq1..kq7: not written"), std::string::npos);
  EXPECT_EQ(run({"read", "--usb", "--json"}), kExitOk);
  EXPECT_NE(out.str().find("\"bytes\": \"4608253b3b3f00130000"), std::string::npos) << out.str();
  EXPECT_NE(
      err.str().find("kq1..kq7 could not be read (this USB HID reader has no extended block)"),
      std::string::npos);
}

TEST_F(Device, AWriteThatSwitchesTheInterfaceIsNotReadBackOnTheOldOne) {
  lib.rtvs_reply[19] = bytes({'F', 'C', 'O', 'M'});  // the reader can switch
  std::string to_vcom = kHeld;
  to_vcom[8] = 0x81;
  EXPECT_EQ(run({"write", file("w.ini", to_vcom), "--usb"}), kExitOk) << err.str();
  const auto set1 = lib.named("SetMrState1");
  ASSERT_EQ(set1.size(), 2u);
  EXPECT_EQ(set1[1].in, bytes({0, 0xFF, 0xAA}));
  EXPECT_EQ(lib.named("GetMrState").size(), 1u);
  EXPECT_NE(out.str().find("read it back with: msrprofile verify " + fos.host_path("C:\\w.ini") +
                           " --vcom"),
            std::string::npos);

  auto r = vcom_reader();
  r->cif_reply = {0x04, 'F', 0, 0, 0};
  EXPECT_EQ(run({"write", file("w.ini", kHeld), "--vcom=5"}), kExitOk) << err.str();
  EXPECT_EQ(r->writes.back(), vcomtest::kResetCommand);
  EXPECT_NE(out.str().find(" --usb\n"), std::string::npos) << out.str();
}

TEST_F(Device, VcomWriteGoesToThePortItReadAndLeavesTheFirmwareOut) {
  auto r = vcom_reader();
  r->settings[8] = 0x80;
  std::string wanted = kHeld;
  wanted[6] = 0x02;
  EXPECT_EQ(run({"write", file("w.ini", wanted), "--port", "\\\\.\\com5"}), kExitDiffers);
  const vcomtest::Bytes record = {0x1D, 0x4D, 0x52, 0xB2, 0x46, 0x08,
                                  '%',  ';',  ';',  '?',  0x02, 0x80};
  EXPECT_EQ(std::count(r->writes.begin(), r->writes.end(), record), 1);
  EXPECT_NE(out.str().find("inter_character_delay: intended 2, found 0"), std::string::npos);
}

// A vCOM reader that falls silent once the commands it took so far say so.
struct Fading : vcomtest::Reader {
  explicit Fading(std::function<bool(const std::vector<vcomtest::Bytes>&)> silent)
      : silent(std::move(silent)) {}
  bool read(void* b, std::uint32_t n, std::uint32_t* got) override {
    if (silent(writes)) return *got = 0, true;
    return Reader::read(b, n, got);
  }
  std::function<bool(const std::vector<vcomtest::Bytes>&)> silent;
};

// How many of the commands taken so far are `command` (its fourth byte).
std::size_t taken(const std::vector<vcomtest::Bytes>& writes, unsigned char command) {
  return static_cast<std::size_t>(std::count_if(
      writes.begin(), writes.end(), [&](const auto& w) { return w.size() > 3 && w[3] == command; }));
}

TEST_F(Device, AReaderThatStopsAnsweringDuringAWriteExitsFour) {
  lib.set_buf = 5;
  EXPECT_EQ(run({"write", file("w.ini", kHeld), "--usb"}), kExitReaderFailed);
  EXPECT_NE(err.str().find("did not take the new settings"), std::string::npos);
  // A vCOM reader that falls silent once it has been written: it took the write.
  fos.serialcomm = {{{"\\Device\\Serial0", "COM5"}}};
  fos.add_device(vcomtest::com_path(5), std::make_shared<Fading>([](const auto& w) { return taken(w, 0xB2) > 0; }));
  EXPECT_EQ(run({"write", file("w.ini", kHeld), "--vcom"}), kExitReaderFailed);
  EXPECT_NE(err.str().find("did not answer the read-back"), std::string::npos) << err.str();
}

TEST_F(Device, NoWroteWhenTheReaderFallsSilentBeforeTheWrite) {
  fos.serialcomm = {{{"\\Device\\Serial0", "COM5"}}};
  // Answers the reads that find it, then not the one before the write.
  auto r = std::make_shared<Fading>([](const auto& w) { return taken(w, 0xB3) > 2; });
  fos.add_device(vcomtest::com_path(5), r);
  EXPECT_EQ(run({"write", file("w.ini", kHeld), "--vcom"}), kExitReaderFailed);
  EXPECT_EQ(out.str().find("wrote"), std::string::npos) << out.str();
  EXPECT_NE(err.str().find("COM5 did not answer, so nothing was written"), std::string::npos);
  EXPECT_EQ(taken(r->writes, 0xB2), 0u);
}

struct Ps2Case {
  bool driver;
  std::uint32_t reply;  // bytes each write attempt answers
  int exit;
};

class Ps2Write : public Device, public ::testing::WithParamInterface<Ps2Case> {};

TEST_P(Ps2Write, SendsTheFilesBaseBlockAndSaysWhatCameOfIt) {
  auto wedge = std::make_shared<ps2test::WedgeDriver>(&fos);
  wedge->writes = {{true, GetParam().reply, 0}};
  if (GetParam().driver) fos.add_device(ps2test::kVidedu, wedge);
  EXPECT_EQ(run({"write", file("w.ini", kHeld), "--ps2"}), GetParam().exit);
  EXPECT_EQ(wedge->count(0x80FF0024u), GetParam().driver ? (GetParam().exit == 0 ? 1u : 3u) : 0u);
  if (GetParam().exit == 0) {
    EXPECT_EQ(wedge->ioctls.back().in,
              std::vector<unsigned char>(kHeld.begin(), kHeld.begin() + 8));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, Ps2Write,
                         ::testing::Values(Ps2Case{true, 20, 0}, Ps2Case{true, 19, 4},
                                           Ps2Case{false, 20, 2}));

TEST_F(Device, TransportsACommandCantUseAreUsageErrors) {
  const std::string f = file("w.ini", kHeld);
  const std::vector<std::vector<std::string>> rows = {
      {"read", "--ps2"},
      {"verify", f, "--ps2"},
      {"verify", f},
      {"read", "--usb", "--vcom"},
      {"verify", f, "--vcom=299"},
      {"verify", f, "--port", "COM0"},
      {"read", "--port", "LPT1"},
      {"read", "--usb", "--profile", "-o", "x.ini"}};
  for (const auto& args : rows) EXPECT_EQ(run(args), kExitUsage) << ::testing::PrintToString(args);
  host.windows = false;
  EXPECT_EQ(run({"read", "--vcom=3"}), kExitUsage);
  EXPECT_TRUE(fos.libraries_loaded.empty());
  EXPECT_EQ(fos.open_handles(), 0);
}

// A device names itself: a line break or an escape sequence in its texts must neither
// split its line nor reach the terminal as such.
TEST_F(Device, PortsShowsADevicesControlCharactersAsCodes) {
  host.windows = false;
  host.list_ports = [](std::vector<SerialPortInfo>* ports, std::string*) {
    ports->push_back(
        {"/dev/ttyACM0", "x", PortTransport::usb, 0x0ABC, 0x21, "", "Card\n\x1b[2Jreader", ""});
    return true;
  };
  EXPECT_EQ(run({"ports"}), kExitOk);
  EXPECT_EQ(out.str(), "/dev/ttyACM0  usb  0abc:0021  Card\\x0a\\x1b[2Jreader  (x)\n");
}

}  // namespace
}  // namespace msr::profile
