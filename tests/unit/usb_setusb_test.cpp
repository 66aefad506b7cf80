// setusb: the hid.dll check, loading and binding doziv.dll, the base-block read with its
// capability replies, the write, the working status and the result, and the log.
#include "transport/usb/usb.h"

#include <string>
#include <vector>

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "tests/unit/usb_fake_library.h"

namespace msr {
namespace {

using usbtest::Buffer;
using usbtest::bytes;
using usbtest::P;
using usbtest::FakeDoziv;
using usbtest::UsbTest;

// --- failures: one row per condition, each run with nofail clear and set and with usb
// clear and set beforehand ---

enum class After { unchanged, set, cleared };

struct FailureRow {
  const char* name;
  int mode;
  void (*arrange)(fake::FakeOs&, usbtest::FakeDoziv&);
  const char* status;  // the status text afterwards; nullptr: unchanged
  After usb;           // nofail clear
  int result;          // nofail clear
  After usb_nofail;
  int result_nofail;
};

void drop(fake::FakeOs& fos, std::initializer_list<const char*> names) {
  for (const char* n : names) fos.libraries[FakeDoziv::installed_path(fos)].erase(n);
}

class SetusbFailures : public UsbTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(SetusbFailures, StatusTextUsbAndResult) {
  const FailureRow& row = GetParam();
  row.arrange(fos, lib);
  for (int nofail : {0, 1}) {
    for (int usb_before : {0, 1}) {
      SCOPED_TRACE("nofail=" + std::to_string(nofail) + " usb=" + std::to_string(usb_before));
      g_shell.nofail = nofail;
      g_shell.usb = usb_before;
      g_shell.status = "vCOM MSR";
      const std::size_t boxes = fos.message_boxes.size();

      const int result = setusb(row.mode);

      EXPECT_EQ(result, nofail ? row.result_nofail : row.result);
      const After after = nofail ? row.usb_nofail : row.usb;
      const int usb_expected = after == After::unchanged ? usb_before : after == After::set;
      EXPECT_EQ(g_shell.usb, usb_expected);
      EXPECT_EQ(g_shell.status, row.status != nullptr ? row.status : "vCOM MSR");
      // The only box is the missing hid.dll's, and never with nofail.
      const bool box = row.result == 2 && !nofail;
      EXPECT_EQ(fos.message_boxes.size() - boxes, box ? 1u : 0u);
      // Whatever happened, a library that was loaded has been released.
      EXPECT_EQ(fos.loaded_modules(), 0);
    }
  }
}

void nothing(fake::FakeOs&, usbtest::FakeDoziv&) {}

INSTANTIATE_TEST_SUITE_P(Usb, SetusbFailures,
                         ::testing::Values(
                             FailureRow{
                                 "HidMissing", 0,
                                 [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                                   std::remove(
                                       f.host_path("C:\\windows\\system32\\hid.dll").c_str());
                                 },
                                 nullptr, After::unchanged, 2, After::unchanged, 0},
                             FailureRow{
                                 "LibraryDoesNotLoad", 0,
                                 [](fake::FakeOs& f, usbtest::FakeDoziv&) { f.libraries.clear(); },
                                 nullptr, After::unchanged, 9, After::set, 0},
                             FailureRow{
                                 "NoOpenUSB", 0,
                                 [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"OpenUSB"}); },
                                 nullptr, After::unchanged, 9, After::set, 0},
                             FailureRow{
                                 "NoSetID", 0,
                                 [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"SetID"}); },
                                 nullptr, After::unchanged, 9, After::set, 0},
                             FailureRow{"OpenUSBFails", 0,
                                        [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.open = 5; },
                                        "NO USB MSR", After::cleared, 9, After::set, 0},
                             // A read that took no settings is no success, whatever CloseUSB says.
                             FailureRow{"NoGetMrState", 0,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                                          drop(f, {"GetMrState"});
                                        },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"GetMrStateFails", 0,
                                        [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.get = 3; },
                                        "USB HID", After::set, 9, After::set, 0},
                             // The capability replies are extras: without them the read still
                             // stands.
                             FailureRow{"NoRetrieveStatistics", 0,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                                          drop(f, {"RetrieveStatistics"});
                                        },
                                        "USB HID", After::set, 0, After::set, 0},
                             FailureRow{"NoRetrieveStatisticsCloseFails", 0,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv& l) {
                                          drop(f, {"RetrieveStatistics"});
                                          l.close = 4;
                                        },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"RetrieveStatisticsFail", 0,
                                        [](fake::FakeOs&, usbtest::FakeDoziv& l) {
                                          l.rtvs = {{8, 1}, {18, 2}, {19, 3}};
                                        },
                                        "USB HID", After::set, 0, After::set, 0},
                             FailureRow{"SetMrStateBufFails", 1,
                                        [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.set_buf = 6; },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"SetMrStateFails", 1,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv& l) {
                                          drop(f, {"SetMrStateBuf"});
                                          l.set = 6;
                                        },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"NoWriteEntry", 1,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                                          drop(f, {"SetMrStateBuf", "SetMrState"});
                                        },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"OnlySetMrState", 1,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                                          drop(f, {"SetMrStateBuf"});
                                        },
                                        "USB HID", After::set, 0, After::set, 0},
                             FailureRow{"NoCloseUSBReadOk", 0,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                                          drop(f, {"CloseUSB"});
                                        },
                                        "USB HID", After::set, 0, After::set, 0},
                             // Without CloseUSB the last stored status decides: here the last
                             // reply's.
                             FailureRow{"NoCloseUSBLastReplyFails", 0,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv& l) {
                                          drop(f, {"CloseUSB"});
                                          l.rtvs = {{19, 7}};
                                        },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"NoCloseUSBEarlierReplyFails", 0,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv& l) {
                                          drop(f, {"CloseUSB"});
                                          l.rtvs = {{8, 7}, {18, 7}};
                                        },
                                        "USB HID", After::set, 0, After::set, 0},
                             FailureRow{"NoCloseUSBWriteOk", 1,
                                        [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                                          drop(f, {"CloseUSB"});
                                        },
                                        "USB HID", After::set, 0, After::set, 0},
                             FailureRow{"CloseUSBFailsRead", 0,
                                        [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.close = 8; },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"CloseUSBFailsWrite", 1,
                                        [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.close = 8; },
                                        "USB HID", After::set, 9, After::set, 0},
                             FailureRow{"GoodRead", 0, nothing, "USB HID", After::set, 0,
                                        After::set, 0},
                             FailureRow{"GoodWrite", 1, nothing, "USB HID", After::set, 0,
                                        After::set, 0}),
                         [](const ::testing::TestParamInfo<FailureRow>& info) {
                           return info.param.name;
                         });

