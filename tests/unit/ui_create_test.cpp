// Creating the setup window (reader detection by transport flag, captions, firmware
// rules, log lines) and how its run ends: Save per transport, Cancel, Esc, the close
// box, Help and the language boxes.
#include <string>
#include <vector>

#include "tests/unit/ui_fixture.h"

namespace msr::uitest {
namespace {

using Calls = std::vector<std::string>;

// --- no reader ---

struct NoReaderCase {
  const char* title;
  bool vcom, usb;
  Calls calls;
  const char* caption;
  const char* box_title;
};
class UiNoReader : public UiWindow, public ::testing::WithParamInterface<NoReaderCase> {};
TEST_P(UiNoReader, SaysSoAndStopsTheRun) {
  const NoReaderCase& c = GetParam();
  enable_log();
  log_open();
  g_shell.vcom = c.vcom, g_shell.usb = c.usb;
  TForm1& f = create();
  EXPECT_EQ(transport_calls, c.calls);
  EXPECT_EQ(f.Caption(), c.caption);
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].text, "No MSR Detected!");
  EXPECT_EQ(fos.message_boxes[0].caption, c.box_title);
  EXPECT_EQ(fos.message_boxes[0].type, w32::kMbOk);
  EXPECT_EQ(g_shell.runloop, 0);
  EXPECT_EQ(fos.beeps, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1000, 100}}));
  EXPECT_FALSE(f.Image3->Visible());
  EXPECT_EQ(f.Label10->Caption(), "NO USB MSR");
  // Only the version lines, which the constructor writes after creation.
  std::string log = log_text();
  EXPECT_EQ(log.find(" kq1="), std::string::npos);
  EXPECT_EQ(log.find(" 92.11.27"), std::string::npos);
  EXPECT_NE(log.find(" vnum=498139398, ok=1 \n osvi=6,1,7601,2,Service Pack 1 \n"),
            std::string::npos);
}
INSTANTIATE_TEST_SUITE_P(Table, UiNoReader,
                         ::testing::Values(NoReaderCase{"Vcom",
                                                        true,
                                                        false,
                                                        {"setcom(0)"},
                                                        " POS vCOM MSR Setup Tool  v5.02",
                                                        "VOV EZE rAZO ZOR Udozadi"},
                                           NoReaderCase{"Usb",
                                                        false,
                                                        true,
                                                        {"setusb(0)"},
                                                        " ZOV ORU VAZ Izove Duro  v5.02",
                                                        "ZOV ORU VAZ Izove Duro"},
                                           NoReaderCase{"Either",
                                                        false,
                                                        false,
                                                        {"setusb(0)", "setcom(0)"},
                                                        " POS USB/vCOM MSR Setup Tool  v5.02",
                                                        "ZOV ORU VAZ Izove Duro"}),
                         [](const auto& info) { return std::string(info.param.title); });

// --- reader found ---

