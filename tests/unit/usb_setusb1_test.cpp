// setusb1: when it runs at all, the extended-block query and write, the interface-switch
// reset, the working status and the result, and the log.
#include <string>
#include <vector>

#include "common/flags.h"
#include "common/log.h"
#include "settings/settings_block.h"
#include "tests/unit/usb_fake_library.h"
#include "transport/usb/usb.h"

namespace msr {
namespace {

using usbtest::Buffer;
using usbtest::bytes;
using usbtest::P;
using usbtest::FakeDoziv;
using usbtest::UsbTest;

class Setusb1Test : public UsbTest {};

// --- entry rules ---

struct EntryRow {
  const char* name;
  int vcom, nofail, ext_f, mode;
  int result;
  int ext_f_after;
  bool loads;
};

class Setusb1Entry : public UsbTest, public ::testing::WithParamInterface<EntryRow> {};

TEST_P(Setusb1Entry, DecidesBeforeAnythingIsLoaded) {
  const EntryRow& row = GetParam();
  enable_log();
  log_open();
  g_shell.vcom = row.vcom;
  g_shell.nofail = row.nofail;
  g_usb.ext_f = row.ext_f;
  lib.get1_reply = bytes({0, 0xA0, 0x01, 0x02});
  EXPECT_EQ(setusb1(row.mode), row.result);
  EXPECT_EQ(g_usb.ext_f, row.ext_f_after);
  EXPECT_EQ(loads(), row.loads ? 1 : 0);
  EXPECT_TRUE(
      log_from(" in setusb1 at")
          .starts_with(" in setusb1 at 1796613021, mode=" + std::to_string(row.mode) + " \n"));
}

INSTANTIATE_TEST_SUITE_P(
    Usb, Setusb1Entry,
    ::testing::Values(
        //       name                 vcom nofail ext_f mode result ext_f' loads
        EntryRow{"VcomRead", 1, 0, 0, 0, 1, 0, false},
        EntryRow{"VcomWrite", 1, 0, 1, 1, 1, 1, false},
        EntryRow{"VcomBeforeNofail", 1, 1, 0, 0, 1, 0, false},
        EntryRow{"WriteWithoutQuery", 0, 0, 0, 1, 0, 0, false},
        EntryRow{"WriteWithoutQueryNofail", 0, 1, 0, 1, 0, 0, false},
        EntryRow{"ReadNofail", 0, 1, 0, 0, 0, 1, false},
        EntryRow{"WriteNofail", 0, 1, 1, 1, 0, 1, false}, EntryRow{"Read", 0, 0, 0, 0, 0, 1, true},
        EntryRow{"AnyOtherModeReads", 0, 0, 0, 2, 0, 1, true},
        EntryRow{"Write", 0, 0, 1, 1, 0, 1, true}),
    [](const ::testing::TestParamInfo<EntryRow>& info) { return info.param.name; });

// --- failures: one row per condition, nofail clear (nofail set never gets past the entry
// rules, checked in each row too) ---

void drop(fake::FakeOs& fos, std::initializer_list<const char*> names) {
  for (const char* n : names) fos.libraries[FakeDoziv::installed_path(fos)].erase(n);
}

struct FailureRow {
  const char* name;
  int mode;
  void (*arrange)(fake::FakeOs&, usbtest::FakeDoziv&);
  const char* status;  // status text afterwards; nullptr: unchanged
  bool opens;          // OpenUSB succeeded, so usb is set
  int result;
};

class Setusb1Failures : public UsbTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(Setusb1Failures, StatusTextUsbAndResult) {
  const FailureRow& row = GetParam();
  row.arrange(fos, lib);
  lib.get1_reply = bytes({0, 0xA0, 0x01, 0x02});
  for (int usb_before : {0, 1}) {
    SCOPED_TRACE("usb=" + std::to_string(usb_before));
    g_shell.usb = usb_before;
    g_shell.status = "vCOM MSR";
    g_usb.ext_f = row.mode == 1;
    const std::size_t boxes = fos.message_boxes.size();
    EXPECT_EQ(setusb1(row.mode), row.result);

    EXPECT_EQ(g_shell.usb, row.opens ? 1 : usb_before);
    EXPECT_EQ(g_shell.status, row.status != nullptr ? row.status : "vCOM MSR");
    EXPECT_EQ(fos.message_boxes.size() - boxes, row.result == 1 ? 1u : 0u);
    EXPECT_EQ(fos.loaded_modules(), 0);  // whatever happened, nothing stays loaded
  }
  // With nofail the same conditions are never met: nothing is loaded and the result is 0.
  g_shell.nofail = 1;
  g_usb.ext_f = row.mode == 1;
  const int loads_before = loads();
  EXPECT_EQ(setusb1(row.mode), 0);
  EXPECT_EQ(g_usb.ext_f, 1);
  EXPECT_EQ(loads(), loads_before);
}

void nothing(fake::FakeOs&, usbtest::FakeDoziv&) {}

INSTANTIATE_TEST_SUITE_P(
    Usb, Setusb1Failures,
    ::testing::Values(
        FailureRow{"HidMissing", 0,
                   [](fake::FakeOs& f, usbtest::FakeDoziv&) {
                     std::remove(f.host_path("C:\\windows\\system32\\hid.dll").c_str());
                   },
                   nullptr, false, 1},
        FailureRow{"LibraryDoesNotLoad", 0,
                   [](fake::FakeOs& f, usbtest::FakeDoziv&) { f.libraries.clear(); }, nullptr,
                   false, 9},
        FailureRow{"NoOpenUSB", 1,
                   [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"OpenUSB"}); }, nullptr,
                   false, 9},
        FailureRow{"NoSetID", 0, [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"SetID"}); },
                   nullptr, false, 9},
        // Unlike setusb, a failed open leaves usb as it was.
        FailureRow{"OpenUSBFails", 0, [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.open = 5; },
                   "NO USB MSR", false, 9},
        FailureRow{"QueryNotAnswered", 0,
                   [](fake::FakeOs&, usbtest::FakeDoziv& l) {
                     l.get1_reply = bytes({0, 0xB9, 0x01, 0x02});
                   },
                   "USB HID", true, 0},
        // A query the library refused is a failed read, whatever CloseUSB says.
        FailureRow{"QueryFails", 0, [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.get1 = 3; },
                   "USB HID", true, 9},
        FailureRow{"NoGetMrState1", 0,
                   [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"GetMrState1"}); },
                   "USB HID", true, 0},
        // An extended block that could not be sent is not written.
        FailureRow{"NoSetMrState1", 1,
                   [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"SetMrState1"}); },
                   "USB HID", true, 9},
        FailureRow{"WriteFails", 1,
                   [](fake::FakeOs&, usbtest::FakeDoziv& l) {
                     l.set1 = {4, 4, 4, 4};
                   },
                   "USB HID", true, 9},
        FailureRow{"NoCloseUSBRead", 0,
                   [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"CloseUSB"}); }, "USB HID",
                   true, 9},
        FailureRow{"NoCloseUSBWrite", 1,
                   [](fake::FakeOs& f, usbtest::FakeDoziv&) { drop(f, {"CloseUSB"}); }, "USB HID",
                   true, 9},
        FailureRow{"CloseUSBFails", 0, [](fake::FakeOs&, usbtest::FakeDoziv& l) { l.close = 4; },
                   "USB HID", true, 9},
        FailureRow{"GoodRead", 0, nothing, "USB HID", true, 0},
        FailureRow{"GoodWrite", 1, nothing, "USB HID", true, 0}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return info.param.name; });

