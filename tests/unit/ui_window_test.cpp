// The setup window's layout, how it shows the settings block, and its option, code,
// delay and reset handlers, driven through the same entry points a user's actions use.
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/ui_fixture.h"

namespace msr::uitest {
namespace {

using Boxes = std::vector<std::pair<const char*, bool>>;
using Bits = std::vector<std::pair<Bit, bool>>;

const std::vector<const char*> kTrackRows[4] = {
    {"Label6", "Button7", "Button6", "Edit1"},
    {"Label7", "Button8", "Button9", "Edit2"},
    {"Label8", "Button10", "Button11", "Edit3"},
    {"Label9", "Button12", "Button13", "Edit4"},
};

// --- layout ---

struct LayoutCase {
  const char* name;
  ControlKind kind;
  const char* parent;
  const char* caption;
  int left, top, width, height;
  bool visible, enabled;
};
class UiLayout : public UiWindow, public ::testing::WithParamInterface<LayoutCase> {};
TEST_P(UiLayout, ControlsStartAsDesigned) {
  // A failed detection leaves the controls as designed, but for the three boxes that
  // creation enables before it looks for the reader.
  create();
  const LayoutCase& c = GetParam();
  TControl* ctl = control(c.name);
  ASSERT_NE(ctl, nullptr);
  EXPECT_EQ(ctl->Kind(), c.kind);
  EXPECT_EQ(ctl->Parent()->Name(), c.parent);
  const std::string shown =
      c.kind == ControlKind::edit ? static_cast<TEdit*>(ctl)->Text() : ctl->Caption();
  EXPECT_EQ(shown, c.caption);
  EXPECT_EQ(ctl->Left(), c.left);
  EXPECT_EQ(ctl->Top(), c.top);
  EXPECT_EQ(ctl->Width(), c.width);
  EXPECT_EQ(ctl->Height(), c.height);
  EXPECT_EQ(ctl->Visible(), c.visible);
  EXPECT_EQ(ctl->Enabled(), c.enabled);
}
INSTANTIATE_TEST_SUITE_P(
    Rows, UiLayout,
    ::testing::Values(
        LayoutCase{"Button4", ControlKind::button, "Form1", "Button4", 25, 72, 108, 70, true, true},
        LayoutCase{"StaticText2", ControlKind::static_text, "Form1",
                   "Reset to Non-English Defaults", 202, 79, 74, 56, true, true},
        LayoutCase{"CheckBox13", ControlKind::check_box, "Form1", "virtual COM port interface", 313,
                   133, 216, 30, false, true},
        LayoutCase{"Edit6", ControlKind::edit, "Form1", "2", 639, 208, 30, 30, true, true},
        LayoutCase{"Label10", ControlKind::label, "Form1", "NO USB MSR", 57, 216, 112, 20, false,
                   true},
        LayoutCase{"Button2", ControlKind::button, "Form1", "Save && Exit", 68, 456, 120, 40, true,
                   true},
        LayoutCase{"CheckBox12", ControlKind::check_box, "Form1", "Vender Class", 721, 520, 161, 30,
                   false, true},
        LayoutCase{"CheckBox8", ControlKind::check_box, "TabSheet1", "TAB to end", 64, 44, 124, 30,
                   false, true},
        LayoutCase{"CheckBox10", ControlKind::check_box, "TabSheet2", "Send Num-Lock", 48, 45, 161,
                   30, true, true},
        LayoutCase{"CheckBox5", ControlKind::check_box, "GroupBox1", "Send  Leading/Ending  Codes",
                   24, 134, 265, 31, true, true},
        LayoutCase{"Edit3", ControlKind::edit, "GroupBox1", ";", 616, 97, 30, 30, true, true},
        LayoutCase{"Button13", ControlKind::button, "GroupBox1", "-->", 651, 137, 30, 30, true,
                   true},
        LayoutCase{"Label8", ControlKind::label, "GroupBox1", "MSR Track3 Leading Code:", 312, 99,
                   230, 26, true, true},
        LayoutCase{"CMB_LanguageType", ControlKind::combo_box, "GroupBox1", "", 488, 176, 193, 24,
                   false, true},
        LayoutCase{"Image3", ControlKind::image, "Form1", "", 740, 516, 212, 41, false, true}));

TEST_F(UiWindow, WindowAsDesigned) {
  TForm1& f = create();
  EXPECT_EQ(f.ClientWidth(), 742);
  EXPECT_EQ(f.ClientHeight(), 516);
  EXPECT_EQ(f.AllControls().size(), 57u);
  EXPECT_TRUE(f.CheckBox1->Checked());
  EXPECT_TRUE(f.CheckBox9->Checked());
  EXPECT_FALSE(f.CheckBox7->Checked());
  EXPECT_TRUE(f.Button3->Cancel());
  EXPECT_EQ(f.Edit6->MaxLength(), 2);
  EXPECT_EQ(f.Edit1->MaxLength(), 1);
  EXPECT_EQ(f.PageControl1->ActivePage(), f.TabSheet1);
  EXPECT_EQ(f.CMB_LanguageType->Items(),
            (std::vector<std::string>{"USA", "Poland(214)", "German", "Spanish", "Italian",
                                      "French", "Holland", "Portugal"}));
  EXPECT_EQ(f.CMB_LanguageForOS->Items(), (std::vector<std::string>{"Windows", "Android"}));
  EXPECT_EQ(f.Image1->Picture().resource, "IMAGE1");
  EXPECT_EQ(f.StaticText1->Alignment(), TAlignment::taCenter);
  EXPECT_EQ(f.Label5->Layout(), TTextLayout::tlCenter);
  // Without detection Image3 stays hidden and everything fits the client area.
  EXPECT_EQ(f.ScrollRange(), (TScrollRange{719, 496}));
}

TEST_F(UiWindow, FontsByGroup) {
  TForm1& f = create();
  const TFont sans14{"MS Sans Serif", 14, false, TFontCharset::DEFAULT_CHARSET};
  const TFont serif19{"MS Serif", 19, false, TFontCharset::DEFAULT_CHARSET};
  const TFont serif17{"MS Serif", 17, false, TFontCharset::DEFAULT_CHARSET};
  const TFont bold16{"MS Sans Serif", 16, true, TFontCharset::DEFAULT_CHARSET};
  const TFont bold17{"MS Sans Serif", 17, true, TFontCharset::DEFAULT_CHARSET};
  const TFont bold15{"MS Sans Serif", 15, true, TFontCharset::DEFAULT_CHARSET};
  const TFont sans15{"MS Sans Serif", 15, false, TFontCharset::DEFAULT_CHARSET};
  const TFont modern{"Modern", 15, false, TFontCharset::OEM_CHARSET};
  std::vector<std::pair<const TFont*, std::vector<TControl*>>> groups = {
      {&sans14, {f.Button1}},
      {&serif19, {f.CheckBox2, f.CheckBox5, f.CheckBox8, f.Label1, f.Label4}},
      {&serif17, {f.CheckBox1, f.CheckBox13, f.CHK_SendAscii, f.CheckBox10}},
      {&bold16, {f.Label5, f.Label10, f.Label9, f.LBL_LanguageType}},
      {&bold17, {f.Edit1, f.Edit4}},
      {&bold15, {f.Button7, f.Button13, f.Button16, f.Edit6, f.Button2}},
      {&sans15, {f.Button3, f.Button4, f.Button5}},
      {&modern, {f.StaticText1, f.StaticText2}},
  };
  for (const auto& [font, members] : groups) {
    for (TControl* c : members) EXPECT_EQ(c->GetFont(), *font) << c->Name();
  }
}

TEST_F(UiWindow, TabOrderOfTheWindowAndTheTrackBox) {
  TForm1& f = create();
  std::vector<std::string> window, group;
  for (TWinControl* c : f.TabList()) window.push_back(c->Name());
  for (TWinControl* c : f.GroupBox1->TabList()) group.push_back(c->Name());
  EXPECT_EQ(window,
            (std::vector<std::string>{
                "Button1",   "Button3",      "Button2",    "Button4",     "Button5",
                "Edit6",     "Button16",     "Button17",   "StaticText1", "StaticText2",
                "GroupBox1", "PageControl1", "CheckBox9",  "CheckBox1",   "CheckBox6",
                "CheckBox7", "CheckBox13",   "CheckBox11", "CheckBox12",  "CHK_SendAscii"}));
  EXPECT_EQ(group,
            (std::vector<std::string>{"CMB_LanguageType", "CMB_LanguageForOS", "CheckBox2",
                                      "CheckBox3", "CheckBox4", "Button7", "Edit1", "Button6",
                                      "Button8", "Edit2", "Button9", "Button10", "Edit3",
                                      "Button11", "Button12", "Edit4", "Button13", "CheckBox5"}));
}

TEST_F(UiWindow, FocusStartsOnHelpAndScrollingRevealsImage3) {
  TForm1& f = create_usb();
  f.Show();
  EXPECT_EQ(f.ActiveControl(), f.Button1);
  EXPECT_EQ(f.ScrollRange(), (TScrollRange{952, 557}));
  EXPECT_TRUE(f.HorzScrollBar());
  EXPECT_TRUE(f.VertScrollBar());
}

// --- ShowSettings ---

TEST_F(UiWindow, CodesOffDisablesTheRowsAndClearsTheirBits) {
  reader.mr1 = 0x10;  // lrc without lecodes
  reader.p2j = 0xC6 | 0x08;
  TForm1& f = create_usb();
  EXPECT_FALSE(f.CheckBox5->Checked());
  EXPECT_FALSE(get_bit(blk(), Bit::lrc));
  EXPECT_FALSE(get_bit(blk(), Bit::tabend));
  EXPECT_FALSE(f.CheckBox6->Checked());
  EXPECT_FALSE(f.CheckBox8->Checked());
  for (const auto& row : kTrackRows) {
    for (const char* name : row) EXPECT_FALSE(control(name)->Enabled()) << name;
  }
}

TEST_F(UiWindow, AZeroCodeShowsEmptyAndBecomesASpace) {
  reader.mr2 = 0;
  TForm1& f = create_usb();
  EXPECT_EQ(f.Edit1->Text(), "");
  EXPECT_EQ(blk().mr2, 0x20);
}

TEST_F(UiWindow, DelayAbove32BecomesZero) {
  for (int delay : {33, 40}) {
    reader.mr6 = static_cast<std::uint8_t>(delay);
    fresh();
    TForm1& f = create_usb();
    EXPECT_EQ(f.Edit6->Text(), "0") << delay;
    EXPECT_EQ(blk().mr6, 0) << delay;
  }
}

TEST_F(UiWindow, Jis2LayoutForAJisReader) {
  reader_jis = true;
  TForm1& f = create_usb();
  EXPECT_EQ(f.StaticText1->Caption(), "Reset to JIS2 Defaults");
  EXPECT_EQ(f.StaticText1->Top(), 34);
  EXPECT_EQ(f.StaticText1->Height(), 46);
  EXPECT_EQ(f.StaticText1->Left(), 42);
  EXPECT_EQ(f.StaticText1->Width(), 74);
  EXPECT_FALSE(f.StaticText2->Visible());
  EXPECT_FALSE(f.Button5->Visible());
  for (TControl* c :
       std::vector<TControl*>{f.CheckBox4, f.Label8, f.Label3, f.Button10, f.Button11, f.Edit3}) {
    EXPECT_FALSE(c->Enabled()) << c->Name();
  }
  EXPECT_TRUE(f.CheckBox4->Checked());
  EXPECT_EQ(f.Edit3->Text(), ";");
  // Codes back on with track 3 checked bring its code controls back, not its box.
  toggle(f.CheckBox5);
  toggle(f.CheckBox5);
  EXPECT_TRUE(f.Edit3->Enabled());
  EXPECT_FALSE(f.CheckBox4->Enabled());
  // A reset shows the settings again, and the layout with them.
  f.StaticText1->user_click();
  EXPECT_FALSE(f.Edit3->Enabled());
}

TEST_F(UiWindow, WithoutATransportLrcAndAdditionalCrAreGone) {
  reader.mr1 = 0x08 | 0x10 | 0x20;
  blk().mr1 = reader.mr1;
  TForm1& f = create_without_reader();
  EXPECT_FALSE(f.CheckBox6->Visible());
  EXPECT_FALSE(f.CheckBox6->Enabled());
  EXPECT_FALSE(f.CheckBox7->Visible());
  EXPECT_FALSE(f.CheckBox7->Enabled());
  EXPECT_FALSE(f.CheckBox8->Enabled());
  EXPECT_TRUE(get_bit(blk(), Bit::lrc));  // states untouched
  EXPECT_TRUE(get_bit(blk(), Bit::addcr));
}

TEST_F(UiWindow, AdditionalCrWinsOverTabToEnd) {
  reader.mr1 = 0x08 | 0x20;
  reader.p2j = 0xC6 | 0x08;
  TForm1& f = create_usb();
  EXPECT_TRUE(f.CheckBox7->Checked());
  EXPECT_FALSE(f.CheckBox8->Checked());
  EXPECT_TRUE(get_bit(blk(), Bit::addcr));
  EXPECT_FALSE(get_bit(blk(), Bit::tabend));
}

TEST_F(UiWindow, NoEndingCrDropsAdditionalCr) {
  reader.mr1 = 0x08 | 0x20;
  reader.kq1 = 0x80;
  TForm1& f = create_usb();
  EXPECT_FALSE(f.CheckBox9->Checked());
  EXPECT_FALSE(f.CheckBox7->Checked());
  EXPECT_FALSE(get_bit(blk(), Bit::addcr));
  EXPECT_TRUE(get_bit(blk(), Bit::nocr));
}

TEST_F(UiWindow, VendorClassDropsDosMode) {
  reader.kq1 = 0x30;
  TForm1& f = create_usb();
  EXPECT_TRUE(f.CheckBox12->Checked());
  EXPECT_FALSE(f.CheckBox11->Checked());
  EXPECT_FALSE(f.CheckBox11->Enabled());
  EXPECT_FALSE(get_bit(blk(), Bit::dosmode));
}

TEST_F(UiWindow, LanguagesShownOnlyForNewFirmwareAndWithoutHandlers) {
  reader_cif = true;
  reader.mr7 = 0x17;
  reader.kq2 = 0xC5;  // sendascii, android, French
  TForm1& f = create_usb();
  EXPECT_TRUE(f.CHK_SendAscii->Checked());
  EXPECT_EQ(f.CMB_LanguageForOS->ItemIndex(), 1);
  EXPECT_EQ(f.CMB_LanguageType->ItemIndex(), 5);
  EXPECT_EQ(blk().kq2, 0xC5);

  fresh();
  reader.kq2 = 0x09;
  TForm1& g = create_usb();
  EXPECT_EQ(g.CMB_LanguageType->ItemIndex(), -1);
  EXPECT_EQ(g.CMB_LanguageForOS->ItemIndex(), 0);
  EXPECT_EQ(lang(blk()), 9);

  fresh();
  reader.mr7 = 0x16;  // fwnum 16: the languages aren't shown
  reader.kq2 = 0x85;
  TForm1& h = create_usb();
  EXPECT_FALSE(h.CHK_SendAscii->Checked());
  EXPECT_EQ(h.CMB_LanguageType->ItemIndex(), -1);
}

// --- check boxes ---

struct BoxCase {
  const char* title;
  Boxes before;  // boxes set from code first, handlers and all
  const char* click;
  Bits bits;
  Boxes checked;
  Boxes enabled;
};
class UiCheckBoxes : public UiWindow, public ::testing::WithParamInterface<BoxCase> {};
TEST_P(UiCheckBoxes, KeepTheRulesOfTheBlock) {
  create_usb();
  const BoxCase& c = GetParam();
  for (const auto& [name, on] : c.before) box(name)->SetChecked(on);
  toggle(box(c.click));
  for (const auto& [bit, on] : c.bits) {
    EXPECT_EQ(get_bit(blk(), bit), on) << "bit " << static_cast<int>(bit);
  }
  for (const auto& [name, on] : c.checked) EXPECT_EQ(box(name)->Checked(), on) << name;
  for (const auto& [name, on] : c.enabled) EXPECT_EQ(control(name)->Enabled(), on) << name;
  EXPECT_TRUE(fos.message_boxes.empty());
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiCheckBoxes,
    ::testing::Values(
        BoxCase{"AltNumOff", {}, "CheckBox1", {{Bit::altnum, false}}, {}, {}},
        BoxCase{"AltNumOn", {{"CheckBox1", false}}, "CheckBox1", {{Bit::altnum, true}}, {}, {}},
        BoxCase{"Track1Off",
                {},
                "CheckBox2",
                {{Bit::t1off, true}},
                {},
                {{"Label6", false},
                 {"Button6", false},
                 {"Button7", false},
                 {"Edit1", false},
                 {"Edit2", true}}},
        BoxCase{"Track1OnWhileCodesOff",
                {{"CheckBox2", false}, {"CheckBox5", false}},
                "CheckBox2",
                {{Bit::t1off, false}, {Bit::lecodes, false}},
                {{"CheckBox5", false}},
                {{"Label6", true},
                 {"Button6", true},
                 {"Button7", true},
                 {"Edit1", true},
                 {"Edit2", false}}},
        BoxCase{"Track2Off",
                {},
                "CheckBox3",
                {{Bit::t2off, true}},
                {},
                {{"Label7", false}, {"Button8", false}, {"Button9", false}, {"Edit2", false}}},
        BoxCase{"Track3Off",
                {},
                "CheckBox4",
                {{Bit::t3off, true}},
                {},
                {{"Label8", false}, {"Button10", false}, {"Button11", false}, {"Edit3", false}}},
        BoxCase{
            "CodesOffWithUsb",
            {{"CheckBox6", true}, {"CheckBox7", true}},
            "CheckBox5",
            {{Bit::lecodes, false}, {Bit::lrc, false}, {Bit::addcr, false}, {Bit::tabend, false}},
            {{"CheckBox6", false}, {"CheckBox7", false}, {"CheckBox8", false}},
            {{"Label6", false},
             {"Edit1", false},
             {"Button12", false},
             {"Edit4", false},
             {"Label9", false},
             {"Button11", false}}},
        BoxCase{"CodesOnEnablesCheckedTracksAndTheEnding",
                {{"CheckBox5", false}, {"CheckBox3", false}},
                "CheckBox5",
                {{Bit::lecodes, true}},
                {},
                {{"Edit1", true},
                 {"Label6", true},
                 {"Edit2", false},
                 {"Button9", false},
                 {"Edit3", true},
                 {"Edit4", true},
                 {"Button12", true},
                 {"Label9", true}}},
        BoxCase{"LrcOnTurnsCodesOn",
                {{"CheckBox5", false}},
                "CheckBox6",
                {{Bit::lrc, true}, {Bit::lecodes, true}},
                {{"CheckBox5", true}},
                {{"Edit1", true}}},
        BoxCase{"LrcOff",
                {{"CheckBox6", true}},
                "CheckBox6",
                {{Bit::lrc, false}, {Bit::lecodes, true}},
                {{"CheckBox5", true}},
                {}},
        BoxCase{"AdditionalCrOnDropsTab",
                {{"CheckBox8", true}},
                "CheckBox7",
                {{Bit::addcr, true}, {Bit::tabend, false}, {Bit::lecodes, true}},
                {{"CheckBox8", false}, {"CheckBox5", true}},
                {}},
        BoxCase{
            "AdditionalCrOff", {{"CheckBox7", true}}, "CheckBox7", {{Bit::addcr, false}}, {}, {}},
        BoxCase{"TabOnDropsAdditionalCr",
                {{"CheckBox7", true}},
                "CheckBox8",
                {{Bit::tabend, true}, {Bit::addcr, false}, {Bit::lecodes, true}},
                {{"CheckBox7", false}, {"CheckBox5", true}},
                {{"Edit1", true}, {"Edit4", true}}},
        BoxCase{"TabOff", {{"CheckBox8", true}}, "CheckBox8", {{Bit::tabend, false}}, {}, {}},
        BoxCase{"EndingCrOffDropsAdditionalCr",
                {{"CheckBox7", true}},
                "CheckBox9",
                {{Bit::nocr, true}, {Bit::addcr, false}},
                {{"CheckBox7", false}},
                {}},
        BoxCase{"AdditionalCrDoesntBringEndingCrBack",
                {{"CheckBox9", false}},
                "CheckBox7",
                {{Bit::nocr, true}, {Bit::addcr, true}},
                {{"CheckBox9", false}},
                {}},
        BoxCase{"EndingCrOn", {{"CheckBox9", false}}, "CheckBox9", {{Bit::nocr, false}}, {}, {}},
        BoxCase{"NumLockOn", {}, "CheckBox10", {{Bit::numlock, true}}, {}, {}},
        BoxCase{"DosModeOn", {}, "CheckBox11", {{Bit::dosmode, true}}, {}, {}},
        BoxCase{"VendorClassOnDropsDosMode",
                {{"CheckBox11", true}},
                "CheckBox12",
                {{Bit::vendorcls, true}, {Bit::dosmode, false}},
                {{"CheckBox11", false}},
                {{"CheckBox11", false}}},
        BoxCase{"VendorClassOffFreesDosModeUnchecked",
                {{"CheckBox12", true}},
                "CheckBox12",
                {{Bit::vendorcls, false}, {Bit::dosmode, false}},
                {{"CheckBox11", false}},
                {{"CheckBox11", true}}},
        BoxCase{"SendAsciiOn", {}, "CHK_SendAscii", {{Bit::sendascii, true}}, {}, {}}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(UiWindow, CodesOffWithoutATransportKeepsLrcAndAdditionalCr) {
  blk().mr1 = 0x08 | 0x10 | 0x20;
  TForm1& f = create_without_reader();
  toggle(f.CheckBox5);
  EXPECT_FALSE(get_bit(blk(), Bit::lecodes));
  EXPECT_TRUE(get_bit(blk(), Bit::lrc));
  EXPECT_TRUE(get_bit(blk(), Bit::addcr));
}

// --- the interface switch ---

TEST_F(UiWindow, InterfaceBoxDoesNothingWithoutCif) {
  TForm1& f = create_usb();
  EXPECT_FALSE(f.CheckBox13->Visible());
  toggle(f.CheckBox13);
  EXPECT_TRUE(fos.message_boxes.empty());
  EXPECT_FALSE(get_bit(blk(), Bit::vcomif));
}

struct SwitchCase {
  const char* title;
  bool usb;              // reader on USB, else on vCOM
  bool vcomif;           // as the reader reports it
  int answer;            // to the question
  const char* question;  // nullptr: none asked
  const char* caption;
  bool box_after, vcomif_after;
};
class UiInterfaceSwitch : public UiWindow, public ::testing::WithParamInterface<SwitchCase> {};
TEST_P(UiInterfaceSwitch, AsksBeforeItRecordsTheNewInterface) {
  const SwitchCase& c = GetParam();
  reader_cif = true;
  reader.kq1 = c.vcomif ? 0x01 : 0x00;
  TForm1& f = c.usb ? create_usb() : create_vcom();
  ASSERT_TRUE(fos.message_boxes.empty());
  ASSERT_TRUE(f.CheckBox13->Visible());
  fos.message_box_answers.push_back(c.answer);
  f.CheckBox13->user_click();
  if (c.question == nullptr) {
    EXPECT_TRUE(fos.message_boxes.empty());
  } else {
    ASSERT_EQ(fos.message_boxes.size(), 1u);
    EXPECT_EQ(fos.message_boxes[0].text, c.question);
    EXPECT_EQ(fos.message_boxes[0].caption, c.caption);
    EXPECT_EQ(fos.message_boxes[0].type, w32::kMbOkCancel);
  }
  EXPECT_EQ(f.CheckBox13->Checked(), c.box_after);
  EXPECT_EQ(get_bit(blk(), Bit::vcomif), c.vcomif_after);
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiInterfaceSwitch,
    ::testing::Values(SwitchCase{"UsbToVcomOk", true, false, w32::kIdOk,
                                 "MSR will change to Virtual COM port interface",
                                 "ZOV ORU VAZ Izove Duro", true, true},
                      SwitchCase{"UsbToVcomCancel", true, false, w32::kIdCancel,
                                 "MSR will change to Virtual COM port interface",
                                 "ZOV ORU VAZ Izove Duro", false, false},
                      SwitchCase{"VcomToUsbOk", false, true, w32::kIdOk,
                                 "MSR will change to USB hid keyboard interface",
                                 "ZUR URU VED Ededodu", false, false},
                      SwitchCase{"VcomToUsbCancel", false, true, w32::kIdCancel,
                                 "MSR will change to USB hid keyboard interface",
                                 "ZUR URU VED Ededodu", true, true},
                      // Back to the interface the reader is on: no question, and the
                      // block follows the box, so Save sends no switch.
                      SwitchCase{"CheckedOnVcomAsksNothing", false, false, w32::kIdOk, nullptr, "",
                                 true, true}),
    [](const auto& info) { return std::string(info.param.title); });

// A change of mind after a confirmed switch: the block follows the box back, so Save
// sends the interface the box shows.
TEST_F(UiWindow, InterfaceBoxAndSwitchAgreeAfterAChangeOfMind) {
  reader_cif = true;
  for (const bool usb : {true, false}) {
    SCOPED_TRACE(usb ? "usb" : "vcom");
    reader.kq1 = usb ? 0x00 : 0x01;
    TForm1& f = usb ? create_usb() : create_vcom();
    fos.message_box_answers = {w32::kIdOk};
    f.CheckBox13->user_click();  // to the other interface, confirmed
    EXPECT_EQ(get_bit(blk(), Bit::vcomif), usb);
    f.CheckBox13->user_click();  // and back again
    EXPECT_EQ(fos.message_boxes.size(), 1u);
    EXPECT_EQ(f.CheckBox13->Checked(), !usb);
    EXPECT_EQ(get_bit(blk(), Bit::vcomif), !usb);
    fresh();
  }
}

TEST_F(UiWindow, UsbReaderInVcomModeAsksAtCreationAndCancelClearsTheSwitch) {
  reader_cif = true;
  reader.kq1 = 0x01;
  fos.message_box_answers.push_back(w32::kIdCancel);
  TForm1& f = create_usb();
  EXPECT_EQ(message_texts(),
            std::vector<std::string>{"MSR will change to Virtual COM port interface"});
  EXPECT_FALSE(f.CheckBox13->Checked());
  // The box and the block agree, so Save doesn't send the switch that was declined.
  EXPECT_FALSE(get_bit(blk(), Bit::vcomif));
  f.Button2->user_click();
  EXPECT_EQ(written_kq1, 0x00);
}

TEST_F(UiWindow, UsbReaderInVcomModeKeepsTheSwitchWhenConfirmed) {
  reader_cif = true;
  reader.kq1 = 0x01;
  TForm1& f = create_usb();
  EXPECT_EQ(fos.message_boxes.size(), 1u);
  EXPECT_TRUE(f.CheckBox13->Checked());
  EXPECT_TRUE(get_bit(blk(), Bit::vcomif));
}

TEST_F(UiWindow, VcomReaderStartsCheckedWithoutAQuestion) {
  reader_cif = true;
  reader.kq1 = 0x01;
  TForm1& f = create_vcom();
  EXPECT_TRUE(fos.message_boxes.empty());
  EXPECT_TRUE(f.CheckBox13->Checked());
  EXPECT_TRUE(get_bit(blk(), Bit::vcomif));
}

// --- code edits and steppers ---

struct StepCase {
  const char* button;
  const char* edit;
  std::uint8_t SettingsBlock::*code;
  std::uint8_t before;
  std::string after_text;
  std::uint8_t after_code;
};
class UiSteppers : public UiWindow, public ::testing::WithParamInterface<StepCase> {};
TEST_P(UiSteppers, WrapWithinThePrintableCodes) {
  const StepCase& c = GetParam();
  create_usb();
  edit(c.edit)->SetText(std::string(1, static_cast<char>(c.before)));
  ASSERT_EQ(blk().*c.code, c.before);
  control(c.button)->user_click();
  EXPECT_EQ(edit(c.edit)->Text(), c.after_text);
  EXPECT_EQ(blk().*c.code, c.after_code);
  EXPECT_TRUE(fos.message_boxes.empty());
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiSteppers,
    ::testing::Values(StepCase{"Button6", "Edit1", &SettingsBlock::mr2, '~', " ", 0x20},
                      StepCase{"Button7", "Edit1", &SettingsBlock::mr2, ' ', "~", 0x7E},
                      StepCase{"Button6", "Edit1", &SettingsBlock::mr2, 'A', "B", 'B'},
                      StepCase{"Button7", "Edit1", &SettingsBlock::mr2, 'B', "A", 'A'},
                      StepCase{"Button6", "Edit1", &SettingsBlock::mr2, 0xFF, "", 0x20},
                      StepCase{"Button6", "Edit1", &SettingsBlock::mr2, 0x1F, " ", 0x20},
                      StepCase{"Button6", "Edit1", &SettingsBlock::mr2, 0x7F, "\x80", 0x80},
                      StepCase{"Button7", "Edit1", &SettingsBlock::mr2, 0x80, "\x7F", 0x7F},
                      StepCase{"Button7", "Edit1", &SettingsBlock::mr2, 0x81, "~", 0x7E},
                      StepCase{"Button7", "Edit1", &SettingsBlock::mr2, 0x01, "~", 0x7E},
                      StepCase{"Button9", "Edit2", &SettingsBlock::mr3, '~', " ", 0x20},
                      StepCase{"Button8", "Edit2", &SettingsBlock::mr3, ' ', "~", 0x7E},
                      StepCase{"Button11", "Edit3", &SettingsBlock::mr4, ';', "<", '<'},
                      StepCase{"Button10", "Edit3", &SettingsBlock::mr4, ';', ":", ':'},
                      StepCase{"Button13", "Edit4", &SettingsBlock::mr5, '?', "@", '@'},
                      StepCase{"Button12", "Edit4", &SettingsBlock::mr5, ' ', "~", 0x7E}));

TEST_F(UiWindow, StepperOnAnEmptyCodeIsARangeError) {
  for (const char* button : {"Button6", "Button7"}) {
    TForm1& f = create_usb();
    f.Edit1->user_type("");
    ASSERT_EQ(blk().mr2, 0x20);
    blk().mr2 = 0x41;  // shows that nothing at all is stored
    control(button)->user_click();
    EXPECT_EQ(f.Edit1->Text(), "");
    EXPECT_EQ(blk().mr2, 0x41);
    ASSERT_EQ(fos.message_boxes.size(), 1u) << button;
    EXPECT_EQ(fos.message_boxes[0].text, "Range check error");
    EXPECT_EQ(fos.message_boxes[0].caption, "ZOV ORU VAZ Izove Duro");
    fresh();
  }
}

TEST_F(UiWindow, CodeEditsStoreWhatIsTyped) {
  TForm1& f = create_usb();
  f.Edit2->user_type("");
  EXPECT_EQ(blk().mr3, 0x20);
  EXPECT_EQ(f.Edit2->Text(), "");
  f.Edit2->user_type("AB");
  EXPECT_EQ(f.Edit2->Text(), "A");
  EXPECT_EQ(blk().mr3, 'A');
  f.Edit3->user_type("#");
  f.Edit4->user_type("!");
  f.Edit1->user_type("\xE9");
  EXPECT_EQ(blk().mr4, '#');
  EXPECT_EQ(blk().mr5, '!');
  EXPECT_EQ(blk().mr2, 0xE9);
}

// --- the delay ---

enum class DelayAct { type, more, less, leave };
struct DelayCase {
  const char* title;
  const char* start;  // the edit's text first (typed; errors there are not checked)
  DelayAct act;
  const char* typed;
  std::string text;
  int mr6;  // -1: unchanged from what start left
  const char* error;
};
class UiDelay : public UiWindow, public ::testing::WithParamInterface<DelayCase> {};
TEST_P(UiDelay, ClampsAndWraps) {
  const DelayCase& c = GetParam();
  TForm1& f = create_usb();
  f.Edit6->user_type(c.start);
  int before = blk().mr6;
  fos.message_boxes.clear();
  switch (c.act) {
    case DelayAct::type:
      f.Edit6->user_type(c.typed);
      break;
    case DelayAct::more:
      f.Button17->user_click();
      break;
    case DelayAct::less:
      f.Button16->user_click();
      break;
    case DelayAct::leave:
      f.Edit6->SetFocus();
      f.user_focus(f.Button1);
      break;
  }
  EXPECT_EQ(f.Edit6->Text(), c.text);
  EXPECT_EQ(blk().mr6, c.mr6 < 0 ? before : c.mr6);
  if (c.error == nullptr) {
    EXPECT_TRUE(fos.message_boxes.empty());
  } else {
    ASSERT_EQ(fos.message_boxes.size(), 1u);
    EXPECT_EQ(fos.message_boxes[0].text, c.error);
    EXPECT_EQ(fos.message_boxes[0].caption, "ZOV ORU VAZ Izove Duro");
  }
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiDelay,
    ::testing::Values(
        DelayCase{"MoreOn32WrapsTo0", "32", DelayAct::more, "", "0", 0, nullptr},
        DelayCase{"LessOn0WrapsTo32", "0", DelayAct::less, "", "32", 32, nullptr},
        DelayCase{"MoreOn5", "5", DelayAct::more, "", "6", 6, nullptr},
        DelayCase{"MoreOnUnreadableGives1", "x", DelayAct::more, "", "1", 1, nullptr},
        DelayCase{"LessOnEmptyGives32", "", DelayAct::less, "", "32", 32, nullptr},
        DelayCase{"LeadingZeroDropped", "", DelayAct::type, "07", "7", 7, nullptr},
        DelayCase{"NineStored", "", DelayAct::type, "9", "9", 9, nullptr},
        DelayCase{"NinetyNineBecomes0", "9", DelayAct::type, "99", "0", 0, nullptr},
        DelayCase{"FiftyBecomes0", "", DelayAct::type, "50", "0", 0, nullptr},
        DelayCase{"NegativeBecomes32", "", DelayAct::type, "-5", "32", 32, nullptr},
        DelayCase{"LoneMinusRefused", "", DelayAct::type, "-", "-", -1,
                  "'-' is not a valid integer value"},
        DelayCase{"LetterRefused", "3", DelayAct::type, "3x", "3x", -1,
                  "'3x' is not a valid integer value"},
        DelayCase{"EmptyWhileTypingIsFine", "12", DelayAct::type, "", "", -1, nullptr},
        DelayCase{"LeavingEmptyIsRefused", "", DelayAct::leave, "", "", -1,
                  "'' is not a valid integer value"},
        DelayCase{"LeavingWithANumberStoresIt", "12", DelayAct::leave, "", "12", 12, nullptr}),
    [](const auto& info) { return std::string(info.param.title); });

// --- labels ---

TEST_F(UiWindow, LabelsMoveTheFocusToTheirEdit) {
  TForm1& f = create_usb();
  std::vector<std::pair<TControl*, TEdit*>> pairs = {{f.Label1, f.Edit1},
                                                     {f.Label2, f.Edit2},
                                                     {f.Label3, f.Edit3},
                                                     {f.Label4, f.Edit4},
                                                     {f.Label5, f.Edit6}};
  for (auto [label, target] : pairs) {
    label->user_click();
    EXPECT_EQ(f.ActiveControl(), target) << label->Name();
  }
}

// --- resets ---

struct ResetCase {
  const char* title;
  bool vcom, jis;
  const char* click;
  std::uint8_t p2j, mr3, mr5, mr6;
};
class UiResets : public UiWindow, public ::testing::WithParamInterface<ResetCase> {};
TEST_P(UiResets, WriteTheirSetAndShowIt) {
  const ResetCase& c = GetParam();
  reader_jis = c.jis;
  reader.p2j = 0x0F;  // nothing of any set
  reader.mr1 = 0x08 | 0x07;
  reader.mr2 = reader.mr3 = reader.mr4 = reader.mr5 = 'Z';
  reader.mr6 = 30;
  reader.mr7 = 0x31;
  reader.kq1 = 0xF1;
  reader.kq2 = 0x37;
  TForm1& f = c.vcom ? create_vcom() : create_usb();
  blk().kq2 = 0x37;  // a vCOM reader leaves it to the window; either way a reset keeps it
  control(c.click)->user_click();
  const SettingsBlock& b = blk();
  EXPECT_EQ(b.p2j, c.p2j);
  EXPECT_EQ(b.mr1, 0x08);
  EXPECT_EQ(b.mr2, '%');
  EXPECT_EQ(b.mr3, c.mr3);
  EXPECT_EQ(b.mr4, ';');
  EXPECT_EQ(b.mr5, c.mr5);
  EXPECT_EQ(b.mr6, c.mr6);
  EXPECT_EQ(b.mr7, 0x31);
  EXPECT_EQ(b.kq1, 0x01);
  EXPECT_EQ(b.kq2, 0x37);
  EXPECT_TRUE(f.CheckBox9->Checked());
  EXPECT_FALSE(f.CheckBox10->Checked());
  EXPECT_FALSE(f.CheckBox12->Checked());
  EXPECT_FALSE(f.CheckBox11->Checked());
  EXPECT_TRUE(f.CheckBox2->Checked());
  EXPECT_EQ(f.Edit2->Text(), std::string(1, static_cast<char>(c.mr3)));
  EXPECT_EQ(f.Edit6->Text(), std::to_string(c.mr6));
}
INSTANTIATE_TEST_SUITE_P(
    Table, UiResets,
    ::testing::Values(ResetCase{"EnglishUsb", false, false, "Button4", 0x46, ';', '?', 0},
                      ResetCase{"EnglishByItsText", false, false, "StaticText1", 0x46, ';', '?', 0},
                      ResetCase{"EnglishVcom", true, false, "Button4", 0x46, ';', '?', 0},
                      ResetCase{"Jis2Usb", false, true, "Button4", 0xC6, '?', ';', 2},
                      ResetCase{"Jis2Vcom", true, true, "StaticText1", 0xC6, '?', ';', 2},
                      ResetCase{"NonEnglishUsb", false, false, "Button5", 0xC6, ';', '?', 2},
                      ResetCase{"NonEnglishByItsText", false, false, "StaticText2", 0xC6, ';', '?',
                                2},
                      ResetCase{"NonEnglishVcom", true, false, "Button5", 0x46, ';', '?', 0}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(UiWindow, ResetTextsPassTheFocusToTheirButton) {
  TForm1& f = create_usb();
  f.StaticText2->user_click();
  EXPECT_EQ(f.ActiveControl(), f.Button5);
  f.StaticText1->user_click();
  EXPECT_EQ(f.ActiveControl(), f.Button4);
}

TEST_F(UiWindow, FirmwareJis2LayoutStillResetsToEnglish) {
  reader_cif = true;
  reader.mr7 = 0x13;
  TForm1& f = create_usb();
  EXPECT_EQ(f.StaticText1->Caption(), "Reset to JIS2 Defaults");
  f.StaticText1->user_click();
  EXPECT_EQ(blk().p2j, 0x46);
  EXPECT_EQ(blk().mr3, ';');
  EXPECT_EQ(blk().mr5, '?');
}

}  // namespace
}  // namespace msr::uitest