class SetusbTest : public UsbTest {};

TEST_F(SetusbTest, MissingHidShowsItsBoxWithTheApplicationCaption) {
  std::remove(fos.host_path(kHidPath).c_str());
  enable_log();
  log_open();
  EXPECT_EQ(setusb(0), 2);
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].owner, nullptr);
  EXPECT_EQ(fos.message_boxes[0].text, "Can't find hid.dll");
  EXPECT_EQ(fos.message_boxes[0].caption, "ZOV ORU VAZ Izove Duro");
  EXPECT_EQ(fos.message_boxes[0].type, w32::kMbOk);
  EXPECT_EQ(loads(), 0);
  EXPECT_EQ(log_from(" in setusb at"),
            " in setusb at 1796613021, mode=0 \n"
            " in setusb, HIDpath=C:\\windows\\system32\\hid.dll, 19 \n"
            " can't find hid.dll \n");
}

// --- where hid.dll is looked for ---

struct HidRow {
  const char* name;
  void (*arrange)(fake::FakeOs&);
  std::vector<std::string> looked_at;
  bool present;
  const char* log_line;
};

class HidCheck : public UsbTest, public ::testing::WithParamInterface<HidRow> {};

TEST_P(HidCheck, PathsTriedInOrder) {
  const HidRow& row = GetParam();
  std::remove(fos.host_path(kHidPath).c_str());
  row.arrange(fos);
  enable_log();
  log_open();
  const int result = setusb(0);
  std::vector<std::string> looked_at;
  for (const std::string& c : calls_starting("GetFileAttributesA(")) {
    looked_at.push_back(c.substr(19, c.size() - 20));
  }
  EXPECT_EQ(looked_at, row.looked_at);
  EXPECT_EQ(result, row.present ? 0 : 2);
  EXPECT_EQ(loads(), row.present ? 1 : 0);
  EXPECT_NE(log_text().find(row.log_line), std::string::npos) << log_text();
}