TEST_F(Setusb1Test, MissingHidShowsItsOwnCaption) {
  std::remove(fos.host_path(kHidPath).c_str());
  enable_log();
  log_open();
  EXPECT_EQ(setusb1(0), 1);
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].owner, nullptr);
  EXPECT_EQ(fos.message_boxes[0].text, "Can't find hid.dll");
  EXPECT_EQ(fos.message_boxes[0].caption, "DIZ URE ZOV Avive Vava");
  EXPECT_EQ(fos.message_boxes[0].type, w32::kMbOk);
  EXPECT_EQ(log_from(" in setusb1 at"),
            " in setusb1 at 1796613021, mode=0 \n"
            " in setusb1, HIDpath=C:\\windows\\system32\\hid.dll, 19 \n"
            " can't find hid.dll \n");
}

TEST_F(Setusb1Test, LoadsTheLibraryBesideTheProgramByItsFullPath) {
  setusb1(0);
  EXPECT_EQ(fos.libraries_loaded,
            std::vector<std::string>{"C:\\Program Files\\msr\\doziv.dll"});
}

// --- the query ---

TEST_F(Setusb1Test, AnsweredQuerySetsExtFKq1Kq2Only) {
  SettingsBlock& b = blk();
  b.kq3 = 3, b.kq4 = 4, b.kq5 = 5, b.kq6 = 6, b.kq7 = 7;
  lib.get1_reply = bytes({0x11, 0xA0, 0x01, 0x80, 0x99, 0x99, 0x99, 0x99, 0x99});
  EXPECT_EQ(setusb1(0), 0);
  EXPECT_EQ(g_usb.ext_f, 1);
  EXPECT_EQ(std::vector<int>({b.kq1, b.kq2, b.kq3, b.kq4, b.kq5, b.kq6, b.kq7}),
            std::vector<int>({0x01, 0x80, 3, 4, 5, 6, 7}));
  EXPECT_EQ(lib.names(), (std::vector<std::string>{"SetID", "OpenUSB", "GetMrState1", "CloseUSB"}));
  EXPECT_EQ(lib.calls[0].args, (std::vector<std::int32_t>{0x2911, 0x1500, 0}));
  EXPECT_EQ(lib.named("GetMrState1")[0].in, bytes({0, 0xB9}));
  EXPECT_EQ(g_shell.usb, 1);
}