struct FoundCase {
  const char* title;
  bool switch_v, switch_u;  // command line
  bool on_usb;              // where the reader is
  bool ext;
  Calls calls;
  bool tab2, cb9_enabled, cb11_enabled;
  const char* label10;
};
class UiFound : public UiWindow, public ::testing::WithParamInterface<FoundCase> {};
TEST_P(UiFound, AdaptsTheWindowToTheTransport) {
  const FoundCase& c = GetParam();
  reader_ext = c.ext;
  usb_reader = c.on_usb;
  com_reader = !c.on_usb;
  g_shell.vcom = c.switch_v, g_shell.usb = c.switch_u;
  TForm1& f = create();
  EXPECT_EQ(transport_calls, c.calls);
  EXPECT_TRUE(fos.message_boxes.empty());
  EXPECT_EQ(g_shell.runloop, 1);
  EXPECT_EQ(f.TabSheet2->TabVisible(), c.tab2);
  EXPECT_TRUE(f.CheckBox9->Checked());
  EXPECT_EQ(f.CheckBox9->Enabled(), c.cb9_enabled);
  EXPECT_EQ(f.CheckBox11->Enabled(), c.cb11_enabled);
  EXPECT_FALSE(f.CheckBox11->Checked());
  EXPECT_TRUE(f.CheckBox10->Enabled());
  EXPECT_EQ(f.Label10->Caption(), c.label10);
  EXPECT_EQ(f.PageControl1->ActivePage(), f.TabSheet1);
  EXPECT_TRUE(f.Image3->Visible());
  EXPECT_EQ(f.Image1->Width(), 300);
  EXPECT_EQ(f.Image1->Height(), 130);
  EXPECT_EQ(fos.beeps,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1000, 100}, {2000, 100}}));
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiFound,
    ::testing::Values(
        FoundCase{
            "VcomSwitch", true, false, false, true, {"setcom(0)"}, false, true, false, "COM5"},
        FoundCase{"UsbSwitchExtended",
                  false,
                  true,
                  true,
                  true,
                  {"setusb(0)", "setusb1(0)"},
                  true,
                  true,
                  true,
                  "USB MSR"},
        FoundCase{"UsbSwitchNoExtendedFixesEndingCr",
                  false,
                  true,
                  true,
                  false,
                  {"setusb(0)", "setusb1(0)"},
                  false,
                  false,
                  false,
                  "USB MSR"},
        FoundCase{"NoSwitchUsbExtended",
                  false,
                  false,
                  true,
                  true,
                  {"setusb(0)", "setusb1(0)"},
                  true,
                  true,
                  true,
                  "NO USB MSR"},
        FoundCase{"NoSwitchUsbNoExtendedLeavesEndingCrEnabled",
                  false,
                  false,
                  true,
                  false,
                  {"setusb(0)", "setusb1(0)"},
                  false,
                  true,
                  false,
                  "NO USB MSR"},
        FoundCase{"NoSwitchVcomAfterUsbFails",
                  false,
                  false,
                  false,
                  true,
                  {"setusb(0)", "setcom(0)"},
                  false,
                  true,
                  false,
                  "COM5"}),
    [](const auto& info) { return std::string(info.param.title); });

