#include "ui/Unit1.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <variant>

#include "common/flags.h"
#include "common/log.h"
#include "common/paths.h"
#include "platform/os.h"
#include "settings/history.h"
#include "settings/settings_block.h"
#include "transport/ps2/ps2.h"
#include "transport/save.h"
#include "transport/usb/usb.h"
#include "transport/vcom/vcom.h"
#include "ui/form1_layout.h"

namespace msr {

namespace {

using namespace form1;

const TFont& font_of(FontId id) {
  static const std::array<TFont, std::size(kFonts)> fonts = [] {
    std::array<TFont, std::size(kFonts)> out;
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = to_font(kFonts[i]);
    return out;
  }();
  return fonts[id];
}

const char* const kWindowTabOrder[] = {"Button1",     "Button3",     "Button2",    "Button4",
                                       "Button5",     "Edit6",       "Button16",   "Button17",
                                       "StaticText1", "StaticText2", "GroupBox1",  "PageControl1",
                                       "CheckBox9",   "CheckBox1",   "CheckBox6",  "CheckBox7",
                                       "CheckBox13",  "CheckBox11",  "CheckBox12", "CHK_SendAscii"};

const char* const kGroupTabOrder[] = {"CMB_LanguageType",
                                      "CMB_LanguageForOS",
                                      "CheckBox2",
                                      "CheckBox3",
                                      "CheckBox4",
                                      "Button7",
                                      "Edit1",
                                      "Button6",
                                      "Button8",
                                      "Edit2",
                                      "Button9",
                                      "Button10",
                                      "Edit3",
                                      "Button11",
                                      "Button12",
                                      "Edit4",
                                      "Button13",
                                      "CheckBox5"};

constexpr char kVersionSuffix[] = "  v5.02";
constexpr char kNoMsr[] = "No MSR Detected!";
constexpr char kVcomNoMsrTitle[] = "VOV EZE rAZO ZOR Udozadi";
// Firmware from 13 on carries the product's own title; older firmware is a JIS2 build.
constexpr std::int32_t kTitleFirmware = 13;
// Firmware below 14 behind a switchable interface has no third track and a fixed CR.
constexpr std::int32_t kJis2Firmware = 14;
// Firmware from 17 on knows the keyboard languages and "Send Ascii".
constexpr std::int32_t kLanguageFirmware = 17;

std::string code_text(std::uint8_t code) {
  return code == 0 ? std::string() : std::string(1, static_cast<char>(code));
}

// A code edit stores its first character, or a space when it is empty.
void store_code(std::uint8_t& code, const TEdit* edit) {
  code = edit->Text().empty() ? 0x20 : static_cast<std::uint8_t>(edit->Text()[0]);
}

// The steppers count on a signed 8-bit value and keep to 20h..7Eh when they wrap.
void step_code(TEdit* edit, int delta) {
  if (edit->Text().empty()) throw ERangeError();
  auto c = static_cast<std::int8_t>(edit->Text()[0]);
  int n = static_cast<std::int8_t>(c + delta);
  if (delta > 0 && n > 126) n = 32;
  if (delta < 0 && n < 32) n = 126;
  edit->SetText(code_text(static_cast<std::uint8_t>(n)));
}

void step_delay(TEdit* edit, int delta) {
  std::int64_t v = std::int64_t{StrToIntDef(edit->Text(), 0)} + delta;
  if (v > 32) v = 0;
  if (v < 0) v = 32;
  edit->SetText(IntToStr(static_cast<std::int32_t>(v)));
}

bool usb_or_vcom() {
  return g_shell.usb != 0 || g_shell.vcom != 0;
}

}  // namespace

TForm1::TForm1() : TForm("Form1") {
  build_layout();
  OnCreate = [this](TObject* sender) { FormCreate(sender); };
  DoCreate();
  log_windows_version();
}

void TForm1::build_layout() {
  SetCaption(kCaption);
  SetClientSize(kClientWidth, kClientHeight);
  SetFont(font_of(kFormFont));
  for (const Row& row : kLayout) {
    auto* parent =
        row.parent == nullptr ? this : dynamic_cast<TWinControl*>(FindControl(row.parent));
    TControl* control = std::visit(
        [&](auto member) -> TControl* {
          using T = std::remove_pointer_t<std::remove_reference_t<decltype(this->*member)>>;
          T* made = nullptr;
          if constexpr (std::is_same_v<T, TTabSheet>) {
            made = Add<T>(row.name, static_cast<TPageControl*>(parent));
          } else {
            made = Add<T>(row.name, parent);
          }
          this->*member = made;
          return made;
        },
        row.field);
    control->SetBounds(row.left, row.top, row.width, row.height);
    if (row.font != kFormFont) control->SetFont(font_of(row.font));
    control->SetVisible((row.state & kHidden) == 0);
    control->SetEnabled((row.state & kDisabled) == 0);
    if (row.state & kCentered) control->SetAlignment(TAlignment::taCenter);
    if (row.state & kMiddle) control->SetLayout(TTextLayout::tlCenter);
    switch (control->Kind()) {
      case ControlKind::check_box:
        static_cast<TCheckBox*>(control)->SetChecked((row.state & kChecked) != 0);
        control->SetCaption(row.caption);
        break;
      case ControlKind::edit: {
        auto* edit = static_cast<TEdit*>(control);
        edit->SetText(row.caption);
        edit->SetMaxLength(row.state & kOneChar ? 1 : row.state & kTwoChars ? 2 : 0);
        break;
      }
      case ControlKind::image: {
        auto* image = static_cast<TImage*>(control);
        image->SetPicture({row.caption, row.width, row.height});
        image->SetAutoSize((row.state & kAutoSize) != 0);
        break;
      }
      case ControlKind::button:
        static_cast<TButton*>(control)->SetCancel((row.state & kCancel) != 0);
        control->SetCaption(row.caption);
        break;
      default:
        control->SetCaption(row.caption);
        break;
    }
  }
  // The handlers come last, so that putting the design state in place runs none.
  auto bind = [this](Handler h) -> TNotifyEvent {
    if (h == nullptr) return nullptr;
    return [this, h](TObject* sender) { (this->*h)(sender); };
  };
  for (const Row& row : kLayout) {
    TControl* control = FindControl(row.name);
    control->OnClick = bind(row.click);
    if (auto* edit = dynamic_cast<TEdit*>(control)) {
      edit->OnChange = bind(row.change);
      edit->OnExit = bind(row.exit);
    } else if (auto* combo = dynamic_cast<TComboBox*>(control)) {
      combo->OnChange = bind(row.change);
    }
  }
  CMB_LanguageForOS->SetItems({std::begin(kHostOsNames), std::end(kHostOsNames)});
  CMB_LanguageType->SetItems({std::begin(kLanguageNames), std::end(kLanguageNames)});
  int position = 0;
  for (const char* name : kWindowTabOrder) {
    static_cast<TWinControl*>(FindControl(name))->SetTabOrder(position++);
  }
  position = 0;
  for (const char* name : kGroupTabOrder) {
    static_cast<TWinControl*>(FindControl(name))->SetTabOrder(position++);
  }
  PageControl1->SetActivePage(TabSheet1);
}

void TForm1::log_windows_version() {
  std::uint32_t vnum = os().GetVersion();
  OsVersionInfo osvi;
  osvi.size = 148;
  int ok = os().GetVersionExA(&osvi) ? 1 : 0;
  if (!log_on()) return;
  log_write(" vnum=%lu, ok=%d \n", static_cast<unsigned long>(vnum), ok);
  if (ok != 0) {
    log_write(" osvi=%lu,%lu,%lu,%lu,%s \n", static_cast<unsigned long>(osvi.major),
              static_cast<unsigned long>(osvi.minor), static_cast<unsigned long>(osvi.build),
              static_cast<unsigned long>(osvi.platform_id), osvi.csd_version.c_str());
  }
}

// --- creation ---

void TForm1::FormCreate(TObject*) {
  SettingsBlock& b = blk();
  PageControl1->SetActivePage(TabSheet1);
  CheckBox10->SetEnabled(true);
  CheckBox11->SetEnabled(true);
  CheckBox12->SetEnabled(true);
  os().Beep(1000, 100);

  // A reader without the extended block: "Send Ending CR" stays on.
  auto ending_cr_fixed = [this](bool enabled) {
    TabSheet2->SetTabVisible(false);
    CheckBox9->SetChecked(true);
    CheckBox9->SetEnabled(enabled);
    CheckBox11->SetChecked(false);
    CheckBox11->SetEnabled(false);
  };
  auto no_reader = [](const char* title) {
    Application.MessageBox(kNoMsr, title, w32::kMbOk);
    g_shell.runloop = 0;
  };

  if (g_shell.vcom != 0) {
    int r = g_transports.setcom(0);
    SetCaption(std::string(" POS vCOM MSR Setup Tool") + kVersionSuffix);
    if (r != 0) return no_reader(kVcomNoMsrTitle);
    Label10->SetCaption(g_shell.status);
    ending_cr_fixed(true);
  } else if (g_shell.usb != 0) {
    SetCaption(std::string(" ") + kAppTitle + kVersionSuffix);
    int r = g_transports.setusb(0);
    if (r != 0) return no_reader(kAppTitle);
    g_transports.setusb1(0);
    Label10->SetCaption(g_shell.status);
    if (g_usb.ext_f != 0) {
      TabSheet2->SetTabVisible(true);
    } else {
      ending_cr_fixed(false);
    }
  } else {
    int r = g_transports.setusb(0);
    if (r != 0) r = g_transports.setcom(0);
    if (r != 0) {
      SetCaption(std::string(" POS USB/vCOM MSR Setup Tool") + kVersionSuffix);
      return no_reader(kAppTitle);
    }
    if (g_shell.usb != 0) {
      g_transports.setusb1(0);
    } else {
      Label10->SetCaption(g_shell.status);
    }
    if (g_usb.ext_f != 0 && g_shell.usb != 0) {
      TabSheet2->SetTabVisible(true);
    } else {
      ending_cr_fixed(true);
    }
  }

  if (g_shell.jis != 0) {
    SetCaption(std::string(g_shell.vcom != 0 ? " POS USB vCOM JIS2 MSR Setup Tool"
                                             : " POS USB JIS2 MSR Setup Tool") +
               kVersionSuffix);
    Label10->SetCaption(g_shell.status + " (JIS2)");
    ending_cr_fixed(false);
  }
  if (g_shell.vcom != 0) {
    CheckBox1->SetEnabled(false);
    CheckBox1->SetChecked(false);
    Label5->Hide();
    Button16->Hide();
    Button17->Hide();
    Edit6->Hide();
  }
  CheckBox13->SetVisible(g_shell.cif != 0);
  if (g_shell.vclass != 0) CheckBox12->Show();
  g_settings.fwtext = make_fwtext(b.mr7);
  os().Beep(2000, 100);
  g_settings.fwnum = make_fwnum(g_settings.fwtext);
  if (g_shell.jis == 0 && g_shell.cif != 0 && g_settings.fwnum < kJis2Firmware)
    ending_cr_fixed(false);
  if (g_settings.fwnum >= kTitleFirmware && usb_or_vcom()) {
    SetCaption(std::string(" ") + kAppTitle + kVersionSuffix);
  } else if (g_settings.fwnum < kTitleFirmware) {
    if (g_shell.usb != 0) {
      SetCaption(std::string(" POS USB JIS2 MSR Setup Tool") + kVersionSuffix);
    } else if (g_shell.vcom != 0) {
      SetCaption(std::string(" POS USB vCOM JIS2 MSR Setup Tool") + kVersionSuffix);
    }
  }
  SetCaption(Caption() + g_settings.fwtext);
  if (log_on()) log_write(" kq1=%x \n", static_cast<unsigned>(b.kq1));
  CheckBox13->SetChecked(get_bit(b, Bit::vcomif));
  ShowSettings();
  Image1->SetAutoSize(true);
  Image2->SetAutoSize(true);
  Image3->Show();
  if (log_on()) {
    log_write(" p2j=%x, mr1=%x,%x,%x,%x,%x,%x,%x \n", static_cast<unsigned>(b.p2j),
              static_cast<unsigned>(b.mr1), static_cast<unsigned>(b.mr2),
              static_cast<unsigned>(b.mr3), static_cast<unsigned>(b.mr4),
              static_cast<unsigned>(b.mr5), static_cast<unsigned>(b.mr6),
              static_cast<unsigned>(b.mr7));
    log_write(" 92.11.27, 95.10.31 \n");
    log_flush();
  }
}

// --- the block shown in the controls ---

void TForm1::ShowSettings() {
  // Each box set here runs its handler when its state changes, so the order of these
  // steps decides how a block that breaks the rules comes out.
  SettingsBlock& b = blk();
  CheckBox1->SetChecked(get_bit(b, Bit::altnum));
  CheckBox2->SetChecked(!get_bit(b, Bit::t1off));
  CheckBox3->SetChecked(!get_bit(b, Bit::t2off));
  CheckBox4->SetChecked(!get_bit(b, Bit::t3off));
  CheckBox5->SetChecked(get_bit(b, Bit::lecodes));
  if (usb_or_vcom()) {
    CheckBox6->SetChecked(get_bit(b, Bit::lrc));
    CheckBox7->SetChecked(get_bit(b, Bit::addcr));
    CheckBox8->SetChecked(get_bit(b, Bit::tabend));
  } else {
    CheckBox6->SetEnabled(false);
    CheckBox6->Hide();
    CheckBox7->SetEnabled(false);
    CheckBox7->Hide();
    CheckBox8->SetEnabled(false);
  }
  Edit1->SetText(code_text(b.mr2));
  Edit2->SetText(code_text(b.mr3));
  Edit3->SetText(code_text(b.mr4));
  Edit4->SetText(code_text(b.mr5));
  Edit6->SetText(IntToStr(b.mr6));
  if (g_shell.jis != 0) apply_jis2_layout();
  if (g_shell.jis == 0 && g_shell.cif != 0 && g_settings.fwnum < kJis2Firmware) apply_jis2_layout();
  CheckBox9->SetChecked(!get_bit(b, Bit::nocr));
  CheckBox10->SetChecked(get_bit(b, Bit::numlock));
  CheckBox12->SetChecked(get_bit(b, Bit::vendorcls));
  CheckBox11->SetChecked(get_bit(b, Bit::dosmode));
  if (g_shell.jis == 0 && g_shell.cif != 0 && g_settings.fwnum >= kLanguageFirmware) {
    CHK_SendAscii->SetChecked(get_bit(b, Bit::sendascii));
    CMB_LanguageForOS->SetItemIndex(get_bit(b, Bit::android) ? 1 : 0);
    CMB_LanguageType->SetItemIndex(lang(b));
  }
}

void TForm1::apply_jis2_layout() {
  // A JIS2 reader has no third track and a reset of its own.
  StaticText2->Hide();
  Button5->Hide();
  StaticText1->SetCaption("Reset to JIS2 Defaults");
  StaticText1->SetTop(34);
  StaticText1->SetHeight(46);
  CheckBox4->SetEnabled(false);
  Label8->SetEnabled(false);
  Label3->SetEnabled(false);
  Button10->SetEnabled(false);
  Button11->SetEnabled(false);
  Edit3->SetEnabled(false);
}

// --- option boxes ---

void TForm1::CheckBox1Click(TObject*) {
  set_bit(blk(), Bit::altnum, CheckBox1->Checked());
}

namespace {

void enable_row(std::initializer_list<TControl*> row, bool on) {
  for (TControl* c : row) c->SetEnabled(on);
}

}  // namespace

void TForm1::CheckBox2Click(TObject*) {
  bool on = CheckBox2->Checked();
  set_bit(blk(), Bit::t1off, !on);
  enable_row({Label6, Button6, Button7, Edit1}, on);
}

void TForm1::CheckBox3Click(TObject*) {
  bool on = CheckBox3->Checked();
  set_bit(blk(), Bit::t2off, !on);
  enable_row({Label7, Button8, Button9, Edit2}, on);
}

void TForm1::CheckBox4Click(TObject*) {
  bool on = CheckBox4->Checked();
  set_bit(blk(), Bit::t3off, !on);
  enable_row({Label8, Button10, Button11, Edit3}, on);
}

void TForm1::CheckBox5Click(TObject*) {
  SettingsBlock& b = blk();
  if (CheckBox5->Checked()) {
    set_bit(b, Bit::lecodes, true);
    if (CheckBox2->Checked()) enable_row({Label6, Button7, Button6, Edit1}, true);
    if (CheckBox3->Checked()) enable_row({Label7, Button8, Button9, Edit2}, true);
    if (CheckBox4->Checked()) enable_row({Label8, Button10, Button11, Edit3}, true);
    enable_row({Label9, Button12, Button13, Edit4}, true);
    return;
  }
  set_bit(b, Bit::lecodes, false);
  enable_row({Label6, Button7, Button6, Edit1, Label7, Button8, Button9, Edit2, Label8, Button10,
              Button11, Edit3, Label9, Button12, Button13, Edit4},
             false);
  CheckBox8->SetChecked(false);
  set_bit(b, Bit::tabend, false);
  if (usb_or_vcom()) {
    set_bit(b, Bit::lrc, false);
    set_bit(b, Bit::addcr, false);
    CheckBox6->SetChecked(false);
    CheckBox7->SetChecked(false);
  }
}

void TForm1::CheckBox6Click(TObject*) {
  SettingsBlock& b = blk();
  if (CheckBox6->Checked()) {
    set_bit(b, Bit::lrc, true);
    set_bit(b, Bit::lecodes, true);
    CheckBox5->SetChecked(true);
  } else {
    set_bit(b, Bit::lrc, false);
  }
}

void TForm1::CheckBox7Click(TObject*) {
  SettingsBlock& b = blk();
  if (CheckBox7->Checked()) {
    set_bit(b, Bit::addcr, true);
    CheckBox5->SetChecked(true);
    set_bit(b, Bit::lecodes, true);
    CheckBox8->SetChecked(false);
    set_bit(b, Bit::tabend, false);
  } else {
    set_bit(b, Bit::addcr, false);
  }
}

void TForm1::CheckBox8Click(TObject*) {
  SettingsBlock& b = blk();
  if (CheckBox8->Checked()) {
    set_bit(b, Bit::tabend, true);
    CheckBox7->SetChecked(false);
    set_bit(b, Bit::addcr, false);
    CheckBox5->SetChecked(true);
    set_bit(b, Bit::lecodes, true);
  } else {
    set_bit(b, Bit::tabend, false);
  }
}

void TForm1::CheckBox9Click(TObject*) {
  if (CheckBox9->Checked()) {
    set_bit(blk(), Bit::nocr, false);
  } else {
    set_bit(blk(), Bit::nocr, true);
    CheckBox7->SetChecked(false);
  }
}

void TForm1::CheckBox10Click(TObject*) {
  set_bit(blk(), Bit::numlock, CheckBox10->Checked());
}

void TForm1::CheckBox11Click(TObject*) {
  set_bit(blk(), Bit::dosmode, CheckBox11->Checked());
}

void TForm1::CheckBox12Click(TObject*) {
  if (CheckBox12->Checked()) {
    set_bit(blk(), Bit::vendorcls, true);
    CheckBox11->SetChecked(false);
    // Unchecking a box that was never checked runs nothing: clear the bit ourselves, so
    // that a block with both bits (as a reader may report it) comes out with vendor
    // class alone.
    set_bit(blk(), Bit::dosmode, false);
    CheckBox11->SetEnabled(false);
  } else {
    set_bit(blk(), Bit::vendorcls, false);
    CheckBox11->SetEnabled(true);
  }
}

void TForm1::CHK_SendAsciiClick(TObject*) {
  set_bit(blk(), Bit::sendascii, CHK_SendAscii->Checked());
}

void TForm1::CheckBox13Click(TObject*) {
  // The interface switch is only recorded here; Save sends it. Whatever the user
  // clicked and answered, vcomif ends up as the box shows it, so that Save switches the
  // reader exactly when the box shows an interface other than the one it is on.
  if (g_shell.cif == 0) return;
  const bool checked = CheckBox13->Checked();
  if (checked && g_shell.usb != 0) {
    int answer = Application.MessageBox("MSR will change to Virtual COM port interface", kAppTitle,
                                        w32::kMbOkCancel);
    if (answer != w32::kIdOk) {
      CheckBox13->SetChecked(false);  // its handler records the USB interface
      return;
    }
  } else if (!checked && g_shell.vcom != 0) {
    int answer = Application.MessageBox("MSR will change to USB hid keyboard interface",
                                        "ZUR URU VED Ededodu", w32::kMbOkCancel);
    if (answer != w32::kIdOk) {
      CheckBox13->SetChecked(true);  // its handler records the virtual COM interface
      return;
    }
  }
  // Confirmed, or back to the interface the reader is on, which needs no question.
  set_bit(blk(), Bit::vcomif, checked);
}

// --- code edits and steppers ---

void TForm1::Edit1Change(TObject*) {
  store_code(blk().mr2, Edit1);
}
void TForm1::Edit2Change(TObject*) {
  store_code(blk().mr3, Edit2);
}
void TForm1::Edit3Change(TObject*) {
  store_code(blk().mr4, Edit3);
}
void TForm1::Edit4Change(TObject*) {
  store_code(blk().mr5, Edit4);
}

void TForm1::Button6Click(TObject*) {
  step_code(Edit1, +1);
}
void TForm1::Button7Click(TObject*) {
  step_code(Edit1, -1);
}
void TForm1::Button9Click(TObject*) {
  step_code(Edit2, +1);
}
void TForm1::Button8Click(TObject*) {
  step_code(Edit2, -1);
}
void TForm1::Button11Click(TObject*) {
  step_code(Edit3, +1);
}
void TForm1::Button10Click(TObject*) {
  step_code(Edit3, -1);
}
void TForm1::Button13Click(TObject*) {
  step_code(Edit4, +1);
}
void TForm1::Button12Click(TObject*) {
  step_code(Edit4, -1);
}

// --- the delay ---

void TForm1::Edit6Change(TObject* Sender) {
  if (Edit6->Text().empty()) return;  // still typing
  Edit6Exit(Sender);
}

void TForm1::Edit6Exit(TObject*) {
  std::int32_t v = StrToInt(Edit6->Text());
  if (v < 0) v = 32;
  if (v > 32) v = 0;
  blk().mr6 = static_cast<std::uint8_t>(v);
  Edit6->SetText(IntToStr(v));
}

void TForm1::Button17Click(TObject*) {
  step_delay(Edit6, +1);
}
void TForm1::Button16Click(TObject*) {
  step_delay(Edit6, -1);
}

// --- labels pass the focus on ---

void TForm1::Label1Click(TObject*) {
  Edit1->SetFocus();
}
void TForm1::Label2Click(TObject*) {
  Edit2->SetFocus();
}
void TForm1::Label3Click(TObject*) {
  Edit3->SetFocus();
}
void TForm1::Label4Click(TObject*) {
  Edit4->SetFocus();
}
void TForm1::Label5Click(TObject*) {
  Edit6->SetFocus();
}

// --- resets ---

void TForm1::Button4Click(TObject*) {
  reset_to_defaults(blk(), g_shell.jis != 0 ? DefaultSet::jis2 : DefaultSet::english,
                    g_shell.vcom != 0);
  ShowSettings();
}

void TForm1::Button5Click(TObject*) {
  reset_to_defaults(blk(), DefaultSet::non_english, g_shell.vcom != 0);
  ShowSettings();
}

void TForm1::StaticText1Click(TObject*) {
  Button4->SetFocus();
  Button4->Click();
}

void TForm1::StaticText2Click(TObject*) {
  Button5->SetFocus();
  Button5->Click();
}

// --- the bottom row and the languages ---

namespace {

// What the reader held when the window read it, kept in the history folder before Save
// writes over it, so that `msrprofile restore` can put it back. Keeping it never stands in
// the save's way: a failure only goes to the log.
void keep_what_was_read() {
  static bool kept = false;  // a save tried again keeps the same reading once
  if (kept) return;
  SettingsBlock read;
  std::string transport, port;
  if (g_shell.usb != 0) {
    if (!g_usb.base_read) return;
    load_base_block(read, g_usb.base_as_read);
    read.kq1 = g_usb.ext_as_read[0];
    read.kq2 = g_usb.ext_as_read[1];
    transport = "usb";
  } else {
    if (g_vcom.read_port == 0) return;
    load_base_block(read, g_vcom.record_as_read);
    read.kq1 = g_vcom.record_as_read[8];
    transport = "vcom";
    port = "COM" + std::to_string(g_vcom.read_port);
  }
  std::string path, why;
  kept = keep_history(window_record(read, transport, port, g_usb.ext_f != 0), &path, &why);
  if (!kept) log_write(" history not kept: %s \n", why.c_str());
}

}  // namespace

void TForm1::Button2Click(TObject*) {
  Button2->SetEnabled(false);
  os().Beep(1000, 100);
  if (g_shell.usb != 0 || g_shell.vcom != 0) {
    keep_what_was_read();
    const SaveOutcome o = g_shell.usb != 0 ? save_usb() : save_vcom();
    if (!o.ok()) {
      // The window stays with the user's edits, so that the reader can be plugged back
      // in and the save tried again, or the run cancelled.
      const std::string port = o.port > 0 ? "COM" + std::to_string(o.port) : std::string();
      std::string text = save_failure_text(o, port) + "\n\n";
      text += o.failure == SaveFailure::answers_differently
                  ? "Close this window and start again to see what the reader holds."
                  : "Your changes are still in this window: check the reader, then press "
                    "Save & Exit again, or Cancel & Exit.";
      Application.MessageBox(text.c_str(), kAppTitle, w32::kMbOk | w32::kMbIconWarning);
      Button2->SetEnabled(true);
      return;
    }
  } else if (blk().mr7 > 85) {
    g_transports.setps2();
  } else if (log_on()) {
    // Older PS/2 firmware can't take the block; only the log says so.
    log_write(" f/w ver, mr7=%u, didn't write to msr \n", static_cast<unsigned>(blk().mr7));
    os().Beep(1000, 100);
  }
  os().Beep(2000, 100);
  for (TControl* c : std::initializer_list<TControl*>{Button3, Button1, Button4, StaticText1,
                                                      Button5, StaticText2}) {
    c->SetEnabled(false);
  }
  Close();
}

void TForm1::Button3Click(TObject*) {
  Close();
}

void TForm1::Button1Click(TObject*) {
  // The system's own editor and the text beside the program, both by full path: Help
  // works whatever the current directory is (a shortcut without "Start in", a start
  // from another folder), and a notepad.exe planted in the current directory, which a
  // bare "notepad.exe" would run first, never is.
  const char* text = usb_or_vcom() ? "usbmsrhelp.txt" : "ps2msrhelp.txt";
  std::string editor_folder = windows_folder();
  if (editor_folder.empty()) editor_folder = system_folder();
  if (editor_folder.empty()) return;  // nowhere safe to start an editor from
  const std::string program = program_folder();
  const std::string help = program.empty() ? text : join_path(program, text);
  std::string command = "\"";
  command.append(join_path(editor_folder, "notepad.exe")).append("\" \"");
  command.append(help).append("\"");
  os().WinExec(command.c_str(), w32::kSwShow);
}

void TForm1::CMB_LanguageTypeChange(TObject*) {
  int i = CMB_LanguageType->ItemIndex();
  if (i >= 0 && i <= 7) set_lang(blk(), i);
}

void TForm1::CMB_LanguageForOSChange(TObject*) {
  set_bit(blk(), Bit::android, CMB_LanguageForOS->ItemIndex() != 0);
}

}  // namespace msr