// 259 characters, in folders short enough for the host's file system.
const std::string kLongDir =
    "C:\\" + std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\" + std::string(54, 'c');

INSTANTIATE_TEST_SUITE_P(
    Usb, HidCheck,
    ::testing::Values(
        HidRow{"SystemDirectory",
               [](fake::FakeOs& f) { f.write_file("C:\\windows\\system32\\hid.dll", ""); },
               {"C:\\windows\\system32\\hid.dll"},
               true,
               " in setusb, HIDpath=C:\\windows\\system32\\hid.dll, 19 \n"},
        // The fixed paths are not looked at while the query works.
        HidRow{"SystemDirectoryOnly",
               [](fake::FakeOs& f) {
                 f.write_file("c:\\windows\\system\\hid.dll", "");
                 f.write_file("c:\\winnt\\system32\\hid.dll", "");
               },
               {"C:\\windows\\system32\\hid.dll"},
               false,
               " in setusb, HIDpath=C:\\windows\\system32\\hid.dll, 19 \n"},
        HidRow{"QueryFailsFirstFixedPath",
               [](fake::FakeOs& f) {
                 f.system_dir_fails = true;
                 f.write_file("c:\\windows\\system\\hid.dll", "");
               },
               {"c:\\windows\\system\\hid.dll"},
               true,
               " in setusb, HIDpath=, 0 \n"},
        HidRow{"QueryFailsSecondFixedPath",
               [](fake::FakeOs& f) {
                 f.system_dir_fails = true;
                 f.write_file("c:\\winnt\\system32\\hid.dll", "");
               },
               {"c:\\windows\\system\\hid.dll", "c:\\winnt\\system32\\hid.dll"},
               true,
               " in setusb, HIDpath=, 0 \n"},
        HidRow{"QueryFailsNowhere",
               [](fake::FakeOs& f) { f.system_dir_fails = true; },
               {"c:\\windows\\system\\hid.dll", "c:\\winnt\\system32\\hid.dll"},
               false,
               " in setusb, HIDpath=, 0 \n"},
        // A directory too long for the buffer: the query copied nothing.
        HidRow{"QueryNeedsMoreThanTheBuffer",
               [](fake::FakeOs& f) {
                 f.system_dir_result = 300;
                 f.write_file("C:\\windows\\system32\\hid.dll", "");
                 f.write_file("c:\\winnt\\system32\\hid.dll", "");
               },
               {"c:\\windows\\system\\hid.dll", "c:\\winnt\\system32\\hid.dll"},
               true,
               " in setusb, HIDpath=, 300 \n"},
        HidRow{"QueryNeedsExactlyTheBuffer",
               [](fake::FakeOs& f) {
                 f.system_dir_result = 260;
                 f.write_file("C:\\windows\\system32\\hid.dll", "");
               },
               {"c:\\windows\\system\\hid.dll", "c:\\winnt\\system32\\hid.dll"},
               false,
               " in setusb, HIDpath=, 260 \n"},
        // The longest directory that fits, with the name appended past the buffer's size.
        HidRow{"LongestDirectory",
               [](fake::FakeOs& f) {
                 f.system_dir = kLongDir;
                 f.write_file(kLongDir + "\\hid.dll", "");
               },
               {kLongDir + "\\hid.dll"},
               true,
               ", 259 \n"}),
    [](const ::testing::TestParamInfo<HidRow>& info) { return info.param.name; });

// --- loading and binding ---

// doziv.dll is looked for by full path only: the program's folder, the system folder,
// the Windows folder. The fake's loader searches a bare name as Windows does (current
// directory included), so a bare-name load would show here.
struct LoadRow {
  const char* name;
  const char* installed;  // where doziv.dll is; "" for the program's folder
  bool module_name_fails;
  std::vector<std::string> attempts;
  bool loads;
};

class SetusbLoad : public UsbTest, public ::testing::WithParamInterface<LoadRow> {};