struct CaptionCase {
  const char* title;
  bool on_usb, jis, cif;
  std::uint8_t mr7;
  const char* caption;
  int fwnum;
};
class UiCaptions : public UiWindow, public ::testing::WithParamInterface<CaptionCase> {};
TEST_P(UiCaptions, FollowTheFirmware) {
  const CaptionCase& c = GetParam();
  reader.mr7 = c.mr7;
  reader_jis = c.jis;
  reader_cif = c.cif;
  TForm1& f = c.on_usb ? create_usb() : create_vcom();
  EXPECT_EQ(f.Caption(), c.caption);
  EXPECT_EQ(g_settings.fwnum, c.fwnum);
  EXPECT_EQ(g_settings.fwtext, f.Caption().substr(f.Caption().rfind('.')));
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiCaptions,
    ::testing::Values(
        CaptionCase{"Usb13", true, false, false, 0x13, " ZOV ORU VAZ Izove Duro  v5.02.13", 13},
        CaptionCase{"Usb14", true, false, false, 0x14, " ZOV ORU VAZ Izove Duro  v5.02.14", 14},
        CaptionCase{"Usb12", true, false, false, 0x12, " POS USB JIS2 MSR Setup Tool  v5.02.12",
                    12},
        CaptionCase{"Usb1a", true, false, false, 0x1A, " POS USB JIS2 MSR Setup Tool  v5.02.1a", 1},
        CaptionCase{"UsbJisNewFirmware", true, true, false, 0x20,
                    " ZOV ORU VAZ Izove Duro  v5.02.20", 20},
        CaptionCase{"Vcom12", false, false, false, 0x12,
                    " POS USB vCOM JIS2 MSR Setup Tool  v5.02.12", 12},
        CaptionCase{"Vcom20", false, false, false, 0x20, " ZOV ORU VAZ Izove Duro  v5.02.20", 20},
        CaptionCase{"VcomZero", false, false, false, 0x00,
                    " POS USB vCOM JIS2 MSR Setup Tool  v5.02.0", 0}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(UiWindow, WithoutAReaderUnderNofailTheCaptionKeepsItsDesignAndGetsTheFirmware) {
  TForm1& f = create_without_reader();
  EXPECT_EQ(f.Caption(), " Tavrinel MSR Manager  v1.00.0");
  EXPECT_EQ(g_shell.runloop, 1);
  EXPECT_EQ(f.Label10->Caption(), "NO USB MSR");
}

TEST_F(UiWindow, JisReaderMarksTheStatusAndFixesEndingCr) {
  reader_jis = true;
  TForm1& f = create_vcom();
  EXPECT_EQ(f.Label10->Caption(), "COM5 (JIS2)");
  EXPECT_EQ(g_shell.status, "COM5");
  EXPECT_FALSE(f.TabSheet2->TabVisible());
  EXPECT_TRUE(f.CheckBox9->Checked());
  EXPECT_FALSE(f.CheckBox9->Enabled());
  EXPECT_FALSE(f.CheckBox11->Enabled());
}

TEST_F(UiWindow, OldFirmwareWithCifGetsTheJis2Layout) {
  reader_cif = true;
  reader.mr7 = 0x13;
  TForm1& f = create_usb();
  EXPECT_TRUE(f.CheckBox9->Checked());
  EXPECT_FALSE(f.CheckBox9->Enabled());
  EXPECT_FALSE(f.CheckBox11->Enabled());
  EXPECT_FALSE(f.Button5->Visible());
  EXPECT_EQ(f.StaticText1->Caption(), "Reset to JIS2 Defaults");
  EXPECT_TRUE(f.CheckBox13->Visible());
}

TEST_F(UiWindow, VcomReaderLosesAltNumAndTheDelay) {
  reader.p2j = 0xC6;
  TForm1& f = create_vcom();
  EXPECT_FALSE(get_bit(blk(), Bit::altnum));
  EXPECT_FALSE(f.CheckBox1->Checked());
  EXPECT_FALSE(f.CheckBox1->Enabled());
  for (TControl* c : std::vector<TControl*>{f.Label5, f.Button16, f.Button17, f.Edit6}) {
    EXPECT_FALSE(c->Visible()) << c->Name();
  }
}

TEST_F(UiWindow, SwitchesShowTheirBoxes) {
  g_shell.vclass = 1;
  reader_cif = true;
  TForm1& f = create_usb();
  EXPECT_TRUE(f.CheckBox12->Visible());
  EXPECT_TRUE(f.CheckBox13->Visible());
  fresh();
  reader_cif = false;
  TForm1& g = create_usb();
  EXPECT_FALSE(g.CheckBox12->Visible());
  EXPECT_FALSE(g.CheckBox13->Visible());
}

TEST_F(UiWindow, CreationLogsTheBlockThenTheVersion) {
  enable_log();
  log_open();
  reader.kq1 = 0x41;
  reader.mr7 = 0x21;
  create_usb();
  std::string log = log_text();
  std::string expected =
      " kq1=41 \n"
      " p2j=c6, mr1=8,25,3b,3b,3f,2,21 \n"
      " 92.11.27, 95.10.31 \n"
      " vnum=498139398, ok=1 \n"
      " osvi=6,1,7601,2,Service Pack 1 \n";
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
}

TEST_F(UiWindow, NoVersionDetailsWhenTheQueryFails) {
  enable_log();
  log_open();
  fos.version_ex_fails = true;
  fos.version = 0x80000004;
  create_usb();
  std::string log = log_text();
  EXPECT_NE(log.find(" vnum=2147483652, ok=0 \n"), std::string::npos) << log;
  EXPECT_EQ(log.find(" osvi="), std::string::npos);
}

TEST_F(UiWindow, NothingIsLoggedWithoutALog) {
  create_usb();
  EXPECT_EQ(log_text(), "");
}

// --- Save ---

struct SaveCase {
  const char* title;
  bool usb, vcom, log;
  std::uint8_t mr7;
  Calls calls;  // after detection
  std::vector<std::uint32_t> beeps;
  bool refused_line;
};
class UiSave : public UiWindow, public ::testing::WithParamInterface<SaveCase> {};
TEST_P(UiSave, WritesThroughTheTransportThatFoundTheReaderAndCloses) {
  const SaveCase& c = GetParam();
  if (c.log) {
    enable_log();
    log_open();
  }
  reader.mr7 = c.mr7;
  TForm1& f = c.usb ? create_usb() : c.vcom ? create_vcom() : create_without_reader();
  if (!c.usb && !c.vcom) blk().mr7 = c.mr7;
  transport_calls.clear();
  fos.beeps.clear();
  f.Button2->user_click();
  EXPECT_EQ(transport_calls, c.calls);
  std::vector<std::uint32_t> beeps;
  for (auto [hz, ms] : fos.beeps) {
    EXPECT_EQ(ms, 100u);
    beeps.push_back(hz);
  }
  EXPECT_EQ(beeps, c.beeps);
  std::string refused = " f/w ver, mr7=" + std::to_string(c.mr7) + ", didn't write to msr \n";
  EXPECT_EQ(log_text().find(refused) != std::string::npos, c.refused_line);
  EXPECT_TRUE(f.Closed());
  for (TControl* ctl : std::vector<TControl*>{f.Button2, f.Button3, f.Button1, f.Button4,
                                              f.StaticText1, f.Button5, f.StaticText2}) {
    EXPECT_FALSE(ctl->Enabled()) << ctl->Name();
  }
  EXPECT_TRUE(fos.message_boxes.empty());
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiSave,
    ::testing::Values(
        SaveCase{"Usb", true, false, false, 0x20, {"setusb(1)", "setusb1(1)"}, {1000, 2000}, false},
        SaveCase{"Vcom", false, true, false, 0x20, {"setcom(1)"}, {1000, 2000}, false},
        SaveCase{"Ps2NewFirmware", false, false, false, 86, {"setps2()"}, {1000, 2000}, false},
        SaveCase{
            "Ps2NewFirmwareLogged", false, false, true, 0xFF, {"setps2()"}, {1000, 2000}, false},
        SaveCase{"Ps2OldFirmwareRefused", false, false, false, 85, {}, {1000, 2000}, false},
        SaveCase{
            "Ps2OldFirmwareRefusedLogged", false, false, true, 85, {}, {1000, 1000, 2000}, true},
        SaveCase{"Ps2NoFirmwareLogged", false, false, true, 0, {}, {1000, 1000, 2000}, true}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(UiWindow, SaveDisablesItselfBeforeTheWrite) {
  TForm1& f = create_usb();
  std::vector<bool> during;
  g_transports.setusb = [&](int) {
    during = {f.Button2->Enabled(), f.Button3->Enabled(), f.Button1->Enabled()};
    return 0;
  };
  f.Button2->user_click();
  EXPECT_EQ(during, (std::vector<bool>{false, true, true}));
}

// The extended block refused after the base block was taken: the base block as read goes
// back, the user is told, and the window stays with the edits until a save works.
TEST_F(UiWindow, FailedSaveRestoresTheBaseBlockAndKeepsTheWindow) {
  TForm1& f = create_usb();
  const std::uint8_t edited = blk().p2j ^ 0x80;
  blk().p2j = edited;
  g_usb.base_read = true;
  g_usb.base_as_read[0] = 0x11;
  std::vector<int> written;  // p2j of each base-block write
  g_transports.setusb = [&](int) { return written.push_back(blk().p2j), g_usb.written = true, 0; };
  // Refused, and usb cleared as a sequence that can't open the reader clears it.
  g_transports.setusb1 = [](int) { return g_shell.usb = 0, g_usb.written = false, 9; };
  f.Button2->user_click();
  EXPECT_EQ(written, (std::vector<int>{edited, 0x11}));
  ASSERT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_EQ(fos.message_boxes[0].caption, kAppTitle);
  EXPECT_NE(fos.message_boxes[0].text.find("were written back.\n\nThe reader still holds its "
                                           "previous settings."),
            std::string::npos);
  EXPECT_FALSE(f.Closed());
  EXPECT_TRUE(f.Button2->Enabled() && f.Button3->Enabled());
  EXPECT_EQ(blk().p2j, edited);
  g_transports.setusb1 = [](int) { return 0; };
  f.Button2->user_click();
  EXPECT_EQ(written.size(), 3u);  // tried again the same way
  EXPECT_TRUE(f.Closed());
}

TEST_F(UiWindow, SaveEndsTheApplicationsLoop) {
  TForm1& f = create_usb();
  ASSERT_EQ(Application.MainForm(), &f);
  f.Button2->user_click();
  EXPECT_TRUE(Application.Terminated());
}

// --- Cancel, Esc, close box ---

TEST_F(UiWindow, CancelEscAndTheCloseBoxCloseWithoutSending) {
  for (int way = 0; way < 3; ++way) {
    TForm1& f = create_usb();
    transport_calls.clear();
    fos.beeps.clear();
    if (way == 0) f.Button3->user_click();
    if (way == 1) f.user_escape();
    if (way == 2) f.user_close();
    EXPECT_TRUE(f.Closed()) << way;
    EXPECT_TRUE(Application.Terminated()) << way;
    EXPECT_TRUE(transport_calls.empty()) << way;
    EXPECT_TRUE(fos.beeps.empty()) << way;
    fresh();
  }
}

// --- Help ---

struct HelpCase {
  const char* title;
  int reader;  // 0 none (nofail), 1 usb, 2 vcom
  void (*arrange)(fake::FakeOs&);
  const char* command;  // nullptr: nothing is run
};
class UiHelp : public UiWindow, public ::testing::WithParamInterface<HelpCase> {};
TEST_P(UiHelp, OpensTheTextBesideTheProgramInTheSystemsNotepad) {
  const HelpCase& c = GetParam();
  TForm1& f = c.reader == 1   ? create_usb()
              : c.reader == 2 ? create_vcom()
                              : create_without_reader();
  c.arrange(fos);
  f.Button1->user_click();
  if (c.command == nullptr) {
    EXPECT_TRUE(fos.programs_run.empty());
  } else {
    ASSERT_EQ(fos.programs_run.size(), 1u);
    EXPECT_EQ(fos.programs_run[0].first, c.command);
    EXPECT_EQ(fos.programs_run[0].second, 5u);
  }
  EXPECT_FALSE(f.Closed());
}
void as_is(fake::FakeOs&) {}
INSTANTIATE_TEST_SUITE_P(
    Table, UiHelp,
    ::testing::Values(
        HelpCase{"Usb", 1, as_is,
                 "\"C:\\windows\\notepad.exe\" \"C:\\Program Files\\msr\\usbmsrhelp.txt\""},
        HelpCase{"Vcom", 2, as_is,
                 "\"C:\\windows\\notepad.exe\" \"C:\\Program Files\\msr\\usbmsrhelp.txt\""},
        HelpCase{"Neither", 0, as_is,
                 "\"C:\\windows\\notepad.exe\" \"C:\\Program Files\\msr\\ps2msrhelp.txt\""},
        HelpCase{"WindowsFolderUnknown", 1,
                 [](fake::FakeOs& f) { f.windows_dir_fails = true; },
                 "\"C:\\windows\\system32\\notepad.exe\" "
                 "\"C:\\Program Files\\msr\\usbmsrhelp.txt\""},
        HelpCase{"ProgramFolderUnknown", 1, [](fake::FakeOs& f) { f.module_file_name.clear(); },
                 "\"C:\\windows\\notepad.exe\" \"usbmsrhelp.txt\""},
        HelpCase{"NoSafeEditor", 1,
                 [](fake::FakeOs& f) { f.windows_dir_fails = f.system_dir_fails = true; },
                 nullptr}),
    [](const auto& info) { return std::string(info.param.title); });

// --- languages ---

struct LanguageCase {
  const char* title;
  bool os_box;  // CMB_LanguageForOS, else CMB_LanguageType
  int index;
  std::uint8_t before, after;
};
class UiLanguages : public UiWindow, public ::testing::WithParamInterface<LanguageCase> {};
TEST_P(UiLanguages, EditKq2WhenTheUserPicks) {
  const LanguageCase& c = GetParam();
  TForm1& f = create_usb();
  blk().kq2 = c.before;
  TComboBox* combo = c.os_box ? f.CMB_LanguageForOS : f.CMB_LanguageType;
  // The boxes are never on screen; the user's pick is played as an event here.
  run_event([&] {
    combo->SetItemIndex(c.index);
    combo->OnChange(combo);
  });
  EXPECT_EQ(blk().kq2, c.after);
}
INSTANTIATE_TEST_SUITE_P(Table, UiLanguages,
                         ::testing::Values(LanguageCase{"French", false, 5, 0xC2, 0xC5},
                                           LanguageCase{"Usa", false, 0, 0x37, 0x30},
                                           LanguageCase{"Portugal", false, 7, 0x00, 0x07},
                                           LanguageCase{"NoneChangesNothing", false, -1, 0xC2,
                                                        0xC2},
                                           LanguageCase{"Windows", true, 0, 0xC5, 0x85},
                                           LanguageCase{"Android", true, 1, 0x05, 0x45},
                                           LanguageCase{"NoOsMeansAndroid", true, -1, 0x05, 0x45}),
                         [](const auto& info) { return std::string(info.param.title); });

TEST_F(UiWindow, HiddenLanguageBoxesIgnoreClicks) {
  TForm1& f = create_usb();
  blk().kq2 = 0x00;
  f.CMB_LanguageType->user_select(3);
  EXPECT_EQ(blk().kq2, 0x00);
  EXPECT_EQ(f.CMB_LanguageType->ItemIndex(), -1);
}

}  // namespace
}  // namespace msr::uitest