struct QueryRow {
  const char* name;
  Buffer reply;
  std::int32_t status;
  int ext_f, kq1, kq2;
};

class ExtendedQuery : public UsbTest, public ::testing::WithParamInterface<QueryRow> {};

TEST_P(ExtendedQuery, ExtFKq1Kq2) {
  const QueryRow& row = GetParam();
  g_usb.ext_f = 1;
  blk().kq1 = 0x55;
  blk().kq2 = 0x66;
  lib.get1_reply = row.reply;
  lib.get1 = row.status;
  setusb1(0);
  EXPECT_EQ(g_usb.ext_f, row.ext_f);
  EXPECT_EQ(blk().kq1, row.kq1);
  EXPECT_EQ(blk().kq2, row.kq2);
}

INSTANTIATE_TEST_SUITE_P(
    Usb, ExtendedQuery,
    ::testing::Values(QueryRow{"Acknowledged", bytes({0, 0xA0, 0x81, 0x47}), 0, 1, 0x81, 0x47},
                      QueryRow{"OtherByte1", bytes({0, 0xA1, 0x81, 0x47}), 0, 0, 0, 0x47},
                      QueryRow{"AckInByte0", bytes({0xA0, 0, 0x81, 0x47}), 0, 0, 0, 0x47},
                      QueryRow{"AckButFailed", bytes({0, 0xA0, 0x81, 0x47}), 1, 0, 0, 0x47},
                      QueryRow{"FailedWroteNothing", bytes({0, 0xB9}), 2, 0, 0, 0}),
    [](const ::testing::TestParamInfo<QueryRow>& info) { return info.param.name; });

TEST_F(Setusb1Test, WithoutGetMrState1NothingChanges) {
  g_usb.ext_f = 1;
  blk().kq1 = 0x55;
  blk().kq2 = 0x66;
  drop({"GetMrState1"});
  EXPECT_EQ(setusb1(0), 0);
  EXPECT_EQ(g_usb.ext_f, 1);
  EXPECT_EQ(blk().kq1, 0x55);
  EXPECT_EQ(blk().kq2, 0x66);
}

// --- the write and the reset ---

TEST_F(Setusb1Test, WriteSendsB8hAndTheSevenBytes) {
  SettingsBlock& b = blk();
  b.kq1 = 0x90, b.kq2 = 0x82, b.kq3 = 3, b.kq4 = 4, b.kq5 = 5, b.kq6 = 6, b.kq7 = 0xFF;
  g_usb.ext_f = 1;
  EXPECT_EQ(setusb1(1), 0);
  EXPECT_EQ(lib.names(), (std::vector<std::string>{"SetID", "OpenUSB", "SetMrState1", "CloseUSB"}));
  EXPECT_EQ(lib.named("SetMrState1")[0].in, bytes({0, 0xB8, 0x90, 0x82, 3, 4, 5, 6, 0xFF}));
}