TEST_P(SetusbLoad, TriesFullPathsInOrderAndLogsTheLastAttempt) {
  const LoadRow& row = GetParam();
  if (*row.installed != '\0') {
    fos.libraries[row.installed] = fos.libraries[FakeDoziv::installed_path(fos)];
    fos.libraries.erase(FakeDoziv::installed_path(fos));
  }
  if (row.module_name_fails) fos.module_file_name.clear();
  enable_log();
  log_open();
  EXPECT_EQ(setusb(0), row.loads ? 0 : 9);
  EXPECT_EQ(fos.libraries_loaded, row.attempts);
  const std::string line = " LoadLibrary( doziv.dll )=" +
                           P(row.loads ? reinterpret_cast<void*>(0x100) : nullptr) +
                           (row.loads ? ", lerr=0 \n" : ", lerr=126 \n");
  EXPECT_NE(log_text().find(line), std::string::npos) << log_text();
  EXPECT_EQ(fos.loaded_modules(), 0);
}

const std::string kBeside = "C:\\Program Files\\msr\\doziv.dll";
const std::string kSystem = "C:\\windows\\system32\\doziv.dll";
const std::string kWindows = "C:\\windows\\doziv.dll";

INSTANTIATE_TEST_SUITE_P(
    Usb, SetusbLoad,
    ::testing::Values(
        LoadRow{"BesideTheProgram", "", false, {kBeside}, true},
        LoadRow{"InTheSystemFolder", "C:\\WINDOWS\\System32\\doziv.dll", false,
                {kBeside, kSystem}, true},
        LoadRow{"InTheWindowsFolder", "C:\\windows\\doziv.dll", false,
                {kBeside, kSystem, kWindows}, true},
        LoadRow{"OnlyInTheCurrentDirectoryIsNeverLoaded", "C:\\work\\doziv.dll", false,
                {kBeside, kSystem, kWindows}, false},
        LoadRow{"ProgramPathUnknown", "C:\\windows\\doziv.dll", true, {kSystem, kWindows},
                true}),
    [](const ::testing::TestParamInfo<LoadRow>& info) { return info.param.name; });

// GetModuleFileNameA truncates a long path without a terminator (XP): the folder is
// asked for again with room enough, never cut short.
TEST_F(SetusbTest, ProgramFolderBeyondTheClassicPathLength) {
  const std::string dir = "C:\\" + std::string(300, 'd');
  fos.libraries[dir + "\\doziv.dll"] = fos.libraries[FakeDoziv::installed_path(fos)];
  fos.module_file_name = dir + "\\msrsetup.exe";
  EXPECT_EQ(setusb(0), 0);
  EXPECT_EQ(fos.libraries_loaded, std::vector<std::string>{dir + "\\doziv.dll"});
}

TEST_F(SetusbTest, ReadCallsInOrderWithTheirArguments) {
  EXPECT_EQ(setusb(0), 0);
  EXPECT_EQ(lib.names(),
            (std::vector<std::string>{"SetID", "OpenUSB", "GetMrState", "RetrieveStatistics",
                                      "RetrieveStatistics", "RetrieveStatistics", "CloseUSB"}));
  EXPECT_EQ(lib.calls[0].args, (std::vector<std::int32_t>{0x2911, 0x1500, 0}));
  auto rtvs = lib.named("RetrieveStatistics");
  EXPECT_EQ(rtvs[0].args, (std::vector<std::int32_t>{8, 25}));
  EXPECT_EQ(rtvs[1].args, (std::vector<std::int32_t>{18, 25}));
  EXPECT_EQ(rtvs[2].args, (std::vector<std::int32_t>{19, 25}));
  EXPECT_EQ(fos.libraries_freed, 1);
}

TEST_F(SetusbTest, StatusTextNamesUsbBeforeTheReaderOpens) {
  g_shell.status = "vCOM MSR";
  setusb(0);
  EXPECT_EQ(lib.named("SetID")[0].status_text, "USB HID");
  EXPECT_EQ(lib.named("OpenUSB")[0].status_text, "USB HID");
}

TEST_F(SetusbTest, FailedOpenSkipsTransferAndClose) {
  lib.open = 1;
  setusb(1);
  EXPECT_EQ(lib.names(), (std::vector<std::string>{"SetID", "OpenUSB"}));
  EXPECT_EQ(fos.libraries_freed, 1);
}

// --- the read ---

TEST_F(SetusbTest, ReadTakesBytesOneToEightOfTheReply) {
  lib.get_reply = bytes({0xEE, 0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x13, 0x77});
  for (std::size_t i = 16; i < 32; ++i) lib.get_reply[i] = 0x55;  // the library's business
  ASSERT_EQ(setusb(0), 0);
  const SettingsBlock& b = blk();
  EXPECT_EQ(std::vector<int>({b.p2j, b.mr1, b.mr2, b.mr3, b.mr4, b.mr5, b.mr6, b.mr7}),
            std::vector<int>({0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x13}));
  EXPECT_EQ(b.kq1, 0);  // the extended block is not the base read's
  const Buffer in = lib.named("GetMrState")[0].in;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(in[i], 0) << i;
}

TEST_F(SetusbTest, FailedReadKeepsTheBlockAndAsksNoCapabilities) {
  blk().p2j = 0x11;
  blk().mr7 = 0x22;
  lib.get = 3;
  lib.get_reply = bytes({0, 0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x13});
  EXPECT_EQ(setusb(0), 9);
  EXPECT_EQ(blk().p2j, 0x11);
  EXPECT_EQ(blk().mr7, 0x22);
  EXPECT_EQ(lib.named("RetrieveStatistics").size(), 0u);
  EXPECT_EQ(g_shell.jis, 0);
  EXPECT_EQ(g_shell.cif, 0);
  EXPECT_EQ(lib.names().back(), "CloseUSB");
}

TEST_F(SetusbTest, EachReplyBufferIsClearedBeforeItsCall) {
  Buffer junk;
  junk.fill(0xEE);
  lib.get_reply = junk;
  lib.rtvs_reply = {{8, junk}, {18, junk}, {19, junk}};
  setusb(0);
  for (const auto& call : lib.named("RetrieveStatistics")) {
    for (int i = 0; i < 25; ++i) EXPECT_EQ(call.in[i], 0) << call.args[0] << " byte " << i;
  }
}

// One row per reply: which statistic, the reply's first bytes, its status, and what
// the read makes of it.
struct ReplyRow {
  const char* name;
  std::int32_t index;
  Buffer reply;
  std::int32_t status;
  int jis, cif;
};

class CapabilityReplies : public UsbTest, public ::testing::WithParamInterface<ReplyRow> {};

TEST_P(CapabilityReplies, SetJisAndCif) {
  const ReplyRow& row = GetParam();
  lib.rtvs_reply[row.index] = row.reply;
  lib.rtvs[row.index] = row.status;
  EXPECT_EQ(setusb(0), 0);
  EXPECT_EQ(g_shell.jis, row.jis);
  EXPECT_EQ(g_shell.cif, row.cif);
}

INSTANTIATE_TEST_SUITE_P(
    Usb, CapabilityReplies,
    ::testing::Values(ReplyRow{"Version11Zero", 8, bytes({'1', '.', '1', 0}), 0, 1, 0},
                      ReplyRow{"Version10Blank", 8, bytes({'1', '.', '0', ' '}), 0, 1, 0},
                      ReplyRow{"Version10Zero", 8, bytes({'1', '.', '0', 0, 'x'}), 0, 1, 0},
                      ReplyRow{"Version110", 8, bytes({'1', '.', '1', '0'}), 0, 0, 0},
                      ReplyRow{"Version12", 8, bytes({'1', '.', '2', 0}), 0, 0, 0},
                      ReplyRow{"Version21", 8, bytes({'2', '.', '1', 0}), 0, 0, 0},
                      ReplyRow{"VersionComma", 8, bytes({'1', ',', '1', 0}), 0, 0, 0},
                      ReplyRow{"VersionTested WhateverTheStatus", 8, bytes({'1', '.', '1', 0}), 5,
                               1, 0},
                      ReplyRow{"JInByte0", 18, bytes({'J', 'I', 'S'}), 0, 1, 0},
                      ReplyRow{"JInByte1", 18, bytes({0x00, 'J'}), 0, 1, 0},
                      ReplyRow{"JInByte2", 18, bytes({'x', 'x', 'J'}), 0, 0, 0},
                      ReplyRow{"LowerJ", 18, bytes({'j', 'j'}), 0, 0, 0},
                      ReplyRow{"JTestedWhateverTheStatus", 18, bytes({'J'}), 9, 1, 0},
                      ReplyRow{"FOnVersionIsNothing", 8, bytes({'F', 'J'}), 0, 0, 0},
                      ReplyRow{"FInByte0", 19, bytes({'F'}), 0, 0, 1},
                      ReplyRow{"FInByte1", 19, bytes({'C', 'F'}), 0, 0, 1},
                      ReplyRow{"FInByte2", 19, bytes({'C', 'I', 'F'}), 0, 0, 0},
                      ReplyRow{"JOnCifIsNothing", 19, bytes({'J', 'J'}), 0, 0, 0},
                      ReplyRow{"FOnJisIsNothing", 18, bytes({'F', 'F'}), 0, 0, 0},
                      ReplyRow{"FTestedWhateverTheStatus", 19, bytes({'x', 'F'}), 2, 0, 1}),
    [](const ::testing::TestParamInfo<ReplyRow>& info) {
      std::string n = info.param.name;
      std::erase(n, ' ');
      return n;
    });