struct ResetRow {
  const char* name;
  int cif;
  std::uint8_t kq1;
  bool reset;
};

class InterfaceReset : public UsbTest, public ::testing::WithParamInterface<ResetRow> {};

TEST_P(InterfaceReset, FollowsTheWriteOnlyWithCifAndVcomif) {
  const ResetRow& row = GetParam();
  g_shell.cif = row.cif;
  blk().kq1 = row.kq1;
  g_usb.ext_f = 1;
  Buffer junk;
  junk.fill(0xEE);
  lib.write_scribble = &junk;  // the reset's buffer must be built afresh
  EXPECT_EQ(setusb1(1), 0);
  auto calls = lib.named("SetMrState1");
  ASSERT_EQ(calls.size(), row.reset ? 2u : 1u);
  EXPECT_EQ(calls[0].in[1], 0xB8);
  if (row.reset) {
    EXPECT_EQ(calls[1].in, bytes({0, 0xFF, 0xAA}));
  }
  EXPECT_EQ(lib.names().back(), "CloseUSB");
}

INSTANTIATE_TEST_SUITE_P(Usb, InterfaceReset,
                         ::testing::Values(ResetRow{"CifVcomif", 1, 0x01, true},
                                           ResetRow{"CifVcomifOtherBits", 1, 0x81, true},
                                           ResetRow{"NoCif", 0, 0x01, false},
                                           ResetRow{"NoVcomif", 1, 0xFE, false},
                                           ResetRow{"Neither", 0, 0x00, false}),
                         [](const ::testing::TestParamInfo<ResetRow>& info) {
                           return info.param.name;
                         });

// A failed write is not made good by the reset or by CloseUSB.
struct WriteStatusRow {
  const char* name;
  std::deque<std::int32_t> set1;
  int result;
};

class WriteStatuses : public UsbTest, public ::testing::WithParamInterface<WriteStatusRow> {};