TEST_F(SetusbTest, CapabilityFlagsStaySet) {
  g_shell.jis = 1;
  g_shell.cif = 1;
  lib.rtvs_reply = {{8, bytes({'2', '.', '0', 0})}, {18, bytes({'N'})}, {19, bytes({'N'})}};
  EXPECT_EQ(setusb(0), 0);
  EXPECT_EQ(g_shell.jis, 1);
  EXPECT_EQ(g_shell.cif, 1);
}

// --- the write ---

TEST_F(SetusbTest, WriteSendsTheBlockAtOffsetsZeroToSeven) {
  SettingsBlock& b = blk();
  b = {0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x13, 0x81, 0x82, 1, 2, 3, 4, 5};
  EXPECT_EQ(setusb(1), 0);
  EXPECT_EQ(lib.names(),
            (std::vector<std::string>{"SetID", "OpenUSB", "SetMrStateBuf", "CloseUSB"}));
  const Buffer in = lib.named("SetMrStateBuf")[0].in;
  EXPECT_EQ(
      std::vector<int>(in.begin(), in.begin() + 16),
      std::vector<int>({0x46, 0x28, 0x25, 0x3F, 0x3B, 0x3B, 0x02, 0x13, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(SetusbTest, WriteWithoutSetMrStateBufCallsSetMrState) {
  enable_log();
  log_open();
  drop({"SetMrStateBuf"});
  EXPECT_EQ(setusb(1), 0);
  EXPECT_EQ(lib.names(), (std::vector<std::string>{"SetID", "OpenUSB", "SetMrState", "CloseUSB"}));
  const std::string log = log_text();
  EXPECT_NE(log.find(" GetProcAddress( SetMrStateBuf)=" + P(nullptr) +
                     " \n GetProcAddress( SetMrState)=" +
                     P(fos.libraries[FakeDoziv::installed_path(fos)]["SetMrState"]) + " \n SetMrState=0 \n"),
            std::string::npos)
      << log;
}

TEST_F(SetusbTest, WriteWithNeitherEntryLogs99) {
  enable_log();
  log_open();
  drop({"SetMrStateBuf", "SetMrState"});
  EXPECT_EQ(setusb(1), 9);
  EXPECT_NE(log_text().find(" SetMrState=99 \n"), std::string::npos);
  EXPECT_EQ(lib.names(), (std::vector<std::string>{"SetID", "OpenUSB", "CloseUSB"}));
}

TEST_F(SetusbTest, WriteResultLineIsFlushedBeforeCloseUSB) {
  enable_log();
  log_open();
  lib.set_buf = 6;
  setusb(1);
  EXPECT_NE(lib.named("CloseUSB")[0].log_on_disk.find(" SetMrState=6 \n"), std::string::npos);
}

// --- a failed read or write is not repaired by CloseUSB, and its log stays as it is ---

TEST_F(SetusbTest, FailedWriteStaysFailedAfterAGoodClose) {
  enable_log();
  log_open();
  lib.set_buf = 6;
  EXPECT_EQ(setusb(1), 9);
  EXPECT_NE(log_text().find(" SetMrState=6 \n GetProcAddress( CloseUSB)=" +
                            P(fos.libraries[FakeDoziv::installed_path(fos)]["CloseUSB"]) + " \n CloseUSB=0 \n"),
            std::string::npos);
  g_shell.nofail = 1;
  EXPECT_EQ(setusb(1), 0);
}

// --- the whole log of a read and of a write ---

TEST_F(SetusbTest, ReadLogLines) {
  enable_log();
  log_open();
  lib.get_reply = bytes({0, 0x46, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13});
  lib.rtvs_reply = {{8, bytes({'1', '.', '1', 0})}, {18, bytes({'J', '2'})}, {19, bytes({})}};
  lib.rtvs = {{19, -1}};
  ASSERT_EQ(setusb(0), 0);
  auto& e = fos.libraries[FakeDoziv::installed_path(fos)];
  Buffer get_seen = lib.get_reply;
  EXPECT_EQ(log_from(" in setusb at"),
            " in setusb at 1796613021, mode=0 \n"
            " in setusb, HIDpath=C:\\windows\\system32\\hid.dll, 19 \n"
            " LoadLibrary( doziv.dll )=" +
                P(reinterpret_cast<void*>(0x100)) +
                ", lerr=0 \n"
                " GetProcAddress( OpenUSB)=" +
                P(e["OpenUSB"]) + " \n GetProcAddress( SetID)=" + P(e["SetID"]) +
                " \n"
                " OpenUSB(500)=0 \n"
                " GetProcAddress( GetMrState)=" +
                P(e["GetMrState"]) + " \n GetMrState=0, rbuf= \n" + usbtest::dump(get_seen) +
                " GetProcAddress( RetrieveStatistics)=" + P(e["RetrieveStatistics"]) +
                " \n rtvs(8)=0, rbuf= \n" + usbtest::dump(lib.rtvs_reply[8]) +
                " rtvs(18)=0, rbuf= \n" + usbtest::dump(lib.rtvs_reply[18]) +
                " rtvs(19)=-1, rbuf= \n" + usbtest::dump(lib.rtvs_reply[19]) +
                " GetProcAddress( CloseUSB)=" + P(e["CloseUSB"]) + " \n CloseUSB=0 \n");
}

TEST_F(SetusbTest, DumpWritesZeroBytesAsThemselves) {
  enable_log();
  log_open();
  lib.get_reply = bytes({0, 'A', 0, 'B'});
  setusb(0);
  const std::string log = log_text();
  const std::string chars = std::string(" ") + '\0' + " A " + '\0' + " B";
  EXPECT_NE(log.find(" GetMrState=0, rbuf= \n 0 41 0 42 0 0 0 0 0 0 0 0 0 0 0 0 \n" + chars),
            std::string::npos);
}

TEST_F(SetusbTest, WriteLogLinesAndFailedLoad) {
  enable_log();
  log_open();
  fos.libraries.clear();
  EXPECT_EQ(setusb(1), 9);
  EXPECT_EQ(log_from(" in setusb at"),
            " in setusb at 1796613021, mode=1 \n"
            " in setusb, HIDpath=C:\\windows\\system32\\hid.dll, 19 \n"
            " LoadLibrary( doziv.dll )=" +
                P(nullptr) + ", lerr=126 \n");
}

TEST_F(SetusbTest, OpenFailureLogLines) {
  enable_log();
  log_open();
  lib.open = -3;
  setusb(0);
  auto& e = fos.libraries[FakeDoziv::installed_path(fos)];
  EXPECT_NE(log_text().find(" GetProcAddress( OpenUSB)=" + P(e["OpenUSB"]) +
                            " \n GetProcAddress( SetID)=" + P(e["SetID"]) +
                            " \n OpenUSB(500)=-3 \n openUSB failed \n"),
            std::string::npos);
  EXPECT_EQ(log_text().find("CloseUSB"), std::string::npos);
}

TEST_F(SetusbTest, MissingOpenUSBIsLoggedAndSetIDNotLookedUp) {
  enable_log();
  log_open();
  drop({"OpenUSB"});
  EXPECT_EQ(setusb(0), 9);
  EXPECT_EQ(log_text().find("SetID"), std::string::npos);
  EXPECT_NE(log_text().find(" GetProcAddress( OpenUSB)=" + P(nullptr) + " \n"), std::string::npos);
  EXPECT_TRUE(lib.calls.empty());
}

TEST_F(SetusbTest, EverythingIsOnDiskWhenItReturns) {
  enable_log();
  log_open();
  setusb(1);
  const std::string on_disk = fos.read_file("C:\\msr.log").value_or("");
  EXPECT_TRUE(on_disk.ends_with(" CloseUSB=0 \n")) << on_disk;
}

TEST_F(SetusbTest, WorksWithoutALog) {
  lib.get_reply = bytes({0, 0x46});
  EXPECT_EQ(setusb(0), 0);
  EXPECT_EQ(blk().p2j, 0x46);
  EXPECT_FALSE(log_on());
}

}  // namespace
}  // namespace msr