TEST_P(WriteStatuses, AnyRefusedCallFails) {
  g_shell.cif = 1;
  blk().kq1 = 0x01;
  g_usb.ext_f = 1;
  lib.set1 = GetParam().set1;
  EXPECT_EQ(setusb1(1), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Usb, WriteStatuses,
                         ::testing::Values(WriteStatusRow{"BothGood", {0, 0}, 0},
                                           WriteStatusRow{"WriteRefused", {4, 0}, 9},
                                           WriteStatusRow{"ResetRefused", {0, 4}, 9},
                                           WriteStatusRow{"BothRefused", {4, 4}, 9}),
                         [](const ::testing::TestParamInfo<WriteStatusRow>& info) {
                           return info.param.name;
                         });

// --- log lines ---

TEST_F(Setusb1Test, WriteAndResetLogLinesAndFlushes) {
  enable_log();
  log_open();
  g_shell.cif = 1;
  blk().kq1 = 0x81;
  g_usb.ext_f = 1;
  lib.set1 = {0, 6};
  lib.close = 0;
  EXPECT_EQ(setusb1(1), 9);
  auto& e = fos.libraries[FakeDoziv::installed_path(fos)];
  const std::string fp2 = P(e["SetMrState1"]);
  EXPECT_EQ(log_from(" in setusb1 at"),
            " in setusb1 at 1796613021, mode=1 \n"
            " in setusb1, HIDpath=C:\\windows\\system32\\hid.dll, 19 \n"
            " LoadLibrary( doziv.dll )=" +
                P(reinterpret_cast<void*>(0x100)) +
                ", lerr=0 \n"
                " GetProcAddress( OpenUSB)=" +
                P(e["OpenUSB"]) + " \n GetProcAddress( SetID)=" + P(e["SetID"]) +
                " \n"
                " OpenUSB(500)=0 \n"
                " kq1=81 \n"
                " GetProcAddress( SetMrState1)=" +
                fp2 + " \n SetMrState1=0, fp2=" + fp2 + " \n SetMrState1=6, fp2=" + fp2 +
                " \n GetProcAddress( CloseUSB)=" + P(e["CloseUSB"]) + " \n CloseUSB=0 \n");
  auto calls = lib.named("SetMrState1");
  EXPECT_TRUE(calls[1].log_on_disk.ends_with(" SetMrState1=0, fp2=" + fp2 + " \n"));
  EXPECT_TRUE(lib.named("CloseUSB")[0].log_on_disk.ends_with(" SetMrState1=6, fp2=" + fp2 + " \n"));
  EXPECT_TRUE(fos.read_file("C:\\msr.log").value_or("").ends_with(" CloseUSB=0 \n"));
}

TEST_F(Setusb1Test, WriteWithoutSetMrState1StillLogsItsLine) {
  enable_log();
  log_open();
  g_shell.cif = 1;
  blk().kq1 = 0x01;
  g_usb.ext_f = 1;
  drop({"SetMrState1"});
  setusb1(1);
  EXPECT_NE(log_text().find(" kq1=1 \n GetProcAddress( SetMrState1)=" + P(nullptr) +
                            " \n SetMrState1=0, fp2=" + P(nullptr) + " \n GetProcAddress("),
            std::string::npos)
      << log_text();
  EXPECT_EQ(lib.names(), (std::vector<std::string>{"SetID", "OpenUSB", "CloseUSB"}));
}

TEST_F(Setusb1Test, ReadLogLines) {
  enable_log();
  log_open();
  lib.get1_reply = bytes({0, 0xA0, 0x01, 'A', 0, 'b'});
  setusb1(0);
  auto& e = fos.libraries[FakeDoziv::installed_path(fos)];
  EXPECT_NE(
      log_text().find(" OpenUSB(500)=0 \n GetProcAddress( GetMrState1)=" + P(e["GetMrState1"]) +
                      " \n GetMrState1=0, rbuf= \n" + usbtest::dump(lib.get1_reply) +
                      " GetProcAddress( CloseUSB)=" + P(e["CloseUSB"]) + " \n CloseUSB=0 \n"),
      std::string::npos)
      << log_text();
}

TEST_F(Setusb1Test, MissingCloseUSBLogs11) {
  enable_log();
  log_open();
  drop({"CloseUSB"});
  EXPECT_EQ(setusb1(0), 9);
  EXPECT_TRUE(
      log_text().ends_with(" GetProcAddress( CloseUSB)=" + P(nullptr) + " \n CloseUSB=11 \n"));
}

TEST_F(Setusb1Test, OpenFailureLogLines) {
  enable_log();
  log_open();
  lib.open = 2;
  EXPECT_EQ(setusb1(0), 9);
  EXPECT_TRUE(log_text().ends_with(" OpenUSB(500)=2 \n openUSB failed \n"));
  EXPECT_EQ(lib.names(), (std::vector<std::string>{"SetID", "OpenUSB"}));
  EXPECT_EQ(fos.libraries_freed, 1);
}

// --- a window run: detection reads, Save writes ---

TEST_F(Setusb1Test, ReadThenWriteSendsWhatWasRead) {
  lib.get_reply = bytes({0, 0x46, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13});
  lib.rtvs_reply = {{19, bytes({'F'})}};
  lib.get1_reply = bytes({0, 0xA0, 0x01, 0x02});
  ASSERT_EQ(setusb(0), 0);
  ASSERT_EQ(setusb1(0), 0);
  blk().kq3 = 0x33;
  ASSERT_EQ(setusb(1), 0);
  ASSERT_EQ(setusb1(1), 0);
  EXPECT_EQ(lib.named("SetMrStateBuf")[0].in,
            bytes({0x46, 0x08, 0x25, 0x3B, 0x3B, 0x3F, 0x01, 0x13}));
  auto set1 = lib.named("SetMrState1");
  ASSERT_EQ(set1.size(), 2u);  // cif from the reply, vcomif from the query
  EXPECT_EQ(set1[0].in, bytes({0, 0xB8, 0x01, 0x02, 0x33}));
  EXPECT_EQ(fos.libraries_freed, 4);
}

}  // namespace
}  // namespace msr
